#include "image/ansi_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "image/image_info.h"
#include "tests/image/image_bytes.h"

namespace wxr {
namespace {

TEST(AnsiText, AsciiInAnyCharacterSet) {
    EXPECT_EQ(ansi_to_utf16("Demo"), u"Demo");
    EXPECT_EQ(ansi_to_utf16(""), u"");
    EXPECT_EQ(ansi_to_utf16(std::string_view("ab\0cd", 5)), u"ab");
}

#ifndef _WIN32
// The process locale stands for the ANSI code page here.
class Utf8Locale : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = std::setlocale(LC_CTYPE, nullptr);
        if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
            GTEST_SKIP() << "no C.UTF-8 locale";
        }
    }
    void TearDown() override { std::setlocale(LC_CTYPE, saved_.c_str()); }

private:
    std::string saved_;
};

TEST_F(Utf8Locale, MultibyteAndSupplementaryCharacters) {
    EXPECT_EQ(ansi_to_utf16("\xC3\xA9t\xC3\xA9"), u"\u00E9t\u00E9");
    EXPECT_EQ(ansi_to_utf16("\xF0\x9F\x98\x80"), u"\U0001F600");
}

TEST_F(Utf8Locale, InvalidOrCutSequencesFail) {
    EXPECT_EQ(ansi_to_utf16("a\xFF"), std::nullopt);
    EXPECT_EQ(ansi_to_utf16("a\xC3"), std::nullopt);
}

TEST_F(Utf8Locale, UnconvertibleCustomerTextIsLeftEmpty) {
    std::vector<std::uint8_t> bytes(60);
    test::put_block(bytes, 30);
    test::put_customer(bytes, 30, "Bad\xFF");
    ImageInfo info;
    EXPECT_EQ(parse_image_info(bytes, 60, info), 1);
    EXPECT_EQ(info.customer, u"");
    test::put_customer(bytes, 30, "Caf\xC3\xA9");
    parse_image_info(bytes, 60, info);
    EXPECT_EQ(info.customer, u"Caf\u00E9");
}
#endif

}  // namespace
}  // namespace wxr
