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

    const std::pair<std::string, std::optional<UsbIds>> ids[] = {
        {"", UsbIds{}},
        {"1209:7305", UsbIds{{0x1209, 0x7305}}},
        {"16C0:05dF,1209:7305,1209:7305", UsbIds{{0x1209, 0x7305}, {0x16C0, 0x05DF}}},
        {"1209", std::nullopt},
        {"1209:73051", std::nullopt},
        {"12g9:7305", std::nullopt},
        {"1209:7305;16c0:05df", std::nullopt},
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
        {known, none, false, 0, {"# 70-wxr7305-tq17.rules: lets", line_known}, "No device found: the rule names the 1 USB id"},
        {known, found, false, 0, {line_known, line_found}, "Save this as /etc/udev/rules.d/70-wxr7305-tq17.rules"},
        {none, found, true, 7, {line_found}, ""},
        {none, none, false, std::nullopt, {"# 70-wxr7305-tq17.rules: no rule"}, ""},
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

fs::path fresh_dir(const std::string& name) {
    fs::path dir = fs::temp_directory_path() / ("wxr7305_udev_test_" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::size_t entries(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(UdevInstall, ReplacesTheFileInOneStepOrLeavesItAlone) {
    constexpr char kName[] = "70-wxr7305-tq16.rules";
    const std::string rule = "KERNEL==\"hidraw*\", TAG+=\"uaccess\"\n";
    enum class Setup { Empty, OldFile, NoFolder, FolderInTheWay, DiskFull };
    struct Case {
        Setup setup;
        bool written;
        std::string left;  // the target's text afterwards ("" when none, or a folder)
    } cases[] = {
        {Setup::Empty, true, rule},
        {Setup::OldFile, true, rule},
        {Setup::NoFolder, false, ""},
        {Setup::FolderInTheWay, false, ""},
        {Setup::DiskFull, false, "old rule\n"},
    };
    for (const Case& c : cases) {
        const fs::path dir = fresh_dir("install");
        const fs::path target = dir / kName;
        if (c.setup == Setup::OldFile || c.setup == Setup::DiskFull) std::ofstream(target) << "old rule\n";
        if (c.setup == Setup::FolderInTheWay) fs::create_directory(target);
        const fs::path folder = c.setup == Setup::NoFolder ? dir / "missing" : dir;
        // Writes past 4 bytes fail with EFBIG, as on a full disk.
        struct rlimit saved {};
        getrlimit(RLIMIT_FSIZE, &saved);
        auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
        if (c.setup == Setup::DiskFull) {
            struct rlimit small = saved;
            small.rlim_cur = 4;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        Failure failure = write_file_atomically(folder.string(), kName, rule);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, old_handler);

        const int setup = static_cast<int>(c.setup);
        EXPECT_EQ(!failure, c.written) << setup << ": " << failure.value_or("");
        EXPECT_EQ(fs::is_regular_file(target) ? file_text(target) : "", c.left) << setup;
        EXPECT_EQ(entries(dir), c.setup == Setup::NoFolder ? 0u : 1u) << setup << ": a temporary file was left";
        if (c.written) {
            EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms(0644)) << setup;
        }
        fs::remove_all(dir);
    }
}

TEST(UdevInstall, AFailedReloadIsToldAndTheRuleStays) {
    for (bool reloads : {true, false}) {
        const fs::path dir = fresh_dir("reload");
        std::ostringstream out, err;
        int code = install_udev_rule(dir.string(), "70-x.rules", "rule\n",
                                     [&]() -> Failure { return reloads ? Failure{} : Failure{"udevadm failed"}; }, out,
                                     err);
        EXPECT_EQ(code, reloads ? 0 : 1);
        EXPECT_EQ(file_text(dir / "70-x.rules"), "rule\n");
        EXPECT_TRUE(contains(out.str(), "Wrote " + (dir / "70-x.rules").string()));
        EXPECT_EQ(contains(err.str(), "udevadm failed: the rule applies once the device is plugged in again"), !reloads);
        fs::remove_all(dir);
    }
    std::ostringstream out, err;
    EXPECT_EQ(install_udev_rule("/nonexistent-wxr7305", "70-x.rules", "rule\n", [] { return Failure{}; }, out, err), 1);
    EXPECT_TRUE(contains(err.str(), "/nonexistent-wxr7305/70-x.rules is left as it was")) << err.str();
}

}  // namespace
}  // namespace wxr::cli
