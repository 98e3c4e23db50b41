// The station's visits: the moves a visit may make, the order units are
// taken in, and benches that once left a unit unwritten and unreported, gave
// another output on every run, or let one file destroy another.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <random>
#include <nlohmann/json.hpp>

#include "station/device_run.h"
#include "station/natural_order.h"
#include "app/cli/output.h"
#include "station/visit.h"
#include "tests/cli/cli_run.h"

namespace wxr::cli {
namespace {

// Rows: from each state in order; columns: the events in order; a cell is
// the state moved to (its first letter, D for departed) or '.' for refused.
TEST(Visit, MovesOnlyByTheTable) {
    using S = VisitState;
    constexpr S kStates[] = {S::Seen, S::Probing, S::NotOurs, S::Waiting, S::Querying, S::Writing, S::Ended, S::Departed};
    const char* kMoves[] = {
        //        probe not-ours identified no-answer in-use admit hold-back begin-write finish written-before gone
        /* seen     */ "P.........D",
        /* probing  */ ".NWEE.E....",
        /* not ours */ "P.........D",
        /* waiting  */ ".....QE..E.",
        /* querying */ ".......WE..",
        /* writing  */ "........E..",
        /* ended    */ "..........D",
        /* departed */ "...........",
    };
    auto letter = [](S state) {
        std::string name = state_name(state);
        return state == S::Departed ? 'D' : state == S::NotOurs ? 'N' : static_cast<char>(std::toupper(name[0]));
    };
    for (std::size_t from = 0; from < std::size(kStates); ++from) {
        for (std::size_t event = 0; event <= static_cast<std::size_t>(VisitEvent::Gone); ++event) {
            auto to = next_state(kStates[from], static_cast<VisitEvent>(event));
            EXPECT_EQ(to ? letter(*to) : '.', kMoves[from][event])
                << state_name(kStates[from]) << " on " << event_name(static_cast<VisitEvent>(event));
        }
    }
    Visit visit{7, u"sim:0"};
    EXPECT_THROW(visit.apply(VisitEvent::Admit), std::logic_error);
    EXPECT_EQ(visit.state, VisitState::Seen);
}

TEST(Visit, PathsInNaturalOrder) {
    const std::pair<std::u16string, std::u16string> kLess[] = {
        {u"sim:2", u"sim:10"},        {u"/dev/hidraw2", u"/dev/hidraw10"}, {u"sim:9", u"sim:a"},
        {u"hub-1.2", u"hub-1.10"},    {u"hidraw01", u"hidraw1"},           {u"a", u"ab"},
        {u"x2y9z", u"x2y10"},         {u"", u"0"},
    };
    for (const auto& [a, b] : kLess) {
        EXPECT_TRUE(natural_less(a, b)) << to_utf8(a) << " < " << to_utf8(b);
        EXPECT_FALSE(natural_less(b, a)) << to_utf8(b) << " < " << to_utf8(a);
        EXPECT_FALSE(natural_less(a, a));
    }
}

std::vector<std::string> results_of(const std::string& out) {
    std::vector<std::string> found;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        auto object = nlohmann::json::parse(line, nullptr, false);
        if (object.contains("result")) found.push_back(object["path"].get<std::string>() + " " + object["result"].get<std::string>());
    }
    return found;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Benches each of which once went wrong: every unit gets its result, by one
// rule, with the same bytes out (and in the trace) on every run.
TEST(Station, EveryUnitIsWrittenOrToldAndEveryRunAlike) {
    const std::string fw16 = bench_image_file(16, 3, "station"), fw22 = bench_image_file(22, 3, "station");
    // Named per run: two runs of the tests on one machine keep to their own.
    const std::string trace = (std::filesystem::temp_directory_path() /
                               ("wxr7305_station_trace_" + std::to_string(std::random_device{}()) + ".txt")).string();
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> results;
        int code;
    };
    const Case cases[] = {
        // A unit held back while the last --count slot was busy takes it when that write fails.
        {{"--watch", "--count", "1", "--simulate=devices=2,version=50,0:silent-after=2000,1:arrive-at=300"},
         {"sim:0 failed", "sim:1 success"}, kExitUpgradeFailed},
        // A plain upgrade writes the first unit in path order that the firmware fits.
        {{"--simulate=devices=3,0:sensor=4"}, {"sim:1 success"}, kExitSuccess},
        {{"--simulate=devices=3,0:model=99,1:model=22", "--image", fw16, "--image", fw22}, {"sim:1 success"}, kExitSuccess},
        // Units arriving at once are written in path order; those past the count are told.
        {{"--watch", "--count", "2", "--simulate=devices=3,version=50"},
         {"sim:0 success", "sim:1 success", "sim:2 not-written"}, kExitSuccess},
        // Ctrl-C while they are still asked: each is told, and the stop is the outcome.
        {{"--all", "--simulate=devices=3,ctrl-c-at=10"},
         {"sim:0 not-written", "sim:1 not-written", "sim:2 not-written"}, kExitStopped},
        // Two presses while both are asked, and SIGTERM after a press: no second press then, so
        // the write goes on; either way a stop that left a unit unwritten is no success.
        {{"--all", "--simulate=devices=2,answer-after=2000,ctrl-c-at=100,ctrl-c-at=400"},
         {"sim:0 not-written", "sim:1 not-written"}, kExitStopped},
        {{"--all", "--simulate=devices=2,1:answer-after=2000,ctrl-c-at=100,sigterm-at=400"},
         {"sim:1 not-written", "sim:0 success"}, kExitStopped},
        // A location that names several units writes them as --all does.
        {{"--device", "hubA", "--simulate=devices=3,location=hubA,1:model=22"},
         {"sim:1 refused", "sim:0 success", "sim:2 success"}, kExitMismatch},
        // Another unit in the place of one that left is a visit of its own.
        {{"--watch", "--simulate=devices=2,0:leave-after=3000,1:arrive-at=3000,1:path=sim:0,version=50"},
         {"sim:0 success", "sim:0 success"}, kExitSuccess},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"upgrade", "--json", "--virtual-time", "--trace", trace};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Outcome first = wxr7305(args);
        std::string first_trace = read_text(trace);
        EXPECT_EQ(results_of(first.out), c.results) << c.args[0] << " " << c.args.back() << "\n" << first.err;
        EXPECT_EQ(first.code, c.code) << c.args.back();
        for (int again = 0; again < 2; ++again) {
            Outcome next = wxr7305(args);
            EXPECT_EQ(next.out, first.out) << c.args.back();
            EXPECT_EQ(read_text(trace), first_trace) << c.args.back();
        }
    }
    // The summary says what a location named: each unit, and the count.
    Outcome text = wxr7305({"upgrade", "--virtual-time", "--device", "hubA", "--simulate=devices=3,location=hubA,1:model=22"});
    EXPECT_TRUE(contains(text.out, "sim:1  refused")) << text.out;
    EXPECT_TRUE(contains(text.out, "3 units: 2 written, 1 refused (3 visits)\n")) << text.out;
    for (const auto& file : {fw16, fw22, trace}) std::filesystem::remove(file);
}

// Each unit's bar runs over its own image: a larger one for TQ22 reaches 100 %.
TEST(Station, AMixedBenchShowsEachUnitsProgressOverItsOwnImage) {
    const std::string fw16 = bench_image_file(16, 3, "progress"), fw22 = bench_image_file(22, 3, "progress");
    std::ofstream(fw16, std::ios::binary | std::ios::app) << std::string(20000, '\xFF');  // the larger, given first
    Outcome r = wxr7305({"upgrade", "--all", "--virtual-time", "--simulate=devices=2,1:model=22", "--image", fw16,
                         "--image", fw22});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "sim:0 progress 100%")) << r.out;
    EXPECT_TRUE(contains(r.out, "sim:1 progress 100%")) << r.out;
    EXPECT_EQ(contains(r.out, "Simulated device sim:1: flash equals the image"), true) << r.out;
    for (const auto& file : {fw16, fw22}) std::filesystem::remove(file);
}

// What a device or the system reports reaches a terminal only as text: no
// escape sequence, no bell, no line of its own.
TEST(Station, ResultLinesShowControlBytesEscaped) {
    RunReport report;
    report.path = u"sim:\x1b[2J0";
    report.result = RunResult::Success;
    report.location = "hub\x07-1";
    report.serial = "A1\nsim:9  success  1.00 s";
    EXPECT_EQ(result_line(report),
              "sim:\\x1b[2J0  success  0.00 s  at hub\\x07-1  serial A1\\x0asim:9  success  1.00 s\n");
}

// Two names for one file: refused before anything is opened for writing,
// whichever command, whatever the link.
TEST(Station, FilesThatAreOneFileAreRefusedBeforeAnyWrite) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "wxr7305_aliases";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string image = bench_image_file(16, 3, "aliases"), log = (dir / "log.jsonl").string();
    std::ofstream(log, std::ios::binary) << "{\"kept\":true}\n";
    fs::create_hard_link(image, dir / "hard.bin");
    std::error_code no_links;  // Windows without symbolic links: those rows are left out
    fs::create_symlink(log, dir / "soft.jsonl", no_links);
    fs::create_symlink(dir / "new.txt", dir / "dangling", no_links);
    const std::string image_bytes = read_text(image);
    const std::vector<std::string> sim = {"--simulate", "--virtual-time"};
    const std::vector<std::vector<std::string>> commands = {
        {"upgrade", "--trace", log, "--log", log},
        {"upgrade", "--trace", (dir / "soft.jsonl").string(), "--log", log},
        {"upgrade", "--image", image, "--log", image},
        {"upgrade", "--image", image, "--log", (dir / "hard.bin").string()},
        {"upgrade", "--trace", (dir / "new.txt").string(), "--log", (dir / "dangling").string()},
        {"list", "--image", image, "--trace", image},
    };
    for (auto args : commands) {
        if (no_links && (contains(args[2] + args[4], "soft") || contains(args[4], "dangling"))) continue;
        args.insert(args.end(), sim.begin(), sim.end());
        Outcome r = wxr7305(args);
        EXPECT_EQ(r.code, kExitOther) << args[2] << " " << args[4];
        EXPECT_TRUE(contains(r.err, "nothing was written")) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(read_text(log), "{\"kept\":true}\n");
        EXPECT_EQ(read_text(image), image_bytes);
        EXPECT_FALSE(fs::exists(dir / "new.txt"));
    }
    fs::remove_all(dir);
    fs::remove(image);
}

#ifndef _WIN32
// The command's own output is a file of the command too: a log or trace that
// is it is refused before a record is written; output and error output
// sharing one file (`> out 2>&1`) is the usual way to keep both.
TEST(Station, TheCommandsOwnOutputIsOneOfItsFiles) {
    namespace fs = std::filesystem;
    const fs::path out = fs::temp_directory_path() / ("wxr7305_own_output_" + std::to_string(::getpid()));
    const std::string program = WXR7305_PROGRAM;
    const struct {
        std::string words;
        int code;
        std::string says;
    } cases[] = {
        {"--log /dev/stdout", kExitOther, "the command's output is the log file /dev/stdout"},
        {"--trace /dev/stdout", kExitOther, "the command's output is the trace file /dev/stdout"},
        {"--log /dev/stderr", kExitOther, "is the log file /dev/stderr"},
        {"", kExitSuccess, "1 unit: 1 written"},
    };
    for (const auto& c : cases) {
        fs::remove(out);
        const std::string line = program + " upgrade --all --virtual-time --simulate=version=50 " + c.words + " > " +
                                 out.string() + " 2>&1";
        const int status = std::system(line.c_str());
        EXPECT_EQ(WEXITSTATUS(status), c.code) << line;
        EXPECT_TRUE(contains(read_text(out.string()), c.says)) << read_text(out.string());
    }
    fs::remove(out);
}
#endif

}  // namespace
}  // namespace wxr::cli
