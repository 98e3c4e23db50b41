#include "device/sim/sim_spec.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>
#include <optional>

namespace wxr::sim {

namespace {

// A day's work of a bench, for the soak: more is no use to anyone.
constexpr long kMaxDevices = 10000;
// A day of the clock is more than any test or demo needs.
constexpr long kMaxTimeMs = 86'400'000;
// Longer than any location path or serial number a system shows.
constexpr std::size_t kMaxTextChars = 128;
// Keys that describe the set, not one interface.
constexpr std::string_view kSetKeys[] = {"devices", "arrive-every", "ctrl-c-at", "sigterm-at"};
// Keys that describe one interface only.
constexpr std::string_view kOneKeys[] = {"path"};

// Plain decimal digits only: no sign, no space.
std::optional<long> number(std::string_view text, long min, long max) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    long value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || ptr != text.data() + text.size() || value < min || value > max) return std::nullopt;
    return value;
}

// "block:times"
std::optional<std::pair<int, int>> block_and_times(std::string_view text) {
    auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto block = number(text.substr(0, colon), 0, 36);
    auto times = number(text.substr(colon + 1), 0, 1000000);
    if (!block || !times) return std::nullopt;
    return std::pair{static_cast<int>(*block), static_cast<int>(*times)};
}

// What the whole set of interfaces is, beside each one's config.
struct Shape {
    long devices = 1;
    long arrive_every_ms = 0;
    std::vector<SimStop> stops;
};

using Apply = std::function<bool(SimInterfaceConfig&, Shape&, std::string_view)>;

struct Key {
    bool takes_value;
    const char* help;
    Apply apply;
};

// A key whose value is a number from min to max, handed to store.
template <typename Store>
Apply numeric(long min, long max, Store store) {
    return [=](SimInterfaceConfig& config, Shape& shape, std::string_view text) {
        auto n = number(text, min, max);
        if (n) store(config, shape, *n);
        return n.has_value();
    };
}

// A key whose value is "block:times", handed to store.
template <typename Store>
Apply per_block(Store store) {
    return [=](SimInterfaceConfig& config, Shape&, std::string_view text) {
        auto bk = block_and_times(text);
        if (bk) store(config, bk->first, bk->second);
        return bk.has_value();
    };
}

// A key whose value is a text of printable characters.
template <typename Store>
Apply text(Store store) {
    return [=](SimInterfaceConfig& config, Shape&, std::string_view value) {
        bool printable = !value.empty() && value.size() <= kMaxTextChars &&
                         std::all_of(value.begin(), value.end(), [](char c) { return c > ' ' && c < 0x7F; });
        if (printable) store(config, value);
        return printable;
    };
}

// A key without a value.
template <typename Store>
Apply flag(Store store) {
    return [=](SimInterfaceConfig& config, Shape&, std::string_view) {
        store(config);
        return true;
    };
}

const std::map<std::string_view, Key>& keys() {
    using C = SimInterfaceConfig;
    using u8 = std::uint8_t;
    using u64 = std::uint64_t;
    static const std::map<std::string_view, Key> table = {
        {"model", {true, "model=N       model byte the device reports (default: the firmware's)",
                   numeric(0, 255, [](C& c, Shape&, long n) { c.identity.model = static_cast<u8>(n); })}},
        {"sensor", {true, "sensor=N      sensor byte the device reports (default: the firmware's)",
                    numeric(0, 255, [](C& c, Shape&, long n) { c.identity.sensor = static_cast<u8>(n); })}},
        {"version", {true, "version=N     firmware version the device reports (default 57)",
                     numeric(0, 255, [](C& c, Shape&, long n) { c.identity.version = static_cast<u8>(n); })}},
        {"busy", {true, "busy=N        status reads answered busy after each command",
                  numeric(0, 1000, [](C& c, Shape&, long n) { c.model_faults.busy_reads = static_cast<int>(n); })}},
        {"devices", {true, "devices=N     number of such interfaces (default 1)",
                     numeric(0, kMaxDevices, [](C&, Shape& shape, long n) { shape.devices = n; })}},
        {"arrive-every", {true, "arrive-every=MS  interface I is plugged in at I*MS ms of the clock",
                          numeric(0, kMaxTimeMs, [](C&, Shape& shape, long n) { shape.arrive_every_ms = n; })}},
        {"ctrl-c-at", {true, "ctrl-c-at=MS  Ctrl-C is pressed at MS ms of the clock; given again, pressed again\n"
                             "                (a second press while a unit is written ends the process:\n"
                             "                not simulated, it is let go by)",
                       numeric(0, kMaxTimeMs, [](C&, Shape& shape, long n) {
                           shape.stops.push_back({static_cast<u64>(n), false});
                       })}},
        {"sigterm-at", {true, "sigterm-at=MS  the system asks the program to stop (SIGTERM) at MS ms of the clock",
                        numeric(0, kMaxTimeMs, [](C&, Shape& shape, long n) {
                            shape.stops.push_back({static_cast<u64>(n), true});
                        })}},
        {"path", {true, "path=TEXT     the interface's path (default sim:I); a unit given the path of\n"
                        "                another takes its place when that one has left",
                  text([](C& c, std::string_view v) { c.path = std::u16string(v.begin(), v.end()); })}},
        {"arrive-at", {true, "arrive-at=MS  the interface is plugged in at MS ms of the clock",
                       numeric(0, kMaxTimeMs, [](C& c, Shape&, long n) {
                           c.presence.arrive_ms = static_cast<u64>(n);
                       })}},
        {"replug-after", {true, "replug-after=MS  MS ms after arriving the interface is switched off and on\n"
                                "                again (away 1 s), running what was written to it",
                          numeric(0, kMaxTimeMs, [](C& c, Shape&, long n) {
                              c.presence.replug_after_ms = static_cast<u64>(n);
                          })}},
        {"leave-after", {true, "leave-after=MS  MS ms after arriving the interface is taken away for good",
                         numeric(0, kMaxTimeMs, [](C& c, Shape&, long n) {
                             c.presence.leave_after_ms = static_cast<u64>(n);
                         })}},
        {"report-length", {true, "report-length=N  feature report length in bytes (default 21)",
                           numeric(2, 4096, [](C& c, Shape&, long n) {
                               c.feature_report_length = static_cast<std::uint16_t>(n);
                           })}},
        {"fail-block-check", {true, "fail-block-check=B:K  block B fails its check K times",
                              per_block([](C& c, int block, int times) {
                                  c.model_faults.fail_block_check[block] = times;
                              })}},
        {"refuse-block-report", {true, "refuse-block-report=B:K  block B's report is refused K times",
                                 per_block([](C& c, int block, int times) {
                                     c.model_faults.refuse_block_report[block] = times;
                                 })}},
        {"drop", {true, "drop=N        write number N never reaches the device and fails (repeatable)",
                  numeric(1, 100000000, [](C& c, Shape&, long n) {
                      c.transport_faults.drop_sets.insert(static_cast<u64>(n));
                  })}},
        {"unplug-after", {true, "unplug-after=N  the device is unplugged after N operations",
                          numeric(0, 100000000, [](C& c, Shape&, long n) {
                              c.transport_faults.unplug_after = static_cast<u64>(n);
                          })}},
        {"silent-after", {true, "silent-after=N  the device stops answering after N operations",
                          numeric(0, 100000000, [](C& c, Shape&, long n) {
                              c.transport_faults.silent_after = static_cast<u64>(n);
                          })}},
        {"no-answer-ms", {true, "no-answer-ms=N  how long an operation on a silent or unplugged device takes to fail",
                          numeric(0, 60000, [](C& c, Shape&, long n) {
                              c.transport_faults.no_answer_ms = static_cast<std::uint32_t>(n);
                          })}},
        {"location", {true, "location=TEXT the USB location the system reports (default sim-usb-1.I+1)",
                      text([](C& c, std::string_view v) { c.location = std::string(v); })}},
        {"serial", {true, "serial=TEXT   the serial number the unit reports (default none)",
                    text([](C& c, std::string_view v) { c.serial = std::string(v); })}},
        {"in-use-for", {true, "in-use-for=MS  another program writes the unit for MS ms after it arrives:\n"
                              "                it can be neither claimed nor opened",
                        numeric(0, kMaxTimeMs, [](C& c, Shape&, long n) {
                            c.in_use_for_ms = static_cast<u64>(n);
                        })}},
        {"answer-after", {true, "answer-after=MS  the device answers nothing until MS ms after arriving",
                          numeric(0, kMaxTimeMs, [](C& c, Shape&, long n) {
                              c.transport_faults.answer_after_ms = static_cast<u64>(n);
                          })}},
        {"silent", {false, "silent        the device stops answering: reads and writes fail",
                    flag([](C& c) { c.transport_faults.silent = true; })}},
        {"stay-busy", {false, "stay-busy     the device never clears its busy flag",
                       flag([](C& c) { c.model_faults.stay_busy = true; })}},
        {"garbage", {false, "garbage       every status read answers noise",
                     flag([](C& c) { c.model_faults.garbage = true; })}},
    };
    return table;
}

}  // namespace

namespace {

// One "key[=value]" item onto config (and shape); an error text when it is wrong.
std::optional<std::string> apply_item(std::string_view item, SimInterfaceConfig& config, Shape& shape) {
    auto eq = item.find('=');
    std::string_view name = item.substr(0, eq);
    auto key = keys().find(name);
    if (key == keys().end()) return "unknown simulation key '" + std::string(name) + "'";
    bool has_value = eq != std::string_view::npos;
    if (has_value != key->second.takes_value) {
        return "simulation key '" + std::string(name) + (has_value ? "' takes no value" : "' needs a value");
    }
    std::string_view value = has_value ? item.substr(eq + 1) : std::string_view{};
    if (!key->second.apply(config, shape, value)) {
        return "bad value for simulation key '" + std::string(name) + "': '" + std::string(value) + "'";
    }
    return std::nullopt;
}

// "I:key=value" is meant for interface I alone.
struct IndexedItem {
    long index;
    std::string_view item;
};

std::optional<IndexedItem> indexed(std::string_view item) {
    auto colon = item.find(':');
    if (colon == std::string_view::npos || colon > item.find('=')) return std::nullopt;
    auto index = number(item.substr(0, colon), 0, kMaxDevices - 1);
    if (!index) return IndexedItem{-1, item};
    return IndexedItem{*index, item.substr(colon + 1)};
}

}  // namespace

std::variant<SimBench, SimSpecError> parse_sim_spec(std::string_view spec, const Identity& defaults) {
    SimInterfaceConfig config;
    config.identity = defaults;
    Shape shape;
    std::vector<IndexedItem> per_interface;
    while (!spec.empty()) {
        auto comma = spec.find(',');
        std::string_view item = spec.substr(0, comma);
        spec.remove_prefix(comma == std::string_view::npos ? spec.size() : comma + 1);
        if (item.empty()) continue;
        if (auto one = indexed(item)) {
            if (one->index < 0) return SimSpecError{"bad interface number in '" + std::string(item) + "'"};
            per_interface.push_back(*one);
        } else if (std::find(std::begin(kOneKeys), std::end(kOneKeys), item.substr(0, item.find('='))) !=
                   std::end(kOneKeys)) {
            return SimSpecError{"simulation key '" + std::string(item.substr(0, item.find('='))) +
                                "' is for one interface: I:KEY=VALUE"};
        } else if (auto error = apply_item(item, config, shape)) {
            return SimSpecError{*error};
        }
    }
    std::stable_sort(shape.stops.begin(), shape.stops.end(),
                     [](const SimStop& a, const SimStop& b) { return a.at_ms < b.at_ms; });
    SimBench bench{{}, shape.stops};
    std::vector<SimInterfaceConfig>& out = bench.interfaces;
    for (long i = 0; i < shape.devices; ++i) {
        SimInterfaceConfig one = config;
        std::string path = "sim:" + std::to_string(i);
        one.path = std::u16string(path.begin(), path.end());
        one.presence.arrive_ms += static_cast<std::uint64_t>(i * shape.arrive_every_ms);
        if (one.location.empty()) one.location = "sim-usb-1." + std::to_string(i + 1);
        out.push_back(std::move(one));
    }
    for (const auto& [index, item] : per_interface) {
        std::string_view name = item.substr(0, item.find('='));
        if (index >= shape.devices) return SimSpecError{"no interface " + std::to_string(index) + " for '" + std::string(item) + "'"};
        if (std::find(std::begin(kSetKeys), std::end(kSetKeys), name) != std::end(kSetKeys)) {
            return SimSpecError{"simulation key '" + std::string(name) + "' is not for one interface"};
        }
        Shape ignored;
        if (auto error = apply_item(item, out[static_cast<std::size_t>(index)], ignored)) return SimSpecError{*error};
    }
    return bench;
}

namespace {

// --help's layout: a key at two spaces, its description from this column
// (or two spaces after a longer key), wrapped to this width.
constexpr std::size_t kHelpColumn = 19;
constexpr std::size_t kHelpWidth = 80;

// "key=N  what it does" (the text's own spacing and line breaks aside) as one
// --help item, so that the keys read as a list and man pages can be made of it.
std::string help_item(std::string_view text) {
    const std::size_t term_end = std::min(text.find(' '), text.size());
    std::string line = "  " + std::string(text.substr(0, term_end));
    line += std::string(line.size() + 2 <= kHelpColumn ? kHelpColumn - line.size() : 2, ' ');
    std::string out;
    bool line_has_words = false;
    for (std::size_t at = text.find_first_not_of(" \n", term_end); at < text.size();
         at = text.find_first_not_of(" \n", at)) {
        const std::size_t end = std::min(text.find_first_of(" \n", at), text.size());
        const std::string_view word = text.substr(at, end - at);
        if (line_has_words && line.size() + 1 + word.size() > kHelpWidth) {
            out += line + "\n";
            line = std::string(kHelpColumn, ' ');
        } else if (line_has_words) {
            line += ' ';
        }
        line += word;
        line_has_words = true;
        at = end;
    }
    return out + line + "\n";
}

}  // namespace

std::string sim_spec_help() {
    std::string out;
    for (const auto& [name, key] : keys()) out += help_item(key.help);
    out += help_item("I:KEY=VALUE a key for interface I alone, e.g. 3:unplug-after=900");
    return out;
}

}  // namespace wxr::sim
