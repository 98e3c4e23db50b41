// Claims on the kernel's own flock, between two platforms as between two
// programs (flock belongs to the open file), and across users; the nodes
// are plain files here, the virtual machine test has real ones.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "device/channel.h"
#include "device/linux/hidraw_platform.h"
#include "tests/linux/temp_dir.h"

namespace wxr::hidraw {
namespace {

constexpr uid_t kNobody = 65534;

enum class Act { Claim, Unclaim, Open, Close, Hold, Release };

struct Step {
    int who;  // platform 0 or 1
    Act act;
    bool ok = true;                 // what claim or open answers
    std::size_t in_use = 0;         // the platform's count afterwards
};

TEST(UnitClaim, ExcludesAnotherProgramsClaimsAndOpens) {
    testing::TempDir dir;
    const std::string node = (dir.path() / "hidraw0").string();
    std::ofstream(node) << "";
    HidrawPlatform platforms[] = {HidrawPlatform(std::make_unique<SystemHidrawIo>(), dir.path().string()),
                                  HidrawPlatform(std::make_unique<SystemHidrawIo>(), dir.path().string())};
    HidHandle handles[2] = {kNoHandle, kNoHandle};
    const Step steps[] = {
        {0, Act::Claim},
        {1, Act::Claim, false},
        {1, Act::Open, false, 1},  // a probe never reaches a unit being written
        {0, Act::Open},            // the claimer's own requests go through
        {0, Act::Close},
        {0, Act::Claim, false},    // one run per unit in a program too
        {0, Act::Unclaim},
        {1, Act::Open},            // a probe: others may probe too, none may claim
        {0, Act::Open},
        {0, Act::Close},
        {0, Act::Claim, false},
        {1, Act::Close},
        // A descriptor a program keeps between its requests excludes nobody
        // while idle: its own claim, nor another's.
        {1, Act::Hold},
        {1, Act::Open},
        {1, Act::Close},
        {1, Act::Claim},
        {1, Act::Unclaim},
        {0, Act::Claim},
        {1, Act::Open, false, 1},  // nor is it lent out while another has the unit
        {0, Act::Unclaim},
        {1, Act::Open},
        {1, Act::Close},
        {1, Act::Release},
    };
    int index = 0;
    for (const Step& step : steps) {
        HidrawPlatform& p = platforms[step.who];
        p.enumerate();  // counts from here
        bool ok = true;
        switch (step.act) {
            case Act::Claim: ok = p.claim(from_utf8(node)); break;
            case Act::Unclaim: p.unclaim(from_utf8(node)); break;
            case Act::Open:
                handles[step.who] = p.open(from_utf8(node));
                ok = handles[step.who] != kNoHandle;
                break;
            case Act::Close: p.close(handles[step.who]); break;
            case Act::Hold: p.hold(from_utf8(node)); break;
            case Act::Release: p.release(from_utf8(node)); break;
        }
        EXPECT_EQ(ok, step.ok) << "step " << index;
        EXPECT_EQ(p.interfaces_in_use(), step.in_use) << "step " << index;
        ++index;
    }
}

// A station runs as a system user, the dialog as the desktop's: the lock is
// the node's, whoever opens it.
TEST(UnitClaim, HoldsAcrossUsers) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    testing::TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    const std::string node = (dir.path() / "hidraw0").string();
    std::ofstream(node) << "";
    ::chmod(node.c_str(), 0666);
    HidrawPlatform mine(std::make_unique<SystemHidrawIo>(), dir.path().string());
    ASSERT_TRUE(mine.claim(from_utf8(node)));
    // The other user's program: 1 when its claim and its probe are refused.
    auto other_user_refused = [&] {
        pid_t pid = ::fork();
        if (pid == 0) {
            if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(3);
            HidrawPlatform theirs(std::make_unique<SystemHidrawIo>(), dir.path().string());
            const bool refused = !theirs.claim(from_utf8(node)) && theirs.open(from_utf8(node)) == kNoHandle;
            ::_exit(refused ? 1 : 0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(other_user_refused(), 1);
    mine.unclaim(from_utf8(node));
    EXPECT_EQ(other_user_refused(), 0);
}

}  // namespace
}  // namespace wxr::hidraw
