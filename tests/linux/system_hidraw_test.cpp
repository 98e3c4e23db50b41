// The real system calls, on files that are not hidraw nodes: the host has no
// HID device to offer (the virtual machine test covers real nodes).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "device/channel.h"
#include "device/linux/hidraw_platform.h"
#include "tests/linux/temp_dir.h"

namespace wxr::hidraw {
namespace {

namespace fs = std::filesystem;

// The uid a root test drops to, so that file permissions apply.
constexpr uid_t kNobody = 65534;

TEST(SystemHidrawIo, ListsTheClassDirectory) {
    testing::TempDir dir;
    fs::create_directory(dir.path() / "hidraw3");
    fs::create_directory(dir.path() / "hidraw0");
    SystemHidrawIo io(dir.path().string());
    std::vector<std::string> names;
    ASSERT_EQ(io.list_nodes(names), 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"hidraw0", "hidraw3"}));

    // No hidraw class at all (driver not loaded): nothing is present.
    SystemHidrawIo missing((dir.path() / "absent").string());
    EXPECT_EQ(missing.list_nodes(names), 0);
    EXPECT_TRUE(names.empty());
}

TEST(SystemHidrawIo, RequestsOnAPlainFileFail) {
    testing::TempDir dir;
    std::ofstream(dir.path() / "hidraw0") << "not a device";
    SystemHidrawIo io;
    EXPECT_EQ(io.open((dir.path() / "nothing").string(), O_RDWR), -ENOENT);
    int fd = io.open((dir.path() / "hidraw0").string(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<std::uint8_t> descriptor;
    EXPECT_EQ(io.report_descriptor(fd, descriptor), -ENOTTY);
    std::uint8_t report[21] = {5};
    EXPECT_EQ(io.get_feature(fd, report), -ENOTTY);
    EXPECT_EQ(io.set_feature(fd, report), -ENOTTY);
    RawInfo info;
    EXPECT_EQ(io.raw_info(fd, info), -ENOTTY);
    std::string text;
    for (RawText which : {RawText::Phys, RawText::Uniq}) EXPECT_EQ(io.raw_text(fd, which, text), -ENOTTY);
    EXPECT_EQ(io.close(fd), 0);
}

TEST(SystemHidrawIo, PlatformFailsCleanlyOnAPlainFile) {
    testing::TempDir dir;
    fs::create_directory(dir.path() / "class");
    fs::create_directory(dir.path() / "class" / "hidraw0");
    std::ofstream(dir.path() / "hidraw0") << "not a device";
    HidrawPlatform platform(std::make_unique<SystemHidrawIo>((dir.path() / "class").string()),
                            dir.path().string());
    auto paths = platform.enumerate();
    ASSERT_TRUE(paths);
    ASSERT_EQ(paths->size(), 1u);
    HidHandle h = platform.open(paths->front());
    ASSERT_NE(h, kNoHandle);
    HidCapabilities caps;
    EXPECT_FALSE(platform.capabilities(h, caps));
    std::uint8_t report[32] = {5};
    EXPECT_FALSE(platform.set_feature(h, report));
    platform.close(h);
    EXPECT_EQ(platform.permission_denied_count(), 0u);
}

// A node the user may not open is counted, so the user can be told why
// nothing was found. Root ignores file modes, so a root run checks as nobody.
TEST(SystemHidrawIo, NodesTheUserMayNotOpenAreCounted) {
    testing::TempDir dir;
    fs::create_directory(dir.path() / "class");
    for (const char* name : {"hidraw0", "hidraw1"}) {
        fs::create_directory(dir.path() / "class" / name);
        std::ofstream(dir.path() / name) << "";
        ASSERT_EQ(::chmod((dir.path() / name).c_str(), 0), 0);
    }
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(10);  // never outlive a stuck test
        if (::geteuid() == 0 && ::setuid(kNobody) != 0) ::_exit(90);
        HidrawPlatform platform(std::make_unique<SystemHidrawIo>((dir.path() / "class").string()),
                                dir.path().string());
        auto paths = platform.enumerate();
        if (!paths || paths->size() != 2) ::_exit(91);
        for (const auto& path : *paths) {
            if (platform.open(path) != kNoHandle) ::_exit(92);
        }
        ::_exit(static_cast<int>(platform.permission_denied_count()));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
}  // namespace wxr::hidraw
