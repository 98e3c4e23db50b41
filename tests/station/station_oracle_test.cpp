// The station against an oracle: random benches from a seed (plain, --all,
// --device by path or location, --watch with --count or --device, units
// without a serial, with one of their own or sharing one, arrivals at once,
// returns and units swapped at one path, mixed images, --log that may fail
// part-way, Ctrl-C at any moment, files that alias), each unit's results
// worked out from its simulation keys alone, then the real command run twice
// on the virtual clock: every visit's result, the exit code, the summary, the
// log's whole lines and pairs, and byte-identical repeats (one in eight first
// served on a page, which must change nothing).
//
// Reproduce one seed:  WXR7305_ORACLE_SEED=1234 station_oracle_tests
// More or fewer seeds: WXR7305_ORACLE_SEEDS=5000 station_oracle_tests
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "tests/cli/cli_run.h"

namespace wxr::cli {
namespace {

// The built-in image: 22 blocks, version 57, TQ16 LX300. The mixed bench adds TQ22.
constexpr int kImageVersion = 57;
constexpr int kImageBlocks = 22;
constexpr int kOtherImageModel = 22;
constexpr int kNoImageModel = 99;
// Resend bounds of the procedure: a fault repeated fewer times is overcome.
constexpr int kBlockSends = 8;
constexpr int kBlockReportTries = 16;
// Writes before the first chunk (identify in probe and query, start, two
// one-shots) and the writes of the transfer before its end report.
constexpr int kWritesBeforeChunks = 5;
constexpr int kTransferWrites = 2486;
// Operations of a clean write, about: faults placed well inside it.
constexpr int kFirstWriteOp = 1000;
constexpr int kLastWriteOp = 7000;
// A unit is dealt with well within a slot (seen within a look, written in
// under 4 s even when busy); a group of arrivals gets a slot per unit, so
// groups never overlap even when --count writes them one after another.
constexpr int kSlotMs = 6000;
constexpr int kReplugGapMs = 1000;
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultSeeds = 16;
#elif defined(_WIN32)
// The same station as on Linux, six times slower under wine: a fifth of the
// benches still reaches every key; the native run covers the rest.
constexpr int kDefaultSeeds = 400;
#else
constexpr int kDefaultSeeds = 2000;
#endif
constexpr int kShards = 4;

enum class Fault {
    None, Busy, BlockCheckOvercome, BlockReportOvercome, DropInTransfer,  // written fine
    BlockCheckFatal, BlockReportFatal, UnplugInWrite, SilentInWrite,     // the write fails
    OtherSensor, OtherModel,                                             // refused
    NotOurDescriptor,                                                    // no result at all
    NeverAnswers, GoneBeforeAnswer,                                      // no-answer
    GoneBeforeWrite,                                                     // the query fails
    InUse,                                                               // another program has it
};
constexpr int kDescriptorOps = 3;  // open, caps, attributes
constexpr int kProbeOps = 5;       // ... up to its identity reply
constexpr int kBeforeWriteOps = 9;  // ... the query and the start

enum class Mode { Plain, All, Watch, DevicePath, DeviceLocation, WatchDevice };

bool watching(Mode m) { return m == Mode::Watch || m == Mode::WatchDevice; }
enum class LogKind { None, Whole, Torn, Failing };

struct Unit {
    std::vector<std::string> keys;
    Fault fault = Fault::None;
    bool current = false;  // already runs the image's version
    int model = 16;
    int arrive_ms = 0;
    std::optional<int> return_ms;    // switched off and on, back at this time
    std::optional<std::size_t> takes_place_of;  // arrives at that unit's path once it has left
    bool at_location = false;        // --device LOCATION names it
    std::string serial;              // empty: none
    bool named = true;               // --watch --device names it
};

// The serial a placeholder gives every unit that has it.
constexpr char kSharedSerial[] = "SAME";

struct Scenario {
    Mode mode = Mode::All;
    std::vector<Unit> units;
    bool mixed = false, force = false, trace = false, alias = false, by_link = false;
    bool serve = false;  // the first run serves the page: its repeat, without, must match byte for byte
    bool into_stdout = false;  // the command's standard output is a file its --log or --trace names
    std::optional<int> count;
    std::string stops;  // the --simulate text's ctrl-c-at and sigterm-at keys, each with its leading comma
    LogKind log = LogKind::None;
    std::size_t log_room = 0;  // Failing: bytes the log may grow
    std::vector<std::string> args;
};

// One visit's result as the oracle sees it: one of `allowed`; with `maybe`,
// the visit may not happen at all (a stop came first).
struct Want {
    std::set<std::string> allowed;
    bool maybe = false;
};
using Wants = std::map<std::string, std::vector<Want>>;

template <typename T>
T pick(std::mt19937& rng, std::initializer_list<T> choices) {
    return *(choices.begin() + std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(rng));
}
int between(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
bool one_in(std::mt19937& rng, int n) { return between(rng, 1, n) == 1; }

std::string path_of(const Scenario& s, std::size_t i) {
    return "sim:" + std::to_string(s.units[i].takes_place_of.value_or(i));
}

bool fails_to_write(Fault f) {
    return f == Fault::BlockCheckFatal || f == Fault::BlockReportFatal || f == Fault::UnplugInWrite ||
           f == Fault::SilentInWrite || f == Fault::GoneBeforeWrite;
}
bool never_answers(Fault f) { return f == Fault::NeverAnswers || f == Fault::GoneBeforeAnswer; }
bool has_image(const Scenario& s, const Unit& u) {
    return u.fault != Fault::OtherSensor && (u.model == 16 || (s.mixed && u.model == kOtherImageModel));
}

// What one visit brings: nullopt for none.
std::optional<std::string> visit_result(const Scenario& s, const Unit& unit, bool returning) {
    if (unit.fault == Fault::NotOurDescriptor) return std::nullopt;
    if (unit.fault == Fault::InUse) return "failed";  // its claim, before any request
    if (never_answers(unit.fault)) return "no-answer";
    if (unit.fault == Fault::GoneBeforeWrite) return "failed";  // the query fails first
    if (!has_image(s, unit)) return "refused";
    if (watching(s.mode) && !s.force && (unit.current || returning)) return "skipped";
    if (returning) return "success";  // faults counted per write are used up by the first
    return fails_to_write(unit.fault) ? "failed" : "success";
}

// None, one of its own, or a placeholder that other units report too.
void give_serial(std::mt19937& rng, Unit& unit, std::size_t index) {
    const int kind = between(rng, 0, 3);
    unit.serial = kind < 2 ? "" : kind == 2 ? "S" + std::to_string(index) : kSharedSerial;
}

void give_fault(std::mt19937& rng, const Scenario& s, Unit& unit) {
    unit.fault = static_cast<Fault>(between(rng, 0, static_cast<int>(Fault::InUse)));
    if (one_in(rng, 3)) unit.fault = Fault::None;
    std::string gone = pick<std::string>(rng, {"unplug-after=", "silent-after="});
    std::string block = std::to_string(between(rng, 0, kImageBlocks - 1));
    auto& k = unit.keys;
    switch (unit.fault) {
        case Fault::None: break;
        case Fault::Busy: k.push_back("busy=" + std::to_string(between(rng, 1, 4))); break;
        case Fault::BlockCheckOvercome:
            k.push_back("fail-block-check=" + block + ":" + std::to_string(between(rng, 1, kBlockSends - 1)));
            break;
        case Fault::BlockReportOvercome:
            k.push_back("refuse-block-report=" + block + ":" + std::to_string(between(rng, 1, kBlockReportTries - 1)));
            break;
        case Fault::DropInTransfer:
            k.push_back("drop=" + std::to_string(between(rng, kWritesBeforeChunks + 1, kWritesBeforeChunks + kTransferWrites)));
            break;
        case Fault::BlockCheckFatal: k.push_back("fail-block-check=" + block + ":" + std::to_string(kBlockSends)); break;
        case Fault::BlockReportFatal: k.push_back("refuse-block-report=" + block + ":" + std::to_string(kBlockReportTries)); break;
        case Fault::UnplugInWrite: k.push_back("unplug-after=" + std::to_string(between(rng, kFirstWriteOp, kLastWriteOp))); break;
        case Fault::SilentInWrite: k.push_back("silent-after=" + std::to_string(between(rng, kFirstWriteOp, kLastWriteOp))); break;
        case Fault::OtherSensor: k.push_back("sensor=" + std::to_string(pick(rng, {0, 1, 2, 4}))); break;
        case Fault::OtherModel:
            unit.model = s.mixed ? kNoImageModel : pick(rng, {0, 7, 15, 17, 255});
            break;
        case Fault::NotOurDescriptor:
            k.push_back(between(rng, 0, 2) ? "report-length=" + std::to_string(pick(rng, {20, 22, 64}))
                                           : "unplug-after=" + std::to_string(between(rng, 0, kDescriptorOps - 1)));
            break;
        case Fault::NeverAnswers: k.push_back(pick<std::string>(rng, {"silent", "stay-busy", "garbage"})); break;
        case Fault::GoneBeforeAnswer:
            // Silence leaves the descriptor readable; an unplugged unit must be gone after it.
            k.push_back(gone + std::to_string(between(rng, gone[0] == 'u' ? kDescriptorOps : 0, kProbeOps)));
            break;
        case Fault::GoneBeforeWrite: k.push_back(gone + std::to_string(between(rng, kProbeOps + 1, kBeforeWriteOps))); break;
        // Longer than the claim is waited for, shorter than a slot.
        case Fault::InUse: k.push_back("in-use-for=" + std::to_string(between(rng, 3000, 5000))); break;
    }
    if (s.mixed && unit.fault != Fault::OtherModel) unit.model = pick(rng, {16, kOtherImageModel, kNoImageModel});
    k.push_back("model=" + std::to_string(unit.model));
}

// A unit that failed is not switched off and on: what it runs then is no oracle's business.
bool may_return(const Unit& u) {
    return !fails_to_write(u.fault) && u.fault != Fault::NotOurDescriptor && !never_answers(u.fault) &&
           u.fault != Fault::InUse;
}

// Arrival groups a slot per unit apart; a unit's second event is its return;
// a unit swapped in comes last, once the one it replaces has left.
void place(std::mt19937& rng, Scenario& s) {
    std::vector<std::vector<std::size_t>> groups;
    std::vector<std::size_t> events;
    for (std::size_t i = 0; i < s.units.size(); ++i) {
        events.push_back(i);
        if (may_return(s.units[i]) && one_in(rng, 3)) events.push_back(i);
    }
    std::shuffle(events.begin(), events.end(), rng);
    std::vector<bool> arrived(s.units.size(), false);
    std::vector<std::vector<std::size_t>> order;  // groups of events that happen at once
    for (std::size_t e : events) {
        // A return never shares a group with its own arrival.
        if (order.empty() || one_in(rng, 2) || std::count(order.back().begin(), order.back().end(), e)) order.emplace_back();
        order.back().push_back(e);
    }
    int at = 0;
    for (const auto& group : order) {
        for (std::size_t i : group) {
            Unit& u = s.units[i];
            if (!arrived[i]) {
                arrived[i] = true;
                u.arrive_ms = at;
            } else {
                u.return_ms = at;
            }
        }
        at += kSlotMs * static_cast<int>(group.size());
    }
    // A unit that arrived and never returns may be replaced at its path.
    for (std::size_t i = 0; i < s.units.size() && one_in(rng, 3); ++i) {
        if (s.units[i].return_ms || s.units[i].takes_place_of) continue;
        Unit swap;
        swap.current = one_in(rng, 5);
        swap.keys.push_back("version=" + std::to_string(swap.current ? kImageVersion : pick(rng, {40, 50, 56, 58})));
        give_fault(rng, s, swap);
        swap.takes_place_of = i;
        give_serial(rng, swap, s.units.size());
        swap.arrive_ms = at;
        s.units[i].keys.push_back("leave-after=" + std::to_string(at - s.units[i].arrive_ms));
        s.units.push_back(swap);
        at += kSlotMs;
        break;
    }
    for (std::size_t i = 0; i < s.units.size(); ++i) {
        Unit& u = s.units[i];
        // Without --count, units of a group come close together rather than at once.
        // A unit sharing a serial arrives with its group: while it is seen, who else is there stays clear.
        if (!s.count && !u.return_ms && !u.takes_place_of && u.serial != kSharedSerial && one_in(rng, 2)) {
            u.arrive_ms += between(rng, 0, 30) * 100;
        }
        u.keys.push_back("arrive-at=" + std::to_string(u.arrive_ms));
        if (u.return_ms) u.keys.push_back("replug-after=" + std::to_string(*u.return_ms - kReplugGapMs - u.arrive_ms));
        if (u.takes_place_of) u.keys.push_back("path=sim:" + std::to_string(*u.takes_place_of));
    }
}

// The oracle's files: in memory where there is a place for them (a log's
// flushes to disk would cost most of the time), a folder per process (shards
// run side by side), gone when the process ends.
struct Files {
    std::string dir, image16, image22;
    Files() {
        std::error_code ec;
#ifdef _WIN32
        auto base = std::filesystem::temp_directory_path();
#else
        auto base = std::filesystem::is_directory("/dev/shm", ec) ? std::filesystem::path("/dev/shm")
                                                                  : std::filesystem::temp_directory_path();
#endif
        const std::string tag = "oracle" + std::to_string(std::random_device{}());
        dir = (base / ("wxr7305_" + tag)).string();
        std::filesystem::create_directories(dir);
        image16 = bench_image_file(16, 3, tag);
        image22 = bench_image_file(kOtherImageModel, 3, tag);
    }
    ~Files() {
        std::error_code ec;
        for (const auto& path : {dir, image16, image22}) std::filesystem::remove_all(path, ec);
    }
};

const Files& files() {
    static const Files f;
    return f;
}

std::string file_in(unsigned seed, const std::string& name) {
    return files().dir + "/" + std::to_string(seed) + "_" + name;
}

// Stops at every phase: a press, two presses, SIGTERM, and a press after
// SIGTERM (which is the second), early enough to fall in probes and queries.
void more_stops(std::mt19937& rng, Scenario& s) {
    if (!s.stops.empty() || !one_in(rng, 5)) return;
    const int first = pick(rng, {between(rng, 0, 200), between(rng, 0, 3000), between(rng, 0, 20000)});
    const int second = first + between(rng, 0, 1500);
    const std::string at = std::to_string(first), then = std::to_string(second);
    s.stops = pick<std::string>(rng, {",ctrl-c-at=" + at + ",ctrl-c-at=" + then, ",sigterm-at=" + at,
                                      ",sigterm-at=" + at + ",ctrl-c-at=" + then,
                                      ",ctrl-c-at=" + at + ",sigterm-at=" + then});
    for (std::string& arg : s.args) {
        if (arg.rfind("--simulate=", 0) == 0) arg += s.stops;
    }
}

// `--log FILE > FILE`, or its trace: refused before anything is written.
// (Windows keeps its standard handles apart from the C runtime's descriptors.)
void into_stdout(std::mt19937& rng, unsigned seed, Scenario& s) {
#ifndef _WIN32
    if (s.alias || !one_in(rng, 25)) return;
    const char* option = s.log == LogKind::None ? "--log" : !s.trace ? "--trace" : nullptr;
    if (!option) return;
    s.alias = s.into_stdout = true;
    s.args.insert(s.args.end(), {option, file_in(seed, "stdout")});
#else
    (void)rng, (void)seed, (void)s;
#endif
}

Scenario generate(unsigned seed) {
    std::mt19937 rng(seed);
    Scenario s;
    s.mode = pick(rng, {Mode::Plain, Mode::All, Mode::All, Mode::Watch, Mode::Watch, Mode::Watch, Mode::DevicePath,
                        Mode::DeviceLocation, Mode::WatchDevice});
    s.mixed = one_in(rng, 4);
    s.force = watching(s.mode) && one_in(rng, 4);
    s.units.resize(static_cast<std::size_t>(between(rng, 1, 7)));
    for (Unit& u : s.units) {
        u.current = one_in(rng, 5);
        u.keys.push_back("version=" + std::to_string(u.current ? kImageVersion : pick(rng, {40, 50, 56, 58})));
        give_fault(rng, s, u);
        u.at_location = one_in(rng, 2);
        u.named = s.mode != Mode::WatchDevice || one_in(rng, 2);
    }
    s.units.front().named = true;  // a station keeps to one port at least
    for (std::size_t i = 0; i < s.units.size(); ++i) give_serial(rng, s.units[i], i);
    if (watching(s.mode)) {
        if (one_in(rng, 2)) s.count = between(rng, 1, static_cast<int>(s.units.size()));
        place(rng, s);
    }
    if (one_in(rng, 6)) s.stops = ",ctrl-c-at=" + std::to_string(pick(rng, {between(rng, 0, 60), between(rng, 0, 20000)}));
    s.log = pick(rng, {LogKind::None, LogKind::None, LogKind::Whole, LogKind::Torn, LogKind::Failing});
#ifdef _WIN32
    if (s.log == LogKind::Failing) s.log = LogKind::Whole;  // no file-size limit to make it fail
#endif
    s.log_room = static_cast<std::size_t>(between(rng, 0, 3000));
    s.trace = s.log != LogKind::Failing && one_in(rng, 4);
    s.alias = one_in(rng, 25);

    std::string spec = "devices=" + std::to_string(s.units.size());
    spec += s.stops;
    for (std::size_t i = 0; i < s.units.size(); ++i) {
        for (const auto& key : s.units[i].keys) spec += "," + std::to_string(i) + ":" + key;
        // Units at one location are told apart by their paths only while present together: the
        // location is given where all are present at once.
        if (s.units[i].at_location && s.mode == Mode::DeviceLocation) spec += "," + std::to_string(i) + ":location=hubA";
        if (!s.units[i].serial.empty()) spec += "," + std::to_string(i) + ":serial=" + s.units[i].serial;
    }
    s.args = {"upgrade", "--json", "--virtual-time", "--simulate=" + spec};
    if (s.mode == Mode::All) s.args.push_back("--all");
    if (watching(s.mode)) s.args.push_back("--watch");
    if (s.mode == Mode::WatchDevice) {
        // Each named unit by its own port (its location); a unit swapped into its path is not named.
        for (std::size_t i = 0; i < s.units.size(); ++i) {
            if (s.units[i].named && !s.units[i].takes_place_of) {
                s.args.insert(s.args.end(), {"--device", "sim-usb-1." + std::to_string(i + 1)});
            }
        }
    }
    if (s.mode == Mode::DevicePath) s.args.insert(s.args.end(), {"--device", "sim:" + std::to_string(between(rng, 0, 7))});
    if (s.mode == Mode::DeviceLocation) s.args.insert(s.args.end(), {"--device", "hubA"});
    if (s.force) s.args.push_back("--force");
    if (s.count) s.args.insert(s.args.end(), {"--count", std::to_string(*s.count)});
    if (s.mixed) s.args.insert(s.args.end(), {"--image", files().image16, "--image", files().image22});
    if (s.log != LogKind::None) s.args.insert(s.args.end(), {"--log", file_in(seed, "log.jsonl")});
    if (s.trace) s.args.insert(s.args.end(), {"--trace", file_in(seed, "trace.txt")});
    if (s.alias) {
        // The log under the name of another file of the command: the image, or the trace through a link.
        std::string target = s.mixed ? files().image22 : file_in(seed, "trace.txt");
        if (!s.mixed) s.args.insert(s.args.end(), {"--trace", target});
        s.by_link = one_in(rng, 2);
#ifdef _WIN32
        s.by_link = s.by_link && s.mixed;  // no symbolic links: a hard link needs a file to link to
#endif
        s.args.insert(s.args.end(), {"--log", s.by_link ? file_in(seed, "link") : target});
    }
    s.serve = one_in(rng, 8);  // drawn last: the seeds' other choices stay as they were
    more_stops(rng, s);
    into_stdout(rng, seed, s);
    return s;
}

// Units in front of the station from the start, written side by side.
Wants expect_present(const Scenario& s) {
    Wants wants;
    std::vector<std::size_t> units;
    auto named = std::find(s.args.begin(), s.args.end(), "--device");
    const std::string device = named == s.args.end() ? "" : *(named + 1);
    for (std::size_t i = 0; i < s.units.size(); ++i) {
        if (s.mode == Mode::DevicePath && device != "sim:" + std::to_string(i)) continue;
        if (s.mode == Mode::DeviceLocation && !s.units[i].at_location) continue;
        units.push_back(i);
    }
    for (std::size_t i : units) {
        if (auto r = visit_result(s, s.units[i], false)) wants[path_of(s, i)].push_back({{*r}});
    }
    return wants;
}

// The dialog's pass: units that answer at once (of the image's model, on a
// bench of one image); the first in path order with an image is written.
Wants expect_plain(const Scenario& s) {
    std::optional<std::size_t> chosen;
    std::vector<std::size_t> answered;
    for (std::size_t i = 0; i < s.units.size(); ++i) {
        const Unit& u = s.units[i];
        if (u.fault == Fault::NotOurDescriptor || never_answers(u.fault) || u.fault == Fault::InUse ||
            (!s.mixed && u.model != 16)) {
            continue;
        }
        answered.push_back(i);
        if (!chosen || (has_image(s, u) && !has_image(s, s.units[*chosen]))) chosen = i;
    }
    Wants wants;
    // Stopped before the choice, every unit that answered is told as not written.
    for (std::size_t i : answered) wants[path_of(s, i)].push_back({{"not-written"}, true});
    if (chosen) wants[path_of(s, *chosen)] = {{{*visit_result(s, s.units[*chosen], false)}}};
    return wants;
}

// Whether unit j is attached at time t of a station (a unit that is
// unplugged, goes silent for good or is swapped out is gone after its visit).
bool present_at(const Scenario& s, std::size_t j, int t) {
    const Unit& u = s.units[j];
    if (!watching(s.mode)) return true;
    if (u.arrive_ms > t) return false;
    if (u.return_ms && t >= *u.return_ms - kReplugGapMs && t < *u.return_ms) return false;
    for (const std::string& key : u.keys) {
        // Taken away for good at its time; unplugged where its first visit ends for it.
        if (key.rfind("leave-after=", 0) == 0 && t >= u.arrive_ms + std::stoi(key.substr(12))) return false;
        const bool unplugged = key.rfind("unplug-after=", 0) == 0 &&
                               (u.fault == Fault::NotOurDescriptor || visit_result(s, u, false) == "failed" ||
                                visit_result(s, u, false) == "no-answer");
        if (unplugged && t > u.arrive_ms) return false;
    }
    return true;
}

// The units a station sees at all: those the --device options name.
bool seen(const Scenario& s, std::size_t i) {
    switch (s.mode) {
        case Mode::WatchDevice: return s.units[i].named && !s.units[i].takes_place_of;
        case Mode::DeviceLocation: return s.units[i].at_location;
        case Mode::DevicePath: {
            auto named = std::find(s.args.begin(), s.args.end(), "--device");
            return *(named + 1) == "sim:" + std::to_string(i);
        }
        default: return true;
    }
}

// Which unit a visit of unit i seen at time t counts as: its serial when no
// other unit there reports it, else the visit alone.
std::string unit_of(const Scenario& s, std::size_t i, int t, std::uint64_t visit) {
    const std::string& serial = s.units[i].serial;
    bool shared = false;
    for (std::size_t j = 0; j < s.units.size(); ++j) {
        shared = shared || (j != i && seen(s, j) && s.units[j].serial == serial && present_at(s, j, t));
    }
    return serial.empty() || shared ? "visit " + std::to_string(visit) : "serial " + serial;
}

// Event groups in time order. Within a group, units that answer take the
// slots as they become ready, in path order at one instant: with --count,
// any of them may be the ones written in the group that reaches the count;
// the rest are told as not written, and the station stops. A unit counts once
// toward --count when its serial says a return is the same unit.
Wants expect_watch(const Scenario& s) {
    std::map<int, std::vector<std::pair<std::size_t, bool>>> groups;  // time -> (unit, returning), path order
    for (std::size_t i = 0; i < s.units.size(); ++i) {
        if (!seen(s, i)) continue;
        groups[s.units[i].arrive_ms].push_back({i, false});
        if (s.units[i].return_ms) groups[*s.units[i].return_ms].push_back({i, true});
    }
    Wants wants;
    std::set<std::string> written;  // units toward --count, where a serial names them
    int successes = 0;
    for (auto& [at, group] : groups) {
        std::sort(group.begin(), group.end(), [&](auto a, auto b) { return path_of(s, a.first) < path_of(s, b.first); });
        if (s.count && successes >= *s.count) break;
        // A success counts toward --count unless its serial names a unit written before.
        auto counts = [&](std::size_t i) {
            const std::string unit = unit_of(s, i, at, 0);
            return unit.rfind("serial ", 0) != 0 || !written.contains(unit);
        };
        int could_write = 0;
        for (auto [i, returning] : group) could_write += visit_result(s, s.units[i], returning) == "success" && counts(i);
        const bool reaches = s.count && successes + could_write >= *s.count;
        for (auto [i, returning] : group) {
            auto r = visit_result(s, s.units[i], returning);
            if (!r) continue;
            bool waits = *r != "no-answer" && s.units[i].fault != Fault::InUse;
            Want want{{*r}};
            // The group that reaches the count: whichever units become ready first take the slots.
            if (waits && reaches) want.allowed.insert("not-written");
            if (*r == "success") {
                if (counts(i)) ++successes;
                if (const std::string unit = unit_of(s, i, at, 0); unit.rfind("serial ", 0) == 0) written.insert(unit);
            }
            wants[path_of(s, i)].push_back(want);
        }
        if (reaches) successes = std::max(successes, static_cast<int>(*s.count));
    }
    return wants;
}

Wants expect(const Scenario& s) {
    Wants wants = s.mode == Mode::Plain ? expect_plain(s) : watching(s.mode) ? expect_watch(s) : expect_present(s);
    // A stop, or a log that fails, may come before any visit, and keeps any
    // unit not yet being written from it.
    // Outside --watch and the plain upgrade's choice, a stop tells every unit
    // that was seen: one, two presses or SIGTERM, at any phase.
    const bool told = s.log != LogKind::Failing && s.mode != Mode::Plain && !watching(s.mode);
    if (!s.stops.empty() || s.log == LogKind::Failing) {
        for (auto& [path, list] : wants) {
            for (Want& w : list) {
                w.allowed.insert("not-written");
                w.maybe = !told;
            }
        }
    }
    return wants;
}

struct Ran {
    int code;
    std::string out, err, log, trace;
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What the log held before: nothing, whole lines, or a line torn by a crash.
std::string log_before(LogKind kind) {
    return kind == LogKind::Whole ? "{\"earlier\":1}\n" : kind == LogKind::Torn ? "{\"torn\":" : "";
}

// Another name for `target`: a symbolic link, or where there are none a hard
// link (generate() names a file still to be made only where links exist).
void make_link(const std::string& target, const std::string& name) {
    std::error_code ec;
    std::filesystem::create_symlink(target, name, ec);
    if (ec) std::filesystem::create_hard_link(target, name);
}

#ifndef _WIN32
// The process's standard output into `path` (emptied), for one run; the old
// descriptor to put back.
int stdout_into(const std::string& path) {
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(file, STDOUT_FILENO);
    close(file);
    return saved;
}

void stdout_back(int saved) {
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
}
#endif

Ran run_once(unsigned seed, const Scenario& s, bool serve = false) {
    for (const char* name : {"log.jsonl", "trace.txt", "link"}) std::filesystem::remove(file_in(seed, name));
    std::ofstream(file_in(seed, "log.jsonl"), std::ios::binary) << log_before(s.log);
    if (s.by_link) make_link(s.mixed ? files().image22 : file_in(seed, "trace.txt"), file_in(seed, "link"));
    std::ostringstream out, err;
    int code = 0;
    std::vector<std::string> args = s.args;
    if (serve) args.insert(args.end(), {"--serve", "127.0.0.1:0"});
#ifndef _WIN32
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    if (s.log == LogKind::Failing) {
        struct rlimit small = saved;
        small.rlim_cur = log_before(s.log).size() + s.log_room;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    const int saved_stdout = s.into_stdout ? stdout_into(file_in(seed, "stdout")) : -1;
    code = run(args, out, err, /*terminal=*/false);
    if (saved_stdout >= 0) stdout_back(saved_stdout);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, old_handler);
#else
    code = run(args, out, err, /*terminal=*/false);
#endif
    return {code, out.str(), err.str(), read_file(file_in(seed, "log.jsonl")), read_file(file_in(seed, "trace.txt"))};
}

// The log without what differs between runs of one command: times and host.
std::string steady_log(const std::string& log) {
    std::string out;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        auto record = nlohmann::json::parse(line, nullptr, false);
        if (record.is_object()) {
            for (const char* key : {"time", "host", "station_start"}) record.erase(key);
            line = record.dump();
        }
        out += line + "\n";
    }
    return out;
}

using Json = nlohmann::json;

// Results in order per path against what the oracle wants.
void check_results(const Wants& wants, const std::vector<Json>& results, std::string& problems) {
    std::map<std::string, std::vector<std::string>> got;
    for (const Json& r : results) got[r["path"]].push_back(r["result"]);
    std::set<std::string> paths;
    for (const auto& [p, _] : wants) paths.insert(p);
    for (const auto& [p, _] : got) paths.insert(p);
    for (const std::string& path : paths) {
        const auto& want = wants.count(path) ? wants.at(path) : std::vector<Want>{};
        const auto& have = got.count(path) ? got.at(path) : std::vector<std::string>{};
        std::size_t h = 0;
        for (const Want& w : want) {
            if (h < have.size() && w.allowed.count(have[h])) ++h;
            else if (!w.maybe) break;
        }
        if (h == have.size() && std::all_of(want.begin() + static_cast<std::ptrdiff_t>(std::min(want.size(), h)),
                                            want.end(), [](const Want& w) { return w.maybe; })) continue;
        std::string text = "  " + path + ": got";
        for (const auto& r : have) text += " " + r;
        text += "; wanted";
        for (const Want& w : want) {
            text += " {";
            for (const auto& a : w.allowed) text += a + (a == *w.allowed.rbegin() ? "" : "|");
            text += w.maybe ? "}?" : "}";
        }
        problems += text + "\n";
    }
}

// Whole lines; every start paired with its result, or its unit told as not
// recorded; every unit written has its start; every recorded result is there.
void check_log(const Scenario& s, const Ran& ran, const std::vector<Json>& results, std::string& problems) {
    std::string before = log_before(s.log);
    if (ran.log.compare(0, before.size(), before) != 0) return void(problems += "  the log lost what it held\n");
    std::string added = ran.log.substr(before.size());
    if (s.log == LogKind::Torn && !added.empty() && added[0] == '\n') added.erase(0, 1);
    else if (s.log == LogKind::Torn && !added.empty()) problems += "  a torn last line was not ended\n";
    if (!added.empty() && added.back() != '\n') problems += "  the log ends in the middle of a line\n";
    std::map<std::uint64_t, std::set<std::string>> records;  // visit -> start / result
    std::istringstream lines(added);
    for (std::string line; std::getline(lines, line);) {
        Json record = Json::parse(line, nullptr, false);
        if (!record.is_object()) return void(problems += "  a log line is no record: " + line + "\n");
        records[record["visit"]].insert(record["record"].get<std::string>());
    }
    for (const Json& r : results) {
        const auto& mine = records[r["visit"]];
        bool recorded = r.value("recorded", true);
        std::string phase = r.value("phase", "");
        bool written = r["result"] == "success" ||
                       (r["result"] == "failed" && phase != "query" && phase != "probe" && phase != "claim");
        if (written && !mine.count("start")) problems += "  " + r["path"].get<std::string>() + " written without a start record\n";
        if (recorded != (mine.count("result") > 0)) problems += "  " + r["path"].get<std::string>() + ": record and output disagree\n";
    }
    for (const auto& [visit, kinds] : records) {
        bool told = std::any_of(results.begin(), results.end(), [&](const Json& r) { return r["visit"] == visit; });
        if (kinds.count("start") && !kinds.count("result") && !told) problems += "  a start record without its unit\n";
    }
}

// A unit's result after another attempt: one held back, or skipped as
// current, leaves what an earlier attempt did.
std::string standing(const std::string& before, const std::string& attempt) {
    if (before.empty()) return attempt;
    if (attempt == "not-written" || (attempt == "skipped" && before == "success")) return before;
    return attempt;
}

// Which of the scenario's units a result is: by its own port (its location),
// or at hubA by its path.
std::size_t unit_index(const Json& r) {
    const std::string location = r["location"].is_string() ? r["location"].get<std::string>() : "";
    const std::string prefix = "sim-usb-1.";
    if (location.rfind(prefix, 0) == 0) return std::stoul(location.substr(prefix.size())) - 1;
    return std::stoul(r["path"].get<std::string>().substr(4));  // sim:N
}

// Each unit's result, by the unit as the oracle knows it: its serial where
// that is its alone at the time, else the visit: units are never merged but
// by a serial.
std::map<std::string, std::string> units_of(const Scenario& s, const std::vector<Json>& results, std::string& problems) {
    std::map<std::string, std::string> units;
    std::map<std::size_t, int> visits_of;  // results per unit so far: its arrival, then its return
    for (const Json& r : results) {
        const std::size_t i = unit_index(r);
        const Unit& u = s.units.at(i);
        const int t = visits_of[i]++ == 0 || !u.return_ms ? u.arrive_ms : *u.return_ms;
        const std::string unit = unit_of(s, i, t, r["visit"].get<std::uint64_t>());
        if (r["unit"] != unit) {
            problems += "  " + r["path"].get<std::string>() + " counted as unit " + r["unit"].dump() + ", not " + unit + "\n";
        }
        units[unit] = standing(units[unit], r["result"]);
    }
    return units;
}

// Outside --watch a stop that leaves a unit not written is no success; a
// station ends by a stop as a matter of course.
int exit_code_of(const std::map<std::string, std::string>& units, bool stopped, bool watch) {
    std::map<std::string, int> n;
    for (const auto& [unit, result] : units) ++n[result];
    if (n["failed"] + n["no-answer"] > 0) return kExitUpgradeFailed;
    if (n["refused"] > 0) return kExitMismatch;
    if (n["not-written"] > 0 && stopped && !watch) return kExitStopped;
    if (n["success"] + n["skipped"] + n["not-written"] > 0) return kExitSuccess;
    return kExitNoDevice;
}

// Units by the result they stand at, and every attempt.
void check_summary(const Json& summary, const std::map<std::string, std::string>& units, std::size_t attempts,
                   std::string& problems) {
    std::map<std::string, std::size_t> n;
    for (const auto& [unit, result] : units) ++n[result];
    bool right = summary["units"] == units.size() && summary["attempts"] == attempts;
    for (const char* result : {"success", "failed", "refused", "skipped", "no-answer", "not-written"}) {
        std::string key = result;
        std::replace(key.begin(), key.end(), '-', '_');
        right = right && summary[key] == n[result];
    }
    if (!right) problems += "  the summary miscounts: " + summary.dump() + "\n";
}

std::string command_line(const std::vector<std::string>& args) {
    std::string out = "wxr7305";
    for (const auto& a : args) out += " " + a;
    return out;
}

// Runs the scenario twice; empty when the command did as the oracle says, else what differs.
std::string check(unsigned seed) {
    Scenario s = generate(seed);
    std::string image = read_file(files().image22);
    Ran ran = run_once(seed, s, s.serve), again = run_once(seed, s);
    std::string problems;
    if (again.out != ran.out || again.code != ran.code || steady_log(again.log) != steady_log(ran.log) ||
        again.trace != ran.trace) {
        problems += s.serve ? "  the run without --serve differs\n" : "  a second run differs\n";
    }
    std::vector<Json> results;
    std::optional<Json> summary;
    std::istringstream lines(ran.out);
    for (std::string line; std::getline(lines, line);) {
        Json object = Json::parse(line, nullptr, false);
        if (object.contains("summary")) summary = object["summary"];
        if (!object.contains("result")) continue;
        results.push_back(object);
        if (object["result"] == "success" && object.value("simulated_flash_equals_image", false) != true) {
            problems += "  " + object["path"].get<std::string>() + ": success, but its flash is not the image\n";
        }
    }
    if (s.alias) {
        if (ran.code != kExitOther || !results.empty() || read_file(files().image22) != image ||
            ran.log != log_before(s.log) || (s.into_stdout && !read_file(file_in(seed, "stdout")).empty())) {
            problems += "  files that are one file were not refused before any write\n";
        }
    } else {
        check_results(expect(s), results, problems);
        if (s.log != LogKind::None) check_log(s, ran, results, problems);
        bool unrecorded = std::any_of(results.begin(), results.end(), [](const Json& r) { return !r.value("recorded", true); });
        const auto units = units_of(s, results, problems);
        int want_code = exit_code_of(units, contains(ran.err, "stopping:"), watching(s.mode));
        // Outside --watch, 0 only when every unit seen ended written or skipped.
        const bool all_written = std::all_of(units.begin(), units.end(), [](const auto& u) {
            return u.second == "success" || u.second == "skipped";
        });
        if (!watching(s.mode) && ran.code == kExitSuccess && !all_written) problems += "  exit 0 with a unit not written\n";
        if (unrecorded) want_code = std::max(want_code, static_cast<int>(kExitOther));
        if (ran.code != want_code) {
            problems += "  exit " + std::to_string(ran.code) + ", expected " + std::to_string(want_code) + "\n";
        }
        if (summary) check_summary(*summary, units, results.size(), problems);
    }
    if (problems.empty()) return {};
    return "seed " + std::to_string(seed) + " (reproduce: WXR7305_ORACLE_SEED=" + std::to_string(seed) +
           " station_oracle_tests)\n  " + command_line(s.args) + "\n" + problems + "  stderr: " + ran.err;
}

std::optional<unsigned> env_number(const char* name) {
    const char* text = std::getenv(name);
    if (!text || !*text) return std::nullopt;
    return static_cast<unsigned>(std::strtoul(text, nullptr, 10));
}

class StationOracle : public testing::TestWithParam<int> {};

TEST_P(StationOracle, EveryVisitGetsTheResultItsKeysCallFor) {
    if (auto one = env_number("WXR7305_ORACLE_SEED")) {
        if (GetParam() == 0) {
            std::printf("%s\n", command_line(generate(*one).args).c_str());
            EXPECT_EQ(check(*one), "");
        }
        return;
    }
    unsigned seeds = env_number("WXR7305_ORACLE_SEEDS").value_or(kDefaultSeeds);
    int mismatches = 0;
    for (unsigned seed = static_cast<unsigned>(GetParam()); seed < seeds; seed += kShards) {
        std::string problem = check(seed);
        if (problem.empty()) continue;
        if (++mismatches <= 3) ADD_FAILURE() << problem;  // a few in full are enough to go on
    }
    EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(Shards, StationOracle, testing::Range(0, kShards));

}  // namespace
}  // namespace wxr::cli
