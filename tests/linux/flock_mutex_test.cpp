#include "device/linux/flock_mutex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/linux/temp_dir.h"

namespace wxr::hidraw {
namespace {

const std::u16string kName = u"device list access mutex";

// Whether another open file could take the lock right now: the lock file
// as an unrelated process sees it.
bool lock_is_free(const std::filesystem::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

int wait_for(pid_t child) {
    int status = 0;
    if (::waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class FlockMutexTest : public ::testing::Test {
protected:
    testing::TempDir dir;
    FlockMutexFactory factory{{dir.path().string()}};
    std::filesystem::path file = dir.path() / FlockMutexFactory::lock_file_name(kName);
};

TEST(FlockMutexName, IsAPlainFileNameThatKeepsNamesApart) {
    std::string name = FlockMutexFactory::lock_file_name(kName);
    EXPECT_EQ(name.rfind("wxr7305-device_list_access_mutex-", 0), 0u) << name;
    EXPECT_EQ(name, FlockMutexFactory::lock_file_name(kName));
    EXPECT_NE(name, FlockMutexFactory::lock_file_name(u"device_list_access_mutex"));
    std::string odd = FlockMutexFactory::lock_file_name(u"../../etc/\u4e2d" + std::u16string(300, u'x'));
    EXPECT_EQ(odd.find('/'), std::string::npos);
    EXPECT_LT(odd.size(), 255u);
}

TEST_F(FlockMutexTest, HoldsTheFileLockWhileLocked) {
    auto mutex = factory.create(kName);
    ASSERT_TRUE(mutex);
    ASSERT_TRUE(mutex->lock());
    EXPECT_FALSE(lock_is_free(file));
    mutex->unlock();
    EXPECT_TRUE(lock_is_free(file));
}

TEST_F(FlockMutexTest, ThreadsSharingOneMutexExcludeEachOther) {
    auto mutex = factory.create(kName);
    ASSERT_TRUE(mutex);
    constexpr int kThreads = 4;
    constexpr int kRounds = 500;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                if (!mutex->lock()) return;
                if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
                ++counter;
                inside.fetch_sub(1);
                mutex->unlock();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(counter, kThreads * kRounds);
}

TEST_F(FlockMutexTest, AnotherProcessWaitsForTheHolder) {
    auto mutex = factory.create(kName);
    ASSERT_TRUE(mutex && mutex->lock());
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(10);
        FlockMutexFactory own({dir.path().string()});
        auto theirs = own.create(kName);
        if (!theirs) ::_exit(2);
        // The parent still holds the lock: a try must fail.
        if (lock_is_free(file)) ::_exit(3);
        char byte = 1;
        if (::write(ready[1], &byte, 1) != 1) ::_exit(4);
        if (!theirs->lock()) ::_exit(5);
        theirs->unlock();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    mutex->unlock();
    EXPECT_EQ(wait_for(child), 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST_F(FlockMutexTest, AHolderThatDiesReleasesTheLock) {
    int locked[2];
    ASSERT_EQ(::pipe(locked), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(10);
        auto theirs = FlockMutexFactory({dir.path().string()}).create(kName);
        if (!theirs || !theirs->lock()) ::_exit(2);
        char byte = 1;
        if (::write(locked[1], &byte, 1) != 1) ::_exit(3);
        ::pause();  // killed while holding the lock
        ::_exit(4);
    }
    char byte = 0;
    ASSERT_EQ(::read(locked[0], &byte, 1), 1);
    EXPECT_FALSE(lock_is_free(file));
    ::kill(child, SIGKILL);
    EXPECT_EQ(wait_for(child), 128 + SIGKILL);
    EXPECT_TRUE(lock_is_free(file));
    auto mutex = factory.create(kName);
    ASSERT_TRUE(mutex && mutex->lock());
    mutex->unlock();
    ::close(locked[0]);
    ::close(locked[1]);
}

TEST(FlockMutexDirs, FallsBackToTheNextDirectoryAndFailsWhenNoneWorks) {
    testing::TempDir dir;
    FlockMutexFactory fallback({"/nonexistent/dir", dir.path().string()});
    auto mutex = fallback.create(kName);
    ASSERT_TRUE(mutex);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / FlockMutexFactory::lock_file_name(kName)));
    FlockMutexFactory none({"/nonexistent/dir"});
    EXPECT_FALSE(none.create(kName));
}

// The open of the lock file must not wait for a FIFO's writer: the lock promises a bounded wait.
TEST(FlockMutexDirs, AFifoInPlaceOfTheLockFileIsRefusedAtOnce) {
    testing::TempDir fifo_dir, fallback;
    ASSERT_EQ(::mkfifo((fifo_dir.path() / FlockMutexFactory::lock_file_name(kName)).c_str(), 0600), 0);
    EXPECT_FALSE(FlockMutexFactory({fifo_dir.path().string()}).create(kName));
    EXPECT_TRUE(FlockMutexFactory({fifo_dir.path().string(), fallback.path().string()}).create(kName));
}

mode_t mode_of(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The lock lives only where no other user can create or hold it.
TEST(FlockMutexDirs, OnlyADirectoryOfThisUsersOwnIsUsed) {
    testing::TempDir base;
    const auto fresh = base.path() / "fresh", open = base.path() / "open", link = base.path() / "link",
               foreign = base.path() / "foreign";
    std::filesystem::create_directory(open);
    ::chmod(open.c_str(), 0777);
    std::filesystem::create_directory_symlink(base.path(), link);
    std::filesystem::create_directory(foreign);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    }

    for (const auto& refused : {open, link, root ? foreign : open}) {
        EXPECT_FALSE(FlockMutexFactory({refused.string()}).create(kName)) << refused;
    }
    ASSERT_TRUE(FlockMutexFactory({open.string(), fresh.string()}).create(kName));
    EXPECT_EQ(mode_of(fresh), 0700u);
    EXPECT_EQ(mode_of(fresh / FlockMutexFactory::lock_file_name(kName)), 0600u);
    EXPECT_FALSE(std::filesystem::exists(open / FlockMutexFactory::lock_file_name(kName)));

    if (!root) GTEST_SKIP() << "a lock file of another user needs root to make";
    ASSERT_EQ(::chown((fresh / FlockMutexFactory::lock_file_name(kName)).c_str(), 65534, 65534), 0);
    EXPECT_FALSE(FlockMutexFactory({fresh.string()}).create(kName));
}

TEST_F(FlockMutexTest, AHolderThatNeverLetsGoBoundsTheWait) {
    FlockMutexFactory impatient({dir.path().string()}, std::chrono::milliseconds(50));
    auto mutex = impatient.create(kName);
    ASSERT_TRUE(mutex);
    int holder = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);  // another open file, as another process has
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_FALSE(mutex->lock());
    ::close(holder);
    ASSERT_TRUE(mutex->lock());  // and the threads' own lock was given back
    mutex->unlock();
}

}  // namespace
}  // namespace wxr::hidraw
