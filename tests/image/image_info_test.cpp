#include "image/image_info.h"

#include <gtest/gtest.h>

#include "tests/image/image_bytes.h"

namespace wxr {
namespace {

using test::BlockBytes;
using test::put_block;
using test::put_customer;

int parse(const std::vector<std::uint8_t>& bytes, ImageInfo& info) {
    return parse_image_info(bytes, static_cast<std::int32_t>(bytes.size()), info);
}

TEST(ImageChecksum, IsTheByteSumModulo65536) {
    EXPECT_EQ(image_checksum(std::vector<std::uint8_t>(257, 0xFF)), 0xFFFFu);
    EXPECT_EQ(image_checksum(std::vector<std::uint8_t>(258, 0xFF)), 0x00FEu);
    EXPECT_EQ(image_checksum({}), 0u);
}

TEST(ParseImageInfo, EmptyImageHasNoBlock) {
    ImageInfo info;
    info.size = 7;
    info.checksum = 7;
    EXPECT_EQ(parse_image_info({}, 0, info), 0);
    EXPECT_EQ(info.size, 0);
    EXPECT_EQ(info.checksum, 0u);
    EXPECT_EQ(info.version, kNoVersion);
    EXPECT_EQ(info.sensor, kNoSensor);
}

TEST(ParseImageInfo, ReadsEveryBlockByte) {
    std::vector<std::uint8_t> bytes(100);
    put_block(bytes, 40);
    ImageInfo info;
    ASSERT_EQ(parse(bytes, info), 1);
    EXPECT_EQ(info.size, 100);
    EXPECT_EQ(info.checksum, image_checksum(bytes));
    EXPECT_EQ(info.model, 16);
    EXPECT_EQ(info.version, 57);
    EXPECT_EQ(info.sensor, 3);
    EXPECT_EQ(info.info7, 0x77);
    EXPECT_EQ(info.info8, 0x88);
    EXPECT_EQ(info.info9, 0x99);
    EXPECT_EQ(info.info10, 0xAA);
    EXPECT_EQ(info.model_name, u"TQ16");
    EXPECT_EQ(info.sensor_name, u"LX300");
    EXPECT_EQ(info.customer, u"");
}

TEST(ParseImageInfo, WithoutBlockResetsOnlyWhatItOwns) {
    std::vector<std::uint8_t> bytes(64, 0x01);
    ImageInfo info;
    info.model = 9;
    info.info7 = 7;
    info.info8 = 8;
    info.model_name = u"keep";
    info.sensor_name = u"keep too";
    info.customer = u"stale";
    ASSERT_EQ(parse(bytes, info), 0);
    EXPECT_EQ(info.size, 64);
    EXPECT_EQ(info.checksum, 64u);
    EXPECT_EQ(info.model, 0);
    EXPECT_EQ(info.version, kNoVersion);
    EXPECT_EQ(info.sensor, kNoSensor);
    EXPECT_EQ(info.info8, 0);
    EXPECT_EQ(info.customer, u"");
    EXPECT_EQ(info.info7, 7);
    EXPECT_EQ(info.model_name, u"keep");
    EXPECT_EQ(info.sensor_name, u"keep too");
}

TEST(ParseImageInfo, MarkerMayStartAtLengthMinus5ButNotMinus4) {
    // The caller's buffer is longer than the image and zero past it.
    std::vector<std::uint8_t> buffer(80);
    const std::int32_t length = 60;
    put_block(buffer, length - 5);
    std::fill(buffer.begin() + length, buffer.end(), std::uint8_t{0});
    ImageInfo info;
    ASSERT_EQ(parse_image_info(buffer, length, info), 1);
    EXPECT_EQ(info.model, 16);
    EXPECT_EQ(info.version, 0);
    EXPECT_EQ(info.sensor, 0);

    std::vector<std::uint8_t> late(80);
    put_block(late, length - 4);
    EXPECT_EQ(parse_image_info(late, length, info), 0);
}

TEST(ParseImageInfo, MarkerAtZeroDoesNotCountButALaterOneDoes) {
    std::vector<std::uint8_t> bytes(50);
    put_block(bytes, 0);
    ImageInfo info;
    EXPECT_EQ(parse(bytes, info), 0);
    EXPECT_EQ(info.size, 50);
    EXPECT_EQ(info.checksum, image_checksum(bytes));

    put_block(bytes, 20, BlockBytes{.model = 5});
    ASSERT_EQ(parse(bytes, info), 1);
    EXPECT_EQ(info.model, 5);
}

TEST(ParseImageInfo, LowerOfTwoMarkersWins) {
    std::vector<std::uint8_t> bytes(120);
    put_block(bytes, 30, BlockBytes{.model = 1});
    put_block(bytes, 70, BlockBytes{.model = 2});
    ImageInfo info;
    ASSERT_EQ(parse(bytes, info), 1);
    EXPECT_EQ(info.model, 1);
}

TEST(ParseImageInfo, BlockAtTheBuffersEdgesReadsZerosOutside) {
    // Exactly sized buffers: a read outside them would be caught by ASan.
    std::vector<std::uint8_t> start(30);
    put_block(start, 1);
    ImageInfo info;
    ASSERT_EQ(parse(start, info), 1);
    EXPECT_EQ(info.model, 16);
    EXPECT_EQ(info.customer, u"");

    std::vector<std::uint8_t> end(40, 0x12);  // tag bytes everywhere in front
    put_block(end, 35);
    ASSERT_EQ(parse(end, info), 1);
    EXPECT_EQ(info.model, 16);
    EXPECT_EQ(info.version, 0);
    EXPECT_EQ(info.info10, 0);
    EXPECT_EQ(info.customer, u"\x12\x12\x12\x12\x12\x12\x12\x12\x12\x12\x12\x12\x12\x12\x12\x12\x0C\x12\x03\x05");
}

TEST(ParseImageInfo, LengthIsClampedToTheBuffer) {
    std::vector<std::uint8_t> bytes(30, 0x01);
    put_block(bytes, 20);
    ImageInfo info;
    EXPECT_EQ(parse_image_info(bytes, 1000, info), 1);
    EXPECT_EQ(info.size, 30);
    EXPECT_EQ(parse_image_info(bytes, -5, info), 0);
    EXPECT_EQ(info.size, 0);
    EXPECT_EQ(info.checksum, 0u);
    // A marker past the given length is not part of the image.
    EXPECT_EQ(parse_image_info(bytes, 22, info), 0);
}

TEST(ParseImageInfo, CustomerTextNeedsBothTagBytesAndAFirstCharacter) {
    std::vector<std::uint8_t> bytes(100);
    put_block(bytes, 50);
    put_customer(bytes, 50, "Demo");
    ImageInfo info;
    ASSERT_EQ(parse(bytes, info), 1);
    EXPECT_EQ(info.customer, u"Demo");

    for (const std::size_t tag : {30u, 31u}) {
        auto one_tag = bytes;
        one_tag[tag] = 0x11;
        parse(one_tag, info);
        EXPECT_EQ(info.customer, u"") << "tag byte " << tag;
    }
    auto no_text = bytes;
    no_text[34] = 0;
    parse(no_text, info);
    EXPECT_EQ(info.customer, u"");
    EXPECT_EQ(format_image_info(info).find(u"Customer"), std::u16string::npos);
}

TEST(ParseImageInfo, FullCustomerTextRunsIntoTheMarker) {
    std::vector<std::uint8_t> bytes(100);
    put_block(bytes, 50);
    put_customer(bytes, 50, "ABCDEFGHIJKLMNOP");
    ImageInfo info;
    ASSERT_EQ(parse(bytes, info), 1);
    EXPECT_EQ(info.customer, u"ABCDEFGHIJKLMNOP\x0C\x12\x03\x05");
}

TEST(NameTables, RowsAndBytesWithoutRow) {
    EXPECT_EQ(model_name_of(0), u"TQ00");
    EXPECT_EQ(model_name_of(39), u"TQ39");
    EXPECT_EQ(model_name_of(40), u"");
    EXPECT_EQ(sensor_name_of(0), u"");
    EXPECT_EQ(sensor_name_of(7), u"LX400IR");
    EXPECT_EQ(sensor_name_of(8), u"");
    EXPECT_EQ(sensor_name_of(255), u"");
}

TEST(ParseImageInfo, ByteWithoutRowKeepsTheByteAndEmptiesTheName) {
    std::vector<std::uint8_t> bytes(40);
    put_block(bytes, 10, BlockBytes{.model = 40, .sensor = 8});
    ImageInfo info;
    info.model_name = u"old";
    info.sensor_name = u"old";
    ASSERT_EQ(parse(bytes, info), 1);
    EXPECT_EQ(info.model, 40);
    EXPECT_EQ(info.sensor, 8);
    EXPECT_EQ(info.model_name, u"");
    EXPECT_EQ(info.sensor_name, u"");
}

TEST(FormatImageInfo, WorkedExample) {
    ImageInfo info;
    info.size = 38'648;
    info.model_name = u"TQ16";
    info.version = 57;
    info.checksum = 0x7DF8;
    info.sensor_name = u"LX300";
    info.customer = u"Demo";
    EXPECT_EQ(format_image_info(info),
              u"Customer: Demo\nSize: 38648 bytes\r\nModel: TQ16\r\nVer.: 57\r\nChecksum: 7DF8\r\nSensor: LX300");
}

TEST(FormatImageInfo, NoCustomerEmptyNamesHighVersionPaddedChecksum) {
    ImageInfo info;
    info.size = 12;
    info.version = 255;
    info.checksum = 0xFE;
    EXPECT_EQ(format_image_info(info),
              u"Size: 12 bytes\r\nModel: \r\nVer.: 255\r\nChecksum: 00FE\r\nSensor: ");
}

}  // namespace
}  // namespace wxr
