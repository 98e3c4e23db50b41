#include "app/cli/arguments.h"

#include "device/sim/sim_spec.h"

namespace wxr::cli {

namespace {

// Unwinds the parse at the first bad word.
struct Refusal {
    std::string message;
};

std::string option_value(const std::vector<std::string>& args, std::size_t& i, const std::string& name) {
    if (i + 1 >= args.size()) throw Refusal{name + " needs a value"};
    return args[++i];
}

void simulate(Options& options, std::string_view spec) {
    auto parsed = sim::parse_sim_spec(spec);
    if (auto* error = std::get_if<sim::SimSpecError>(&parsed)) throw Refusal{error->message};
    options.session.simulated = std::get<std::vector<sim::SimInterfaceConfig>>(std::move(parsed));
}

Options parse_or_throw(const std::vector<std::string>& args) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--simulate") {
            simulate(options, "");
        } else if (arg.starts_with("--simulate=")) {
            simulate(options, std::string_view(arg).substr(11));
        } else if (arg == "--virtual-time") {
            options.session.virtual_time = true;
        } else if (arg == "--shift") {
            options.session.shift = true;
        } else if (arg == "--trace") {
            options.session.trace_file = option_value(args, i, arg);
        } else if (arg == "--image") {
            options.image = option_value(args, i, arg);
        } else if (arg.starts_with("-")) {
            throw Refusal{"unknown option " + arg};
        } else if (options.command.empty()) {
            options.command = arg;
        } else {
            options.operands.push_back(arg);
        }
    }
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
    return "Usage: wxr7305 COMMAND [OPTIONS]\n"
           "Writes the built-in firmware into an attached device over HID feature reports.\n"
           "\n"
           "Commands:\n"
           "  info [FILE]      print the info block of FILE, or of the built-in firmware\n"
           "  list             find the attached devices and print each one's path, version,\n"
           "                   model and sensor\n"
           "  upgrade          what \"Check and Upgrade\" does: find the device, check that it\n"
           "                   fits the firmware, write it with a progress bar\n"
           "  udev-rule        (Linux, as root) print a udev rule that lets logged-in users\n"
           "                   reach the devices found, for /etc/udev/rules.d/70-wxr7305.rules\n"
           "\n"
           "Options:\n"
           "  --image FILE     (upgrade) write FILE instead of the built-in firmware\n"
           "  --simulate[=SPEC]  use simulated devices instead of real HID; SPEC is a\n"
           "                   comma-separated list of these keys:\n" +
           sim::sim_spec_help() +
           "  --virtual-time   run the simulation on a virtual clock (pauses take no time)\n"
           "  --trace FILE     write every device operation to FILE\n"
           "  --shift          list devices of any model, as holding Shift does in the dialog\n"
           "  --help           show this text\n"
           "  --version        show the version\n"
           "\n"
           "Exit codes: 0 success, 1 bad usage or unreadable file, 2 no device,\n"
           "3 device does not fit the firmware, 4 upgrade failed.\n";
}

}  // namespace wxr::cli
