#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "image/image_store.h"
#include "tests/image/image_bytes.h"

namespace wxr {
namespace {

namespace fs = std::filesystem;

class ImageFile : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("wxr_image_" + std::string(test->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::u16string write(const std::u16string& name, const std::vector<std::uint8_t>& bytes) {
        const fs::path path = dir_ / fs::path(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.u16string();
    }
    std::u16string path_of(const std::u16string& name) const { return (dir_ / fs::path(name)).u16string(); }

    fs::path dir_;
};

TEST_F(ImageFile, MissingOrEmptyFileGivesZeroAndSizeZero) {
    ImageInfo info;
    info.size = 99;
    info.model = 9;
    EXPECT_EQ(read_image_file_info(path_of(u"missing.bin"), info), 0);
    EXPECT_EQ(info.size, 0);
    EXPECT_EQ(info.model, 9);  // nothing else touched

    info.size = 99;
    EXPECT_EQ(read_image_file_info(write(u"empty.bin", {}), info), 0);
    EXPECT_EQ(info.size, 0);

    EXPECT_EQ(read_image_file_info(dir_.u16string(), info), 0);  // a folder
    EXPECT_EQ(read_image_file_info(dir_.u16string() + u"/bad\xD800.bin", info), 0);  // lone surrogate
}

TEST_F(ImageFile, ValidFileUnderAWideName) {
    std::vector<std::uint8_t> bytes(500, 0x5A);
    test::put_block(bytes, 300);
    test::put_customer(bytes, 300, "Acme");
    ImageInfo info;
    ASSERT_EQ(read_image_file_info(write(u"\u56FA\u4EF6 \u00E9.bin", bytes), info), 1);
    EXPECT_EQ(info.size, 500);
    EXPECT_EQ(info.checksum, image_checksum(bytes));
    EXPECT_EQ(info.model, 16);
    EXPECT_EQ(info.customer, u"Acme");
}

TEST_F(ImageFile, FileWithoutBlockKeepsSizeAndChecksum) {
    ImageInfo info;
    EXPECT_EQ(read_image_file_info(write(u"plain.bin", std::vector<std::uint8_t>(258, 0xFF)), info), 0);
    EXPECT_EQ(info.size, 258);
    EXPECT_EQ(info.checksum, 0x00FEu);
    EXPECT_EQ(info.version, kNoVersion);
}

TEST_F(ImageFile, FileFillingTheBufferIsReadWhole) {
    std::vector<std::uint8_t> bytes(kFileBufferCapacity, 0x01);
    test::put_block(bytes, bytes.size() - 5);
    ImageInfo info;
    ASSERT_EQ(read_image_file_info(write(u"full.bin", bytes), info), 1);
    EXPECT_EQ(info.size, kFileBufferCapacity);
    EXPECT_EQ(info.checksum, image_checksum(bytes));
    EXPECT_EQ(info.model, 16);
}

TEST_F(ImageFile, LongerFileIsRefusedWithoutWritingPastTheCapacity) {
    constexpr std::uint8_t kSentinel = 0xAA;
    std::vector<std::uint8_t> buffer(200, kSentinel);
    const auto longer = write(u"long.bin", std::vector<std::uint8_t>(101, 0x01));
    EXPECT_EQ(read_file_to_buffer(buffer, 100, longer), 0);
    EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + 100, 0), 100);
    EXPECT_EQ(std::count(buffer.begin() + 100, buffer.end(), kSentinel), 100);

    const auto fitting = write(u"fits.bin", std::vector<std::uint8_t>(100, 0x01));
    EXPECT_EQ(read_file_to_buffer(buffer, 100, fitting), 100);
    EXPECT_EQ(std::count(buffer.begin() + 100, buffer.end(), kSentinel), 100);

    // A capacity beyond the buffer counts only as far as the buffer.
    std::vector<std::uint8_t> small(50);
    EXPECT_EQ(read_file_to_buffer(small, 100, write(u"sixty.bin", std::vector<std::uint8_t>(60, 1))), 0);

    ImageInfo info;
    std::vector<std::uint8_t> too_big(kFileBufferCapacity + 1);
    test::put_block(too_big, 10);
    EXPECT_EQ(read_image_file_info(write(u"too_big.bin", too_big), info), 0);
    EXPECT_EQ(info.size, 0);
}

#ifdef __linux__
TEST_F(ImageFile, FailureAfterOpenThrowsFileError) {
    // Opens like a file but can be neither measured nor read.
    const std::u16string mem = u"/proc/self/mem";
    if (!std::ifstream(fs::path(mem), std::ios::binary).is_open()) {
        GTEST_SKIP() << "no /proc/self/mem here";
    }
    std::vector<std::uint8_t> buffer(64);
    try {
        read_file_to_buffer(buffer, 64, mem);
        FAIL() << "no FileError";
    } catch (const FileError& error) {
        EXPECT_EQ(error.file_name(), mem);
        EXPECT_TRUE(error.cause());
        EXPECT_NE(std::string(error.what()).find("error reading"), std::string::npos);
    }
}
#endif

#ifndef _WIN32
TEST_F(ImageFile, NameThatIsNoUtf8OpensAsItStands) {
    std::vector<std::uint8_t> bytes(300, 0x11);
    test::put_block(bytes, 200);
    const std::string name = (dir_ / "fw_").string() + "\xff.bin";
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 300);
    ImageInfo info;
    EXPECT_EQ(read_image_file_info(file_path_from_utf8(name), info), 1);
    EXPECT_EQ(info.size, 300);
}

// A FIFO is no image, also when it replaces the file between the name's
// lookup and the open: nothing may wait for a writer that never comes.
TEST_F(ImageFile, FifoSwappedInForTheFileNeverBlocks) {
    const fs::path target = dir_ / "swap.bin", file = dir_ / "file.bin", fifo = dir_ / "fifo";
    std::vector<std::uint8_t> bytes(300, 0x11);
    test::put_block(bytes, 200);
    write(u"file.bin", bytes);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ImageInfo info;
    EXPECT_EQ(read_image_file_info(fifo, info), 0);

    constexpr int kReads = 20000;  // checking the name before the open hung about once in 3,000
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        std::error_code ignored;
        while (!done.load()) {
            for (const fs::path* staged : {&file, &fifo}) {
                fs::rename(*staged, target, ignored);
                fs::rename(target, *staged, ignored);
            }
        }
    });
    int found = 0;
    for (int i = 0; i < kReads; ++i) found += read_image_file_info(target, info);
    done.store(true);
    swapper.join();
    EXPECT_LE(found, kReads);  // what counts is that every read returned
}
#endif

#ifdef _WIN32
TEST_F(ImageFile, AFileThatAnotherProgramHoldsOpenCannotBeOpened) {
    std::vector<std::uint8_t> bytes(64);
    test::put_block(bytes, 10);
    const std::u16string path = write(u"held.bin", bytes);
    const std::wstring wide(path.begin(), path.end());
    // Held the way an editor holds a file it has open, sharing read and write.
    HANDLE held = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ImageInfo info;
    EXPECT_EQ(read_image_file_info(path, info), 0);
    CloseHandle(held);
    EXPECT_EQ(read_image_file_info(path, info), 1);
}
#endif

}  // namespace
}  // namespace wxr
