// udev-rule (Linux): the file name per model, the ids, the text never empty,
// and --install replacing the file in one step or leaving it alone.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/cli/udev_install.h"
#include "app/cli/udev_rule.h"
#include "tests/cli/cli_process.h"

namespace wxr::cli {
namespace {

namespace fs = std::filesystem;

TEST(UdevRule, FileNameAndIds) {
    const std::pair<int, std::string> names[] = {
        {16, "70-wxr7305-tq16.rules"}, {0, "70-wxr7305-tq00.rules"}, {40, "70-wxr7305-model40.rules"}};
    for (const auto& [model, name] : names) EXPECT_EQ(udev_rule_file_name(static_cast<std::uint8_t>(model)), name);
    // Never the package's name, or the two would replace each other.
    EXPECT_EQ(udev_local_rule_file_name(16), "70-wxr7305-tq16-local.rules");
    EXPECT_EQ(udev_local_rule_file_name(40), "70-wxr7305-model40-local.rules");

    const std::pair<std::string, std::optional<UsbIds>> ids[] = {
        {"", UsbIds{}},
        {"16C0:05dF,1209:7305,1209:7305", UsbIds{{0x1209, 0x7305}, {0x16C0, 0x05DF}}},
        {"1209", std::nullopt},
        {"1209:73051", std::nullopt},
        {"12g9:7305", std::nullopt},
    };
    for (const auto& [text, parsed] : ids) EXPECT_EQ(parse_usb_ids(text), parsed) << text;
}

TEST(UdevRule, NamesKnownAndFoundIdsAndNeverPrintsNothing) {
    const UsbIds known{{0x1209, 0x7305}}, found{{0x16c0, 0x05df}}, none;
    const std::string line_known = "ATTRS{idVendor}==\"1209\", ATTRS{idProduct}==\"7305\"";
    const std::string line_found = "ATTRS{idVendor}==\"16c0\", ATTRS{idProduct}==\"05df\"";
    struct Case {
        const UsbIds& known;
        const UsbIds& found;
        bool install;
        std::optional<int> code;
        std::vector<std::string> printed;  // on stdout, or handed to the installer
        std::string told;
    } cases[] = {
        {known, none, false, 0, {"# 70-wxr7305-tq17-local.rules: lets", line_known}, "No device found: the rule names the 1 USB id"},
        {known, found, false, 0, {line_known, line_found}, "Save this as /etc/udev/rules.d/70-wxr7305-tq17-local.rules"},
        {none, found, true, 7, {line_found}, ""},
        {none, none, false, std::nullopt, {"# 70-wxr7305-tq17-local.rules: no rule"}, ""},
        {none, none, true, std::nullopt, {}, ""},
    };
    for (const Case& c : cases) {
        std::ostringstream out, err;
        std::string installed;
        RuleInstaller install = [&](const std::string& name, const std::string& text) {
            installed = name + "\n" + text;
            return 7;
        };
        auto code = emit_udev_rule(17, c.known, c.found, c.install ? &install : nullptr, out, err);
        EXPECT_EQ(code, c.code);
        const std::string printed = c.install ? installed : out.str();
        if (c.install) {
            EXPECT_EQ(out.str(), "");
        }
        EXPECT_EQ(printed.empty(), c.printed.empty()) << printed;
        for (const auto& part : c.printed) EXPECT_TRUE(contains(printed, part)) << printed;
        EXPECT_TRUE(contains(err.str(), c.told)) << err.str();
    }
}

std::size_t entries(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// The old file stays on any failure; a failed reload leaves the new rule in place.
TEST(UdevInstall, ReplacesTheFileInOneStepOrLeavesItAlone) {
    constexpr char kName[] = "70-x.rules";
    enum class Setup { Empty, OldFile, NoFolder, FolderInTheWay, DiskFull, NoReload };
    struct Case {
        Setup setup;
        int code;
        std::string left;  // the target's text afterwards ("" when none, or a folder)
        std::string told;
    } cases[] = {
        {Setup::Empty, 0, "rule\n", "Wrote "},
        {Setup::OldFile, 0, "rule\n", "udev has read it again"},
        {Setup::NoFolder, 1, "", "is left as it was"},
        {Setup::FolderInTheWay, 1, "", "is left as it was"},
        {Setup::DiskFull, 1, "old\n", "is left as it was"},
        {Setup::NoReload, 1, "rule\n", "udevadm failed: the rule applies once the device is plugged in again"},
    };
    for (const Case& c : cases) {
        const fs::path dir = fs::temp_directory_path() / "wxr7305_udev_test";
        fs::remove_all(dir);
        fs::create_directories(dir);
        const fs::path target = dir / kName;
        if (c.setup == Setup::OldFile || c.setup == Setup::DiskFull) std::ofstream(target) << "old\n";
        if (c.setup == Setup::FolderInTheWay) fs::create_directory(target);
        const fs::path folder = c.setup == Setup::NoFolder ? dir / "missing" : dir;
        // Past 4 bytes writes fail with EFBIG, as on a full disk.
        struct rlimit saved {};
        getrlimit(RLIMIT_FSIZE, &saved);
        auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        if (c.setup == Setup::DiskFull) small.rlim_cur = 4;
        setrlimit(RLIMIT_FSIZE, &small);
        std::ostringstream out, err;
        int code = install_udev_rule(folder.string(), kName, "rule\n",
                                     [&] { return c.setup == Setup::NoReload ? Failure{"udevadm failed"} : Failure{}; },
                                     out, err);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, old_handler);

        const int setup = static_cast<int>(c.setup);
        EXPECT_EQ(code, c.code) << setup;
        EXPECT_EQ(fs::is_regular_file(target) ? file_text(target) : "", c.left) << setup;
        EXPECT_TRUE(contains(out.str() + err.str(), c.told)) << setup << out.str() << err.str();
        EXPECT_EQ(entries(dir), c.setup == Setup::NoFolder ? 0u : 1u) << setup << ": a temporary file was left";
        if (c.code == 0) {
            EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms(0644)) << setup;
        }
        fs::remove_all(dir);
    }
}

// An earlier --install's file under the package's name hid the package's rule
// (and the station's group): it goes. The administrator's own file stays, with a note.
TEST(UdevInstall, RetiresOnlyItsOwnOldFileUnderThePackagesName) {
    const std::string old_own = udev_rule_text(udev_rule_file_name(16), {{0x1209, 0x7305}});
    const std::string admins = "KERNEL==\"hidraw*\", GROUP=\"plugdev\"\n";
    struct Case {
        std::optional<std::string> present;
        bool stays;
        std::string told;
    } cases[] = {{std::nullopt, false, ""}, {old_own, false, "Removed "}, {admins, true, "Note: "}};
    const fs::path dir = fs::temp_directory_path() / "wxr7305_udev_retire";
    for (const Case& c : cases) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        const fs::path old_file = dir / "70-wxr7305-tq16.rules";
        if (c.present) std::ofstream(old_file) << *c.present;
        std::ostringstream out, err;
        EXPECT_EQ(retire_old_rule(dir.string(), "70-wxr7305-tq16.rules", out, err), std::nullopt);
        EXPECT_EQ(fs::exists(old_file), c.stays) << out.str();
        EXPECT_TRUE(contains(out.str(), c.told)) << out.str();
        EXPECT_EQ(out.str().empty(), c.told.empty()) << out.str();
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace wxr::cli
