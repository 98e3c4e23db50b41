#include "app/cli/arguments.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>
#include <string_view>

#include "app/page/serve_address.h"
#include "app/publish/publish_url.h"
#include "device/sim/sim_spec.h"

namespace wxr::cli {

using namespace wxr::page;

namespace {

// More devices than a station handles in a day is a typing mistake.
constexpr long kMaxCount = 1'000'000;

// The commands an option applies to.
enum CommandBits : unsigned {
    kInfo = 1,
    kList = 2,
    kUpgrade = 4,
    kUdevRule = 8,
    kDeviceCommands = kList | kUpgrade | kUdevRule,
    kAnyCommand = kInfo | kDeviceCommands,
};

// AddressNext: optional, or the next word when it looks like an address.
enum class Value { None, Required, Optional, AddressNext };

// Unwinds the parse at the first bad word.
struct Refusal {
    std::string message;
};

struct OptionSpec {
    std::string_view name;
    Value value;
    unsigned commands;
    void (*apply)(Options&, const std::string&);
};

void simulate(Options& options, std::string_view spec) {
    auto parsed = sim::parse_sim_spec(spec);
    if (auto* error = std::get_if<sim::SimSpecError>(&parsed)) throw Refusal{error->message};
    options.session.simulated = std::get<sim::SimBench>(std::move(parsed));
    options.simulate_spec = std::string(spec);
}

void count(Options& options, const std::string& text) {
    long n = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc{} || end != text.data() + text.size() || n < 1 || n > kMaxCount) {
        throw Refusal{"--count needs a number from 1 to " + std::to_string(kMaxCount) + ", not '" + text + "'"};
    }
    options.count = n;
}

void serve(Options& options, const std::string& text) {
    const std::string address = text.empty() ? kDefaultServeAddress : text;
    auto parsed = parse_serve_address(address);
    if (auto* error = std::get_if<std::string>(&parsed)) throw Refusal{*error};
    options.serve = address;
}

// "8730", "0.0.0.0:8730", "[::1]:8730": never a command (no colon) or an option.
bool looks_like_address(const std::string& word) {
    return !word.empty() && word[0] != '-' &&
           (word.find(':') != std::string::npos || std::isdigit(static_cast<unsigned char>(word[0])));
}

void non_empty(const std::string& name, const std::string& value) {
    if (value.empty()) throw Refusal{name + " needs a non-empty value"};
}

constexpr OptionSpec kOptions[] = {
    {"--help", Value::None, kAnyCommand, [](Options& o, const std::string&) { o.help = true; }},
    {"--version", Value::None, kAnyCommand, [](Options& o, const std::string&) { o.version = true; }},
    {"--json", Value::None, kInfo | kList | kUpgrade, [](Options& o, const std::string&) { o.json = true; }},
    {"--image", Value::Required, kList | kUpgrade,
     [](Options& o, const std::string& v) { 
         non_empty("--image", v);
         o.images.push_back(v);
     }},
    {"--device", Value::Required, kList | kUpgrade,
     [](Options& o, const std::string& v) { 
         non_empty("--device", v);
         o.devices.push_back(v);
     }},
    {"--log", Value::Required, kUpgrade,
     [](Options& o, const std::string& v) {
         non_empty("--log", v);
         o.log = v;
     }},
    {"--serve", Value::AddressNext, kUpgrade, serve},
    {"--port-names", Value::Required, kUpgrade,
     [](Options& o, const std::string& v) {
         non_empty("--port-names", v);
         o.port_names = v;
     }},
    {"--publish", Value::Required, kUpgrade,
     [](Options& o, const std::string& v) {
         const auto parsed = publish::parse_broker_url(v);
         if (auto* error = std::get_if<std::string>(&parsed)) throw Refusal{*error};
         o.publish = v;
     }},
    {"--publish-topic", Value::Required, kUpgrade,
     [](Options& o, const std::string& v) {
         if (v.empty() || v.find_first_of("+#") != std::string::npos || v.back() == '/') {
             throw Refusal{"--publish-topic needs a topic prefix without + # or a trailing /, not '" + v + "'"};
         }
         o.publish_topic = v;
     }},
    {"--publish-auth", Value::Required, kUpgrade,
     [](Options& o, const std::string& v) {
         non_empty("--publish-auth", v);
         o.publish_auth = v;
     }},
    {"--publish-ca", Value::Required, kUpgrade,
     [](Options& o, const std::string& v) {
         non_empty("--publish-ca", v);
         o.publish_ca = v;
     }},
    {"--all", Value::None, kUpgrade, [](Options& o, const std::string&) { o.all = true; }},
    {"--watch", Value::None, kUpgrade, [](Options& o, const std::string&) { o.watch = true; }},
    {"--count", Value::Required, kUpgrade, count},
    {"--force", Value::None, kUpgrade, [](Options& o, const std::string&) { o.force = true; }},
    {"--install", Value::None, kUdevRule, [](Options& o, const std::string&) { o.install = true; }},
    {"--simulate", Value::Optional, kDeviceCommands, [](Options& o, const std::string& v) { simulate(o, v); }},
    {"--virtual-time", Value::None, kDeviceCommands,
     [](Options& o, const std::string&) { o.session.virtual_time = true; }},
    {"--shift", Value::None, kDeviceCommands, [](Options& o, const std::string&) { o.session.shift = true; }},
    {"--trace", Value::Required, kDeviceCommands,
     [](Options& o, const std::string& v) { 
         non_empty("--trace", v);
         o.session.trace_file = v;
     }},
};

const OptionSpec* find_option(std::string_view name) {
    if (name == "-h") name = "--help";
    for (const auto& spec : kOptions) {
        if (spec.name == name) return &spec;
    }
    return nullptr;
}

unsigned command_bit(const std::string& command) {
    if (command == "info") return kInfo;
    if (command == "list") return kList;
    if (command == "upgrade") return kUpgrade;
#ifdef _WIN32
    if (command == "udev-rule") throw Refusal{"udev-rule is a Linux command: Windows needs no rule to reach the device"};
#else
    if (command == "udev-rule") return kUdevRule;
#endif
    throw Refusal{command.empty() ? "no command given" : "unknown command " + command};
}

// Reads one option word (and its value) at args[i]; returns the option.
const OptionSpec& take_option(const std::vector<std::string>& args, std::size_t& i, Options& options) {
    const std::string& arg = args[i];
    auto eq = arg.find('=');
    std::string name = arg.substr(0, eq);
    const OptionSpec* spec = find_option(name);
    if (!spec) throw Refusal{"unknown option " + name};
    std::string value;
    if (eq != std::string::npos) {
        if (spec->value == Value::None) throw Refusal{name + " takes no value"};
        value = arg.substr(eq + 1);
    } else if (spec->value == Value::Required) {
        if (i + 1 >= args.size()) throw Refusal{name + " needs a value"};
        value = args[++i];
    } else if (spec->value == Value::AddressNext && i + 1 < args.size() && looks_like_address(args[i + 1])) {
        value = args[++i];
    }
    spec->apply(options, value);
    return *spec;
}

// An option of one value given twice: which one was meant cannot be told.
void refuse_repeats(const std::vector<const OptionSpec*>& given) {
    std::set<std::string_view> seen;
    for (const OptionSpec* spec : given) {
        const bool repeatable = spec->name == "--image" || spec->name == "--device";
        if (spec->value == Value::None || repeatable) continue;
        if (!seen.insert(spec->name).second) throw Refusal{std::string(spec->name) + " is given twice"};
    }
}

// Combinations that make no sense are refused rather than half obeyed.
void check_combinations(const Options& o) {
    if (o.command == "info" && o.operands.size() > 1) throw Refusal{"info takes at most one FILE"};
    if (o.command != "info" && !o.operands.empty()) throw Refusal{o.command + " takes no operands"};
    if (o.all && o.watch) throw Refusal{"--all and --watch cannot be combined"};
    if (!o.devices.empty() && o.all) throw Refusal{"--device names the units: not with --all"};
    if (o.count && !o.watch) throw Refusal{"--count needs --watch"};
    if (o.force && !o.watch) throw Refusal{"--force needs --watch"};
    // The log is what is published: without it there is nothing to send.
    if (o.publish && !o.log) throw Refusal{"--publish needs --log (the records it sends are the log's)"};
    if ((o.publish_topic || o.publish_auth || o.publish_ca) && !o.publish) {
        throw Refusal{"--publish-topic, --publish-auth and --publish-ca need --publish"};
    }
    // A real device needs its pauses to pass: virtual time is for simulated ones.
    if (o.session.virtual_time && !o.session.simulated) throw Refusal{"--virtual-time needs --simulate"};
}

Options parse_or_throw(const std::vector<std::string>& args) {
    Options options;
    std::vector<const OptionSpec*> given;
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!options_ended && arg == "--") {
            options_ended = true;
        } else if (!options_ended && arg.size() > 1 && arg[0] == '-') {
            given.push_back(&take_option(args, i, options));
        } else if (options.command.empty()) {
            options.command = arg;
        } else {
            options.operands.push_back(arg);
        }
    }
    if (options.help || options.version) return options;
    refuse_repeats(given);
    unsigned bit = command_bit(options.command);
    for (const OptionSpec* spec : given) {
        if (!(spec->commands & bit)) throw Refusal{std::string(spec->name) + " does not apply to " + options.command};
    }
    check_combinations(options);
    return options;
}

}  // namespace

std::variant<Options, UsageError> parse_arguments(const std::vector<std::string>& args) {
    try {
        return parse_or_throw(args);
    } catch (const Refusal& refusal) {
        return UsageError{refusal.message};
    }
}

std::string help_text() {
    return "Usage: wxr7305 COMMAND [OPTIONS] [--] [OPERANDS]\n"
           "Writes the built-in firmware into attached devices over HID feature reports.\n"
           "\n"
           "Commands:\n"
           "  info [FILE]      print the info block of FILE, or of the built-in firmware\n"
           "  list             find every attached unit that answers as ours and print its\n"
           "                   path, version, model and sensor; one the firmware does not\n"
           "                   fit is marked \"does not fit\", as upgrade --all refuses it;\n"
           "                   one that gives no answer in its 3 s, as upgrade --all asks\n"
           "                   it, is shown as \"no answer\", one gone during its query as\n"
           "                   \"gone\"\n"
           "  upgrade          what \"Check and Upgrade\" does: find the device, check that it\n"
           "                   fits the firmware, write it with a progress bar; of several,\n"
           "                   the first in path order that the firmware fits\n"
#ifndef _WIN32
           "  udev-rule        (as root) print the udev rule that lets logged-in users reach\n"
           "                   the devices: for the USB ids this release knows and those of\n"
           "                   the devices found\n"
#endif
           "\n"
           "Options:\n"
           "  --device NAME    (list, upgrade) only this interface, or the interfaces at\n"
           "                   this USB location or with this serial number; given several\n"
           "                   times, each of them (several units: written as --all writes\n"
           "                   them); a device of another model or sensor is refused;\n"
           "                   with --watch, the station keeps to the units or ports named\n"
           "  --all            (upgrade) write every fitting device, side by side; a line\n"
           "                   per result, a count of units, then every unit not written\n"
           "                   again and one command that retries exactly those\n"
           "  --watch          (upgrade) station mode: write each fitting device that appears\n"
           "                   (those attached at start included) until Ctrl-C; a device\n"
           "                   already at the firmware's version is skipped\n"
           "  --count N        (with --watch) stop after N devices written; a unit whose\n"
           "                   write fails gives its turn to the next one waiting\n"
           "  --force          (with --watch) write devices already at the firmware's version\n"
           "  --json           (info, list, upgrade) one JSON object per line instead of text\n"
           "  --image FILE     (upgrade) write FILE instead of the built-in firmware; given\n"
           "                   several times, each device gets the image of its model and\n"
           "                   sensor, and one that fits none is refused; (list) show\n"
           "                   which image each device would get\n"
#ifndef _WIN32
           "  --install        (udev-rule) write the rule in one step as /etc/udev/rules.d/\n"
           "                   70-wxr7305-MODEL-local.rules, beside the package's rule (never\n"
           "                   replacing it nor its group for the station), and have udev\n"
           "                   apply it\n"
#endif
           "  --log FILE       (upgrade) append JSON records to FILE, each on disk before\n"
           "                   it is acted on: a start record before a unit is written,\n"
           "                   a result record when its visit ends; --watch reads it at\n"
           "                   its start and skips a unit it wrote that has not left since\n"
           "  --serve [ADDR]   (upgrade) also serve a live page of the bench, /status.json\n"
           "                   and Prometheus /metrics, read-only, at ADDR: HOST:PORT or\n"
           "                   PORT (default 127.0.0.1:8730; 0.0.0.0:8730 serves the line)\n"
           "  --port-names FILE  (upgrade) lines LOCATION = LABEL naming the ports, as the\n"
           "                   terminal and the page show them; LOCATION as list shows it\n"
           "  --publish URL    (upgrade, with --log) send each record of the log to the MQTT\n"
           "                   broker at URL (mqtt://HOST[:PORT], mqtts://HOST[:PORT]) at\n"
           "                   QoS 1, in order, resuming from FILE.sent; a broker that is\n"
           "                   down never holds up a write: the records wait in the log\n"
           "  --publish-topic PREFIX  (with --publish) topics PREFIX/record and\n"
           "                   PREFIX/state (default wxr7305/HOST)\n"
           "  --publish-auth FILE  (with --publish) the broker's user on the first line of\n"
           "                   FILE, the password on the second\n"
           "  --publish-ca FILE  (with --publish, mqtts) the certificate authority that\n"
           "                   signed the broker's certificate (default: the system's)\n"
           "  --simulate[=SPEC]  use simulated devices instead of real HID; SPEC is a\n"
           "                   comma-separated list of the simulation keys below\n"
           "  --virtual-time   run the simulation on a virtual clock (pauses take no time)\n"
           "  --trace FILE     write every device operation to FILE (a regular file)\n"
           "  --shift          (upgrade) find devices of any model, as holding Shift does in\n"
           "                   the dialog (list shows every model anyway)\n"
           "  --help           show this text\n"
           "  --version        show the version and the built-in firmware's model, sensor,\n"
           "                   version, size, checksum and customer\n"
           "  --               end of options: what follows is a command or operand\n"
           "\n"
           "Simulation keys (--simulate=KEY[=VALUE],...):\n" +
           sim::sim_spec_help() +
           "\n"
           "On a terminal, --all and --watch keep each result as a line and redraw the\n"
           "running units' bars and a status line below them, in colour unless NO_COLOR is\n"
           "set; piped, every change is a plain line.\n"
           "\n"
           "Every unit that answers as ours gets a result; one kept from being written\n"
           "(--count reached, Ctrl-C, a failed log) is told as not-written, and why.\n"
           "Files given to one command must be different files, or nothing is written.\n"
           "\n"
           "Ctrl-C while devices are written lets the running writes end and starts none;\n"
           "a second Ctrl-C leaves at once, naming the units left part-written (they may\n"
           "not start until written again). With nothing being written, Ctrl-C leaves.\n"
           "\n"
           "A unit is its serial number when no other unit present reports it; else each\n"
           "visit is a unit of its own. A unit with a serial written after a failed\n"
           "attempt counts once, as written.\n"
           "Exit codes, by each unit's last result (with several, the highest):\n"
           "  0    every unit seen written or skipped\n"
           "  1    bad usage, unreadable file, or a trace, log or output write error\n"
           "  2    no unit seen, or a --device that names none\n"
           "  3    a unit does not fit the firmware\n"
           "  4    an upgrade failed or a unit never answered\n"
           "  130  outside --watch, a stop (Ctrl-C, SIGTERM) left a unit not written\n";
}

}  // namespace wxr::cli
