// Claims on the kernel's own flock, between two platforms as between two
// programs (flock belongs to the open file); the nodes are plain files here,
// the virtual machine test has real ones, and two users.
#include <gtest/gtest.h>

#include <fstream>

#include "device/channel.h"
#include "device/linux/hidraw_platform.h"
#include "tests/linux/temp_dir.h"

namespace wxr::hidraw {
namespace {

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
        {1, Act::Claim, false, 1},  // refused, and counted for "not found" to say why
        {1, Act::Open, false, 1},  // a probe never reaches a unit being written
        {0, Act::Open},            // the claimer's own requests go through
        {0, Act::Claim, false},    // one run per unit in a program too
        {0, Act::Close},
        {0, Act::Unclaim},
        {1, Act::Open},            // a probe: others may probe too, none may claim
        {0, Act::Claim, false, 1},
        {1, Act::Close},
        // A descriptor kept between requests excludes nobody while idle, and
        // is not lent out while another program has the unit.
        {1, Act::Hold},
        {1, Act::Open},
        {1, Act::Close},
        {0, Act::Claim},
        {1, Act::Open, false, 1},
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

}  // namespace
}  // namespace wxr::hidraw
