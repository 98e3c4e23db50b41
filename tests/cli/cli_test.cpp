#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "app/cli/arguments.h"
#include "app/cli/cli.h"
#include "tests/cli/cli_run.h"
#include "station/device_run.h"
#include "tests/cli/cli_process.h"
#include "app/cli/progress.h"
#include "station/run_group.h"
#include "station/stop_request.h"
#include "device/transcript.h"
#include "image/image_store.h"
#include "tests/image/image_bytes.h"

namespace wxr::cli {
namespace {

#ifndef _WIN32
// Runs `run` while no file may grow past `bytes`: writes fail with EFBIG instead of a signal.
template <typename Run>
auto under_file_size_limit(rlim_t bytes, Run&& run) {
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &small);
    auto result = run();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, old_handler);
    return result;
}
#endif

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::vector<nlohmann::json> json_lines(const std::string& text) {
    std::vector<nlohmann::json> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(nlohmann::json::parse(line));
    return out;
}

std::string read_all(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::filesystem::path temp_file(const std::string& name) {
    return std::filesystem::temp_directory_path() / ("wxr7305_cli_test_" + name);
}

TEST(Cli, InfoPrintsTheBuiltInImage) {
    Outcome r = wxr7305({"info"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "Customer: Demo\nSize: 38648 bytes\r\nModel: TQ16\r\nVer.: 57\r\nChecksum: 7DF8\r\nSensor: LX300\n");
}

TEST(Cli, InfoOfAFileWithoutInfoBlockFails) {
    auto path = temp_file("plain.bin");
    std::ofstream(path, std::ios::binary) << std::string(300, 'x');
    Outcome r = wxr7305({"info", path.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_TRUE(contains(r.err, "no info block"));
    EXPECT_EQ(wxr7305({"info", temp_file("missing.bin").string()}).code, 1);
    std::filesystem::remove(path);
}

TEST(Cli, SimulatedUpgradeSucceedsAndItsTraceHoldsTheWholeTransfer) {
    auto trace = temp_file("trace.txt");
    Outcome r = wxr7305({"upgrade", "--simulate", "--virtual-time", "--trace", trace.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "Firmware upgrade successful.\nPlease turn off the device. Then turn on again.\n"));
    EXPECT_TRUE(contains(r.out, "flash equals the image"));
    EXPECT_TRUE(contains(r.out, "progress 100%"));

    std::ifstream in(trace);
    std::string text;
    std::size_t chunks = 0, blocks = 0;
    std::vector<std::uint8_t> last_block, end;
    while (std::getline(in, text)) {
        auto line = parse_transcript_line(text);
        ASSERT_TRUE(line) << text;
        if (line->op != "set") continue;
        if (line->bytes[1] == 0x0B) ++chunks;
        if (line->bytes[1] == 0x0C) ++blocks, last_block = line->bytes;
        if (line->bytes[1] == 0x0D) end = line->bytes;
    }
    EXPECT_EQ(chunks, 2464u);
    EXPECT_EQ(blocks, 22u);
    EXPECT_EQ(std::vector<std::uint8_t>(last_block.begin(), last_block.begin() + 6),
              (std::vector<std::uint8_t>{0x05, 0x0C, 0x00, 0x93, 0xF8, 0x03}));
    EXPECT_EQ(std::vector<std::uint8_t>(end.begin(), end.begin() + 6),
              (std::vector<std::uint8_t>{0x05, 0x0D, 0xF8, 0x96, 0xF8, 0x7D}));
    in.close();  // Windows refuses to remove a file that is still open
    std::filesystem::remove(trace);
}

TEST(Cli, ExitCodesTellWhatWentWrong) {
    Outcome none = wxr7305({"upgrade", "--simulate=devices=0", "--virtual-time"});
    EXPECT_EQ(none.code, 2);
    EXPECT_TRUE(contains(none.err, "Device not found!!"));

    Outcome other = wxr7305({"upgrade", "--simulate=model=7,sensor=1", "--virtual-time", "--shift"});
    EXPECT_EQ(other.code, 3);
    EXPECT_TRUE(contains(other.err, "Error: Sensor不同!! 機種不符!! "));

    // Without Shift a device of another model is not even found.
    EXPECT_EQ(wxr7305({"upgrade", "--simulate=model=7", "--virtual-time"}).code, 2);

    Outcome unplugged = wxr7305({"upgrade", "--simulate=unplug-after=900", "--virtual-time"});
    EXPECT_EQ(unplugged.code, 4);
    EXPECT_TRUE(contains(unplugged.err, "Upgrade fail !!"));

    EXPECT_EQ(wxr7305({"upgrade", "--simulate=fail-block-check=4:2,refuse-block-report=7:3,busy=2",
                       "--virtual-time"}).code,
              0);
}

TEST(Cli, ListShowsEachDevice) {
    Outcome r = wxr7305({"list", "--simulate=devices=2,version=50", "--virtual-time"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(contains(r.out, "sim:0  version 50  TQ16  LX300  at sim-usb-1.1\n"));
    EXPECT_TRUE(contains(r.out, "sim:1  version 50  TQ16  LX300  at sim-usb-1.2\n"));
}

TEST(Cli, BadUsageIsExitOne) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"frobnicate"}, {"upgrade", "--bogus"},
                                          {"upgrade", "--simulate=colour=blue"}, {"upgrade", "--simulate=model=300"},
                                          {"upgrade", "--trace"}, {"list", "extra"}}) {
        Outcome r = wxr7305(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_EQ(wxr7305({"--help"}).code, 0);
    EXPECT_TRUE(contains(wxr7305({"--help"}).out, "fail-block-check=B:K"));
    // The first line names the tool, the second the built-in firmware.
    EXPECT_EQ(wxr7305({"--version"}).out,
              "wxr7305 1.0.0.1\n"
              "Firmware: TQ16, LX300, version 57, 38648 bytes, checksum 7DF8, customer Demo\n");
}

// The man pages are made of --help's lists: "Heading:" and items of a term,
// two spaces and a description, continued on deeper lines.
TEST(Cli, HelpListsReadAsItems) {
    std::istringstream help(wxr7305({"--help"}).out);
    std::map<std::string, int> items;
    std::string heading;
    for (std::string line; std::getline(help, line);) {
        if (line.empty()) heading.clear();
        else if (line.back() == ':' && line[0] != ' ') heading = line;
        else if (!heading.empty() && line.rfind("   ", 0) != 0) {
            EXPECT_TRUE(line.rfind("  ", 0) == 0 && line.find("  ", 3) != std::string::npos) << line;
            ++items[heading];
        }
    }
#ifdef _WIN32
    EXPECT_EQ(items["Commands:"], 3);  // udev-rule is Linux's alone
#else
    EXPECT_EQ(items["Commands:"], 4);
#endif
    EXPECT_GE(items["Options:"], 15);
    EXPECT_GE(items["Simulation keys (--simulate=KEY[=VALUE],...):"], 20);
}

TEST(Cli, ImageOptionGetsTheBuiltInImagesChecks) {
    auto plain = temp_file("noinfo.bin");
    std::ofstream(plain, std::ios::binary) << std::string(300, 'x');
    EXPECT_EQ(wxr7305({"upgrade", "--simulate", "--virtual-time", "--image", plain.string()}).code, 1);

    auto big = temp_file("big.bin");
    std::ofstream(big, std::ios::binary) << std::string(70000, 'x');
    EXPECT_EQ(wxr7305({"upgrade", "--simulate", "--virtual-time", "--image", big.string()}).code, 1);
    std::filesystem::remove(plain);
    std::filesystem::remove(big);
}

#ifndef _WIN32
TEST(Cli, UdevRuleNamesEachListedVendorAndProductOnce) {
    Outcome r = wxr7305({"udev-rule", "--simulate=devices=2", "--virtual-time"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "# 70-wxr7305-tq16-local.rules: lets the logged-in user reach these devices' hidraw nodes.\n"
              "# A packaged rule (/usr/lib/udev/rules.d) stays in force beside it.\n"
              "KERNEL==\"hidraw*\", ATTRS{idVendor}==\"1209\", ATTRS{idProduct}==\"7305\", "
              "TAG+=\"uaccess\"\n");
    EXPECT_TRUE(contains(r.err, "/etc/udev/rules.d/70-wxr7305-tq16-local.rules"));

    // Only devices discovery lists: another model is not the user's device. This
    // build knows no ids, so there is no rule; what is printed says so.
    Outcome other = wxr7305({"udev-rule", "--simulate=model=99", "--virtual-time"});
    EXPECT_EQ(other.code, 2);
    EXPECT_TRUE(contains(other.out, "# 70-wxr7305-tq16-local.rules: no rule")) << other.out;
    EXPECT_TRUE(contains(other.err, "Device not found!!"));
}
#endif

TEST(Cli, ParserRefusesWhatDoesNotApplyAndHonoursEndOfOptions) {
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"info", "--image", "x.bin"}, "--image does not apply to info"},
        {{"info", "--trace=t"}, "--trace does not apply to info"},
        {{"list", "--all"}, "--all does not apply to list"},
        {{"upgrade", "--count", "3"}, "--count needs --watch"},
        {{"upgrade", "--watch", "--count=0"}, "--count needs a number from 1"},
        {{"upgrade", "--force"}, "--force needs --watch"},
        {{"upgrade", "--watch", "--virtual-time"}, "--virtual-time needs --simulate"},
        {{"upgrade", "--all", "--watch"}, "cannot be combined"},
        {{"upgrade", "--all", "--device", "sim:0"}, "--device names the units"},
        {{"list", "--device"}, "--device needs a value"},
        {{"list", "--json=yes"}, "--json takes no value"},
        {{"upgrade", "--image="}, "--image needs a non-empty value"},
        {{"--", "--help"}, "unknown command --help"},
    };
    for (const auto& [args, message] : refused) {
        auto parsed = parse_arguments(args);
        ASSERT_TRUE(std::holds_alternative<UsageError>(parsed)) << args[0];
        EXPECT_TRUE(contains(std::get<UsageError>(parsed).message, message)) << std::get<UsageError>(parsed).message;
    }
    auto ok = std::get<Options>(parse_arguments({"upgrade", "--image=a.bin", "--watch", "--count", "2", "--force"}));
    EXPECT_EQ(ok.images, std::vector<std::string>{"a.bin"});
    EXPECT_EQ(ok.count, 2);
    auto file = std::get<Options>(parse_arguments({"info", "--", "--odd-name.bin"}));
    EXPECT_EQ(file.operands, std::vector<std::string>{"--odd-name.bin"});
}

TEST(Cli, FileErrorsNameTheFileAndTheProblem) {
    auto empty = temp_file("empty.bin");
    std::ofstream(empty, std::ios::binary).close();
    auto dir = temp_file("dir");
    std::filesystem::create_directories(dir);
    const std::pair<std::string, std::string> cases[] = {
        {empty.string(), ": is empty"},
        {dir.string(), ": is a directory"},
        {temp_file("missing.bin").string(), ": no such file"},
    };
    for (const auto& [file, problem] : cases) {
        EXPECT_TRUE(contains(wxr7305({"info", file}).err, file + problem));
        EXPECT_TRUE(contains(wxr7305({"upgrade", "--simulate", "--virtual-time", "--image", file}).err, file + problem));
    }
    std::filesystem::remove(empty);
    std::filesystem::remove(dir);
}

TEST(Cli, InfoShowsControlBytesOfTheCustomerTextEscaped) {
    std::vector<std::uint8_t> bytes(200, 0);
    test::put_block(bytes, 100);
    test::put_customer(bytes, 100, "\x1b[2J\x1b[31mEVIL\r\n");
    auto path = temp_file("evil.bin");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 200);
    Outcome r = wxr7305({"info", path.string()});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.starts_with("Customer: \\x1b[2J\\x1b[31mEVIL\\x0d\\x0a\nSize: 200 bytes\r\n")) << r.out;
    EXPECT_EQ(nlohmann::json::parse(wxr7305({"info", "--json", path.string()}).out)["customer"],
              "\x1b[2J\x1b[31mEVIL\r\n");
    std::filesystem::remove(path);
}

TEST(Cli, ListShowsEveryInterfaceInOrderAndDeviceChoosesOne) {
    Outcome r = wxr7305({"list", "--simulate=devices=200", "--virtual-time"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(occurrences(r.out, "\n"), 200u);
    EXPECT_TRUE(r.out.starts_with("sim:0  version 57") && contains(r.out, "\nsim:199  version 57"));

    EXPECT_EQ(wxr7305({"list", "--simulate=devices=3", "--virtual-time", "--device", "sim:1"}).out,
              "sim:1  version 57  TQ16  LX300  at sim-usb-1.2\n");
    const std::vector<std::string> absent[] = {
        {"list", "--simulate=devices=3", "--device", "sim:7"},
        {"upgrade", "--simulate=devices=3,1:report-length=22", "--device", "sim:1"},
    };
    for (auto args : absent) {
        args.push_back("--virtual-time");
        Outcome none = wxr7305(args);
        EXPECT_EQ(none.code, 2);
        EXPECT_TRUE(contains(none.err, "Device not found!!"));
    }
    Outcome one = wxr7305({"upgrade", "--simulate=devices=3", "--virtual-time", "--device", "sim:2"});
    EXPECT_EQ(one.code, 0);
    EXPECT_TRUE(contains(one.out, "Simulated device: flash equals the image"));
}

TEST(Cli, AllWritesEveryDeviceAndOneThatIsUnpluggedFailsAlone) {
    Outcome r = wxr7305({"upgrade", "--all", "--simulate=devices=20,busy=0,7:unplug-after=3000", "--virtual-time"});
    EXPECT_EQ(r.code, 4) << r.err;
    EXPECT_EQ(occurrences(r.out, ": flash equals the image; end report matches the flash."), 19u);
    EXPECT_TRUE(contains(r.out, "sim:7  failed"));
    EXPECT_EQ(occurrences(r.out, "  success  "), 19u);
    EXPECT_EQ(occurrences(r.out, "sim:12 progress 100%"), 1u);
    EXPECT_TRUE(contains(r.out, "20 units: 19 written, 1 failed (20 visits)\n"));
    EXPECT_TRUE(contains(r.out, "Not written (1 unit):\n  failed       sim:7  at sim-usb-1.8  (stopped at block ")) << r.out;
#ifdef _WIN32
    const std::string simulate = "\"--simulate=devices=20,busy=0,7:unplug-after=3000\"";  // cmd.exe splits at , and =
#else
    const std::string simulate = "--simulate=devices=20,busy=0,7:unplug-after=3000";
#endif
    // The retry, then the count as the last line.
    EXPECT_TRUE(r.out.ends_with("Retry them:\n  wxr7305 upgrade " + simulate +
                                " --virtual-time --device sim-usb-1.8\n20 units: 19 written, 1 failed (20 visits)\n"))
        << r.out;
    // Units sharing a location are retried by path: the location would write the others again.
    r = wxr7305({"upgrade", "--device", "hubA", "--simulate=devices=3,location=hubA,1:unplug-after=3000", "--virtual-time"});
    EXPECT_EQ(r.code, 4) << r.out;
    EXPECT_TRUE(contains(r.out, " --virtual-time --device sim:1\n")) << r.out;
    // A refused unit needs another firmware, not a retry.
    r = wxr7305({"upgrade", "--device", "hubA", "--simulate=devices=3,location=hubA,1:model=22", "--virtual-time"});
    EXPECT_EQ(r.code, 3) << r.out;
    EXPECT_FALSE(contains(r.out, "Retry them:")) << r.out;
    EXPECT_TRUE(contains(r.out, "Needs another firmware: sim:1 (model TQ22, firmware is for TQ16")) << r.out;

    EXPECT_EQ(wxr7305({"upgrade", "--all", "--simulate=devices=3,1:sensor=1", "--virtual-time", "--shift"}).code, 3);
    EXPECT_EQ(wxr7305({"upgrade", "--all", "--simulate=devices=0", "--virtual-time"}).code, 2);
}

TEST(Cli, WatchWritesArrivalsSkipsTheirReturnAndStopsAtCount) {
    Outcome r = wxr7305({"upgrade", "--watch", "--count", "3", "--virtual-time",
                         "--simulate=devices=3,version=50,arrive-every=10000,replug-after=3000"});
    EXPECT_EQ(r.code, 0) << r.err;
    for (std::string path : {"sim:0", "sim:1", "sim:2"}) EXPECT_TRUE(contains(r.out, path + "  success")) << r.out;
    EXPECT_TRUE(contains(r.out, "sim:0  skipped  0.10 s  (already at version 57)  at sim-usb-1.1"));
    EXPECT_EQ(occurrences(r.out, ": flash equals the image"), 3u);

    Outcome forced = wxr7305({"upgrade", "--watch", "--count", "2", "--force", "--virtual-time", "--json",
                              "--simulate=devices=1,replug-after=3000,serial=A0017"});
    auto lines = json_lines(forced.out);
    ASSERT_EQ(lines.size(), 3u) << forced.out;
    EXPECT_EQ(lines[1]["result"], "success");
    EXPECT_EQ(lines[1]["version"], 57);
    EXPECT_EQ(lines[2]["summary"]["success"], 1);  // one unit, written twice
    EXPECT_EQ(lines[2]["summary"]["attempts"], 2);
}

TEST(Cli, JsonLinesCarryNamedFieldsAndNumbers) {
    auto listed = json_lines(wxr7305({"list", "--json", "--simulate=devices=2,version=50", "--virtual-time"}).out);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[1], nlohmann::json::parse(R"({"path":"sim:1","model":16,"model_name":"TQ16","sensor":3,)"
                                               R"("sensor_name":"LX300","version":50,"location":"sim-usb-1.2",)"
                                               R"("serial":null,"fits":true})"));
    Outcome all = wxr7305({"upgrade", "--all", "--json", "--simulate=devices=3,2:sensor=1", "--virtual-time"});
    auto results = json_lines(all.out);
    ASSERT_EQ(results.size(), 4u) << all.out;
    std::sort(results.begin(), results.begin() + 3, [](auto& a, auto& b) { return a["path"] < b["path"]; });
    EXPECT_EQ(results[0]["result"], "success");
    EXPECT_TRUE(results[0]["seconds"].is_number() && results[0]["simulated_flash_equals_image"] == true);
    EXPECT_EQ(results[2]["result"], "refused");
    EXPECT_EQ(results[2]["sensor_name"], "LX100");
    auto one = json_lines(wxr7305({"upgrade", "--json", "--simulate=unplug-after=900", "--virtual-time"}).out);
    ASSERT_EQ(one.size(), 2u);
    EXPECT_EQ(one[0]["result"], "failed");
}

// Counts flushes that carry a progress line: each must reach the pipe when written.
class FlushCounter : public std::stringbuf {
public:
    int progress_flushes = 0;

protected:
    int sync() override {
        if (str().size() > seen_ && str().find("progress", seen_) != std::string::npos) ++progress_flushes;
        seen_ = str().size();
        return 0;
    }

private:
    std::size_t seen_ = 0;
};

TEST(Cli, PlainLinesAreFlushedOneByOne) {
    FlushCounter buffer;
    std::ostream out(&buffer);
    std::ostringstream err;
    EXPECT_EQ(run({"upgrade", "--simulate", "--virtual-time"}, out, err, false), 0);
    EXPECT_EQ(buffer.progress_flushes, 10);
}

TEST(Cli, FirstCtrlCLetsTheRunningWriteEnd) {
    StopRequest stop;
    std::atomic<bool> returned{false};
    std::thread presser([&] {
        while (!stop.writing() && !returned.load()) std::this_thread::yield();
        stop.press();
    });
    std::ostringstream out, err;
    int code = run({"upgrade", "--all", "--simulate=devices=1", "--virtual-time"}, out, err, false, &stop);
    returned = true;
    presser.join();
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(contains(out.str(), "1 unit: 1 written (1 visit)"));
}

#ifndef _WIN32
TEST(Cli, TraceIsARegularFileAndAFailedWriteFailsTheCommand) {
    auto fifo = temp_file("trace.fifo");
    std::filesystem::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& file : {fifo.string(), std::string("/dev/full"),
                                   std::filesystem::temp_directory_path().string()}) {
        Outcome r = wxr7305({"list", "--simulate", "--virtual-time", "--trace", file});
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(contains(r.err, file)) << r.err;
    }
    std::filesystem::remove(fifo);

    // A file that cannot grow past 4 KiB.
    auto trace = temp_file("short-trace.txt");
    auto [r, failed] = under_file_size_limit(4096, [&] {
        return std::pair{wxr7305({"upgrade", "--simulate", "--virtual-time", "--trace", trace.string()}),
                         // The worse outcome wins: a failed unit is not hidden by a lost trace line.
                         wxr7305({"upgrade", "--simulate=unplug-after=900", "--virtual-time", "--trace",
                                  trace.string()})};
    });
    EXPECT_EQ(failed.code, kExitUpgradeFailed);
    EXPECT_TRUE(contains(failed.err, "the trace is incomplete"));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(contains(r.out, "Firmware upgrade successful."));
    EXPECT_TRUE(contains(r.err, "writing the trace file " + trace.string() + " failed"));
    std::filesystem::remove(trace);
}
#endif

TEST(Cli, StationNeitherRetriesARefusedUnitNorOutlivesCtrlC) {
    Outcome r = wxr7305({"upgrade", "--watch", "--count", "1", "--virtual-time", "--simulate=devices=2,version=50,0:sensor=1"});
    EXPECT_EQ(r.code, 3) << r.out;
    EXPECT_EQ(occurrences(r.out, "refused"), 3u) << r.out;  // its line, the count and the recap
    EXPECT_TRUE(contains(r.out, "sim:1  success"));

    // Ctrl-C before the attached unit was written: it is told, and so is the stop.
    // A station ends by a stop as a matter of course: its code follows the results.
    StopRequest stop;
    stop.press();
    std::ostringstream out, err;
    EXPECT_EQ(run({"upgrade", "--watch", "--virtual-time", "--simulate"}, out, err, false, &stop), kExitSuccess);
    EXPECT_EQ(out.str(), "sim:0  not-written  0.00 s  (stopped before its write began)  at sim-usb-1.1\n"
                         "Not written (1 unit):\n"
                         "  not written  sim:0  at sim-usb-1.1  (stopped before its write began)\n"
                         "Retry them:\n"
                         "  wxr7305 upgrade --simulate --virtual-time --device sim-usb-1.1\n"
                         "1 unit: 1 not written (1 visit)\n");
}

// The wait ends with the run, whatever its timeout: nothing waits on a poll.
TEST(Cli, RunGroupWakesWhenARunEnds) {
    SessionOptions options;
    options.simulated = sim::SimBench{{{.path = u"sim:0"}}};
    options.virtual_time = true;
    Session session(options);
    BenchImages images;
    std::ostringstream err;
    ASSERT_TRUE(load_bench_images({}, images, err));
    RunGroup group(session.clock());
    group.start(std::make_unique<DeviceRun>(session, Visit{1, u"sim:0"}, RunPlan{images}));
    auto ended = group.wait_for_ended(std::chrono::hours(1));
    ASSERT_EQ(ended.size(), 1u);
    auto& run = dynamic_cast<DeviceRun&>(*ended[0]);
    EXPECT_EQ(run.report().result, RunResult::Success);
    EXPECT_EQ(run.progress(), 2464);
    EXPECT_EQ(group.running(), 0u);
}

#ifndef _WIN32
// Killed in the middle of a write: the log holds whole lines, the last a
// start record that no result follows, so the unit is known to need a write.
TEST(CliLog, AKilledWriteLeavesItsStartRecordAlone) {
    auto log = temp_file("killed.jsonl");
    std::filesystem::remove(log);
    auto [pid, fd] = spawn({"upgrade", "--all", "--log", log.string(), "--simulate=devices=2,busy=2,version=50"});
    ASSERT_GT(pid, 0);
    read_until(fd, "progress 30%");
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(fd);
    std::string text = read_all(log);
    ASSERT_TRUE(text.ends_with("\n")) << text;
    auto records = json_lines(text);
    ASSERT_EQ(records.size(), 2u) << text;
    for (const auto& record : records) EXPECT_EQ(record["record"], "start") << record.dump();
    std::filesystem::remove(log);
}

TEST(Cli, SecondCtrlCLeavesAtOnceWithAWarning) {
    // Busy reads make each of the unit's writes wait: it is still being written when interrupted.
    auto [pid, fd] = spawn({"upgrade", "--watch", "--simulate=busy=4,version=50"});
    ASSERT_GT(pid, 0);
    read_until(fd, "progress 10%");
    kill(pid, SIGINT);
    std::string first = read_until(fd, "Ctrl-C again to leave now");
    kill(pid, SIGINT);  // only now: two signals pending at once would count as one
    std::string rest = read_until(fd, "\x01");  // to the end
    int status = 0;
    waitpid(pid, &status, 0);
    close(fd);
    EXPECT_TRUE(contains(first, "stopping: 1 write finishing, none started")) << first;
    EXPECT_TRUE(contains(rest, "interrupted while writing; left part-written, upgrade them again: sim:0 at sim-usb-1.1.\n"))
        << rest;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 4);
}
#endif

TEST(Cli, ProgressBarFrames) {
    EXPECT_EQ(progress_bar(0, 2416, 38648), "[........................................]   0%  0.0/38.6 kB");
    EXPECT_EQ(progress_bar(1208, 2416, 38648), "[####################....................]  50%  19.3/38.6 kB");
    EXPECT_EQ(progress_bar(2464, 2416, 38648, 10), "[##########] 100%  38.6/38.6 kB");
}

}  // namespace
}  // namespace wxr::cli

namespace wxr::cli {
namespace {

// Around the end report (its open, pre-poll, write), and the end report lost.
TEST(CliFaults, AnEndReportThatNeverArrivedIsAFailedUpgrade) {
    for (std::string fault : {"unplug-after=7592", "unplug-after=7593", "unplug-after=7594", "unplug-after=7595",
                              "drop=2492"}) {
        std::ostringstream out, err;
        EXPECT_EQ(run({"upgrade", "--simulate=" + fault, "--virtual-time"}, out, err, false), kExitUpgradeFailed)
            << fault;
        EXPECT_NE(err.str().find("Upgrade fail !!"), std::string::npos) << fault;
    }
}

#ifndef _WIN32
TEST(CliFaults, AFileNameThatIsNoUtf8IsReadAsItStands) {
    const std::string name = (std::filesystem::temp_directory_path() / "wxr7305_cli_fw_").string() + "\xff.bin";
    ImageStore store;
    load_embedded_image(store);
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(store.bytes.data()), store.length);
    std::ostringstream out, err;
    EXPECT_EQ(run({"info", name}, out, err, false), kExitSuccess) << err.str();
    std::filesystem::remove(name);
}
#endif

}  // namespace
}  // namespace wxr::cli

namespace wxr::cli {
namespace {

struct ResultCase {
    std::vector<std::string> args;
    int code;
    std::map<std::string, std::string> results;  // path -> result
};

// Every unit that looks like ours gets its result, a failure says where it
// stopped, and the summary comes last.
TEST(CliResults, EachUnitGetsATrueResult) {
    const ResultCase cases[] = {
        // Gone between the probe and the query: failed, not refused as model 0.
        {{"upgrade", "--simulate=unplug-after=6"}, 4, {{"sim:0", "failed"}}},
        {{"upgrade", "--simulate=unplug-after=8"}, 4, {{"sim:0", "failed"}}},
        {{"upgrade", "--all", "--simulate=unplug-after=7"}, 4, {{"sim:0", "failed"}}},
        {{"upgrade", "--all", "--simulate=devices=2,1:unplug-after=8"}, 4, {{"sim:0", "success"}, {"sim:1", "failed"}}},
        // Another model named by --device is refused, not "not found".
        {{"upgrade", "--device", "sim:1", "--simulate=devices=3,1:model=9"}, 3, {{"sim:1", "refused"}}},
        // Silent, busy, garbage and another model: each has a result of its own.
        {{"upgrade", "--all", "--simulate=devices=5,1:silent,2:stay-busy,3:garbage,4:model=9"},
         4,
         {{"sim:0", "success"}, {"sim:1", "no-answer"}, {"sim:2", "no-answer"}, {"sim:3", "no-answer"},
          {"sim:4", "refused"}}},
        // Slow to answer its first probes: tried again, within the bound and past it.
        {{"upgrade", "--all", "--simulate=devices=2,1:answer-after=1000"}, 0, {{"sim:0", "success"}, {"sim:1", "success"}}},
        {{"upgrade", "--all", "--simulate=devices=2,1:answer-after=5000"}, 4, {{"sim:0", "success"}, {"sim:1", "no-answer"}}},
        // --count counts units written: the refused one does not.
        {{"upgrade", "--watch", "--count", "2", "--simulate=devices=3,version=50,0:sensor=1,arrive-every=5000"},
         3,
         {{"sim:0", "refused"}, {"sim:1", "success"}, {"sim:2", "success"}}},
        {{"upgrade", "--simulate=fail-block-check=3:8"}, 4, {{"sim:0", "failed"}}},
        {{"upgrade", "--all", "--simulate=devices=2,1:refuse-block-report=2:20"}, 4, {{"sim:0", "success"}, {"sim:1", "failed"}}},
    };
    for (const ResultCase& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--json", "--virtual-time"});
        Outcome r = wxr7305(args);
        std::string label = args[1] + " " + args[2];
        EXPECT_EQ(r.code, c.code) << label << "\n" << r.out << r.err;
        auto lines = json_lines(r.out);
        ASSERT_FALSE(lines.empty()) << label;
        ASSERT_TRUE(lines.back().contains("summary")) << label;
        std::map<std::string, std::string> results;
        for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
            const auto& unit = lines[i];
            results[unit["path"]] = unit["result"];
            bool failure = unit["result"] == "failed" || unit["result"] == "no-answer";
            EXPECT_EQ(failure, unit.contains("detail") && unit.contains("phase")) << label << " " << unit.dump();
        }
        EXPECT_EQ(results, c.results) << label << "\n" << r.out;
        EXPECT_EQ(lines.back()["summary"]["units"], c.results.size()) << label;
    }
}

TEST(CliResults, AFailureSaysWhereItStoppedAndWhy) {
    auto lines = json_lines(wxr7305({"upgrade", "--json", "--virtual-time", "--simulate=fail-block-check=3:8"}).out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["phase"], "block check");
    EXPECT_EQ(lines[0]["block"], 3);
    EXPECT_EQ(lines[0]["detail"], "stopped at block 3 of 22 (block check): the block check failed 8 times");
    EXPECT_EQ(lines[0]["version_after"], nullptr);

    Outcome gone = wxr7305({"upgrade", "--virtual-time", "--simulate=unplug-after=6"});
    EXPECT_TRUE(contains(gone.err, "Upgrade fail !!\nwxr7305: sim:0: no answer to the query")) << gone.err;
    EXPECT_FALSE(contains(gone.err, "TQ00"));
}

TEST(CliResults, APlainUpgradeNamesTheUnitAndTheOnesLeftAlone) {
    Outcome r = wxr7305({"upgrade", "--virtual-time", "--simulate=devices=3,0:serial=A17"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.starts_with("Writing sim:")) << r.out;
    EXPECT_TRUE(contains(r.out, "; 2 other fitting devices left alone (--all writes every one).\n")) << r.out;
    auto lines = json_lines(wxr7305({"upgrade", "--json", "--virtual-time", "--simulate=devices=3"}).out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1]["summary"]["left_alone"], 2);
}

// Only units an image fits are called fitting: --all would refuse the others.
TEST(CliResults, APlainUpgradeCallsOnlyFittingUnitsFitting) {
    const std::pair<std::string, std::string> cases[] = {
        {"devices=2,0:sensor=4", "Writing sim:1 (at sim-usb-1.2); left 1 other unit alone: the firmware does not fit it.\n"},
        {"devices=4,0:sensor=4,2:sensor=4",
         "Writing sim:1 (at sim-usb-1.2); 1 other fitting device left alone (--all writes every one), and 2 units the "
         "firmware does not fit.\n"},
    };
    for (const auto& [simulate, words] : cases) {
        Outcome r = wxr7305({"upgrade", "--virtual-time", "--simulate=" + simulate});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(r.out.starts_with(words)) << r.out;
    }
}

// Each result is printed when its unit ends, not when the last one does.
TEST(CliResults, AllShowsEachResultTheMomentItsUnitEnds) {
    // On the real clock: shared virtual time does not yet order parallel units.
    Outcome r = wxr7305({"upgrade", "--all", "--json", "--simulate=devices=5,busy=0,2:unplug-after=3000"});
    auto lines = json_lines(r.out);
    ASSERT_EQ(lines.size(), 6u) << r.out;
    EXPECT_EQ(lines[0]["path"], "sim:2");
    EXPECT_EQ(lines[0]["result"], "failed");
    EXPECT_EQ(r.code, 4);
}

}  // namespace
}  // namespace wxr::cli

#ifndef _WIN32
namespace wxr::cli {
namespace {

// `upgrade | head -n1`: the reader goes after the first line; the write goes
// on. On the real clock, so that the rest of the output comes after the close.
TEST(CliKept, AClosedOutputPipeNeverStopsAWrite) {
    auto log = temp_file("pipe.log");
    std::filesystem::remove(log);
    auto [pid, fd] = spawn({"upgrade", "--simulate=busy=0", "--log", log.string()});
    ASSERT_GT(pid, 0);
    read_until(fd, "\n");
    close(fd);
    EXPECT_EQ(exit_status(pid), kExitOther);
    auto records = json_lines(read_all(log));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["record"], "start");
    EXPECT_EQ(records[1]["result"], "success");
    EXPECT_EQ(records[1]["simulated_flash_equals_image"], true);
    std::filesystem::remove(log);
}

TEST(CliKept, WithStdoutClosedTheTraceGetsOnlyTheTranscript) {
    auto trace = temp_file("closed-stdout.trace");
    auto [pid, fd] = spawn_prepared({"upgrade", "--simulate", "--virtual-time", "--trace", trace.string()},
                                    [] { close(STDOUT_FILENO); });
    ASSERT_GT(pid, 0);
    read_until(fd, "\x01");  // to the end
    close(fd);
    exit_status(pid);
    std::istringstream in(read_all(trace));
    std::size_t lines = 0;
    for (std::string line; std::getline(in, line); ++lines) ASSERT_TRUE(parse_transcript_line(line)) << line;
    EXPECT_GT(lines, 2464u);
    std::filesystem::remove(trace);
}

// A unit already current is skipped: the station is armed and idle after its line.
TEST(CliKept, CtrlCAtAnIdleStation) {
    // A second unit due in a day keeps the simulated station watching.
    const std::vector<std::string> idle{"upgrade", "--watch", "--simulate=devices=2,1:arrive-at=86400000"};
    auto [pid, fd] = spawn(idle);
    ASSERT_GT(pid, 0);
    read_until(fd, "skipped");
    kill(pid, SIGINT);
    kill(pid, SIGINT);
    std::string rest = read_until(fd, "\x01");
    close(fd);
    EXPECT_EQ(exit_status(pid), 0) << rest;  // the results so far: one skipped
    EXPECT_FALSE(contains(rest, "interrupted while writing")) << rest;
    EXPECT_TRUE(contains(rest, "1 unit: 1 skipped (1 visit)")) << rest;
    EXPECT_FALSE(contains(rest, "part-written")) << rest;

    // Ignored by whoever started it: it stays ignored.
    auto [ignoring, out] = spawn_prepared(idle, [] { signal(SIGINT, SIG_IGN); });
    read_until(out, "skipped");
    kill(ignoring, SIGINT);
    kill(ignoring, SIGINT);
    usleep(200000);
    int status = 0;
    EXPECT_EQ(waitpid(ignoring, &status, WNOHANG), 0);  // still watching
    kill(ignoring, SIGKILL);
    exit_status(ignoring);
    close(out);
}

TEST(CliKept, TheTraceNeverDestroysTheImage) {
    ImageStore store;
    load_embedded_image(store);
    const std::string image(reinterpret_cast<const char*>(store.bytes.data()), static_cast<std::size_t>(store.length));
    auto fw = temp_file("fw.bin");
    auto other_name = temp_file("fw-link.bin");
    std::ofstream(fw, std::ios::binary) << image;
    std::filesystem::remove(other_name);
    std::filesystem::create_hard_link(fw, other_name);
    for (const auto& trace : {fw, other_name}) {
        Outcome r = wxr7305({"upgrade", "--simulate", "--virtual-time", "--image", fw.string(), "--trace", trace.string()});
        EXPECT_EQ(r.code, kExitOther);
        EXPECT_TRUE(contains(r.err, "is the image file")) << r.err;
        EXPECT_EQ(read_all(fw), image);
    }
    std::filesystem::remove(fw);
    std::filesystem::remove(other_name);
}

}  // namespace
}  // namespace wxr::cli
#endif

namespace wxr::cli {
namespace {

TEST(CliLog, AppendsOneRecordPerUnitResult) {
    auto log = temp_file("station.log");
    std::ofstream(log, std::ios::binary) << "{\"earlier\":true}\n";
    Outcome r = wxr7305({"upgrade", "--all", "--virtual-time", "--log", log.string(),
                         "--simulate=devices=3,version=50,0:serial=S-0001,2:sensor=1"});
    EXPECT_EQ(r.code, 3) << r.err;
    auto records = json_lines(read_all(log));
    ASSERT_EQ(records.size(), 6u);  // two units written: a start record each
    EXPECT_EQ(records[0]["earlier"], true);  // appended, never truncated
    std::map<std::string, nlohmann::json> by_path;
    for (std::size_t i = 1; i < records.size(); ++i) {
        if (records[i]["record"] == "result") by_path[records[i]["path"]] = records[i];
    }
    const auto& first = by_path["sim:0"];
    EXPECT_EQ(first["location"], "sim-usb-1.1");
    EXPECT_EQ(first["serial"], "S-0001");
    EXPECT_EQ(first["model"], 16);
    EXPECT_EQ(first["sensor"], 3);
    EXPECT_EQ(first["version_before"], 50);
    EXPECT_EQ(first["version_after"], 57);
    EXPECT_EQ(first["result"], "success");
    EXPECT_TRUE(first["seconds"].is_number());
    EXPECT_FALSE(first["host"].get<std::string>().empty());
    std::string time = first["time"];
    EXPECT_TRUE(time.size() == 20 && time[4] == '-' && time[10] == 'T' && time[19] == 'Z') << time;
    EXPECT_EQ(by_path["sim:1"]["serial"], nullptr);
    EXPECT_EQ(by_path["sim:2"]["result"], "refused");
    EXPECT_TRUE(by_path["sim:2"]["detail"].is_string());
    // The result lines carry the location and serial number too.
    EXPECT_TRUE(contains(r.out, "sim:0  success")) << r.out;
    EXPECT_TRUE(contains(r.out, "at sim-usb-1.1  serial S-0001\n")) << r.out;
    std::filesystem::remove(log);

    Outcome fifo_like = wxr7305({"upgrade", "--simulate", "--virtual-time", "--log", "/dev/null"});
    EXPECT_EQ(fifo_like.code, kExitOther);
    EXPECT_TRUE(contains(fifo_like.err, "the log file /dev/null is not a regular file"));
}

TEST(CliLog, DeviceTakesAUsbLocation) {
    Outcome r = wxr7305({"upgrade", "--json", "--virtual-time", "--device", "hub-2.4",
                         "--simulate=devices=3,1:location=hub-2.4"});
    auto lines = json_lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out << r.err;
    EXPECT_EQ(lines[0]["path"], "sim:1");
    EXPECT_EQ(lines[0]["location"], "hub-2.4");
    EXPECT_EQ(r.code, 0);
}

#ifndef _WIN32
// Never a unit without its record: once the log cannot be written, no further
// unit starts; the one being written is told as not recorded, and the log
// holds whole lines only: sim:1's start, never half of its result.
TEST(CliLog, AFailedLogStartsNoFurtherUnit) {
    auto log = temp_file("full.log");
    constexpr std::size_t kPad = 3000;
    std::ofstream(log, std::ios::binary) << std::string(kPad, ' ') << "\n";
    // Room for sim:0's two records and sim:1's start, not for sim:1's result.
    Outcome r = under_file_size_limit(kPad + 1200, [&] {
        return wxr7305({"upgrade", "--watch", "--count", "3", "--virtual-time", "--log", log.string(),
                        "--simulate=devices=3,version=50,arrive-every=10000"});
    });
    EXPECT_EQ(r.code, kExitOther);
    EXPECT_TRUE(contains(r.err, "writing the log file " + log.string() + " failed")) << r.err;
    EXPECT_TRUE(contains(r.out, "sim:0  success  1.56 s  at")) << r.out;
    EXPECT_TRUE(contains(r.out, "sim:1  success  1.56 s  (not recorded: the log failed)")) << r.out;
    EXPECT_FALSE(contains(r.out, "sim:2")) << r.out;
    std::string text = read_all(log);
    ASSERT_TRUE(text.ends_with("\n"));
    auto records = json_lines(text.substr(kPad + 1));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2]["record"], "start");
    EXPECT_EQ(records[2]["path"], "sim:1");
    std::filesystem::remove(log);
}
#endif

TEST(CliInfo, FlagsAFileUpgradeWouldRefuse) {
    ImageStore store;
    load_embedded_image(store);
    auto big = temp_file("long-image.bin");
    std::string bytes(reinterpret_cast<const char*>(store.bytes.data()), static_cast<std::size_t>(store.length));
    bytes.resize(68648, '\xff');
    std::ofstream(big, std::ios::binary) << bytes;
    Outcome r = wxr7305({"info", big.string()});
    EXPECT_TRUE(contains(r.out, "upgrade refuses this file: it is longer than 65535 bytes")) << r.out;
    EXPECT_EQ(wxr7305({"upgrade", "--simulate", "--virtual-time", "--image", big.string()}).code, kExitOther);
    auto json = nlohmann::json::parse(wxr7305({"info", "--json", big.string()}).out);
    EXPECT_EQ(json["upgrade_refuses"], "it is longer than 65535 bytes");
    EXPECT_FALSE(nlohmann::json::parse(wxr7305({"info", "--json"}).out).contains("upgrade_refuses"));
    std::filesystem::remove(big);
}

}  // namespace
}  // namespace wxr::cli

