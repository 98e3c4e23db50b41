#include "app/cli/cli.h"

#include <cstdio>
#include <exception>
#include <ostream>

#include "app/cli/arguments.h"
#include "app/cli/commands.h"
#include "station/file_set.h"
#include "station/image_source.h"
#include "app/cli/output.h"
#include "station/session.h"
#include "app/cli/simulated_ctrl_c.h"
#include "device/clock_threads.h"
#include "device/sim/sim_spec.h"

namespace wxr::cli {

namespace {

constexpr char kVersionText[] = "wxr7305 1.0.0.1";

// The tool's version, then the firmware it carries: builds of one tool for
// several firmwares differ only there.
std::string version_text() {
    std::string text = std::string(kVersionText) + "\n";
    ImageStore store;
    load_embedded_image(store);
    ImageInfo info;
    if (parse_image_info(store.bytes, store.length, info) != 1) return text + "Firmware: no info block\n";
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%04X", static_cast<unsigned>(info.checksum));
    text += "Firmware: " + model_text(info) + ", " + sensor_text(info) + ", version " +
            std::to_string(info.version) + ", " + std::to_string(info.size) + " bytes, checksum " + checksum;
    const std::u16string customer = escape_control_chars(info.customer);
    if (!customer.empty()) text += ", customer " + to_utf8(customer);
    return text + "\n";
}

int usage_error(const std::string& message, std::ostream& err) {
    err << "wxr7305: " << message << "\nTry 'wxr7305 --help'.\n";
    return kExitOther;
}

// Every file the command reads and writes, before any is opened for writing.
std::optional<std::string> files_in_conflict(const Options& options) {
    FileSet files;
    for (const std::string& image : options.images) files.reads(image, "the image file");
    if (options.port_names) files.reads(*options.port_names, "the port names file");
    files.writes(options.session.trace_file, "the trace file");
    files.writes(options.log, "the log file");
    // `--log /dev/stdout > file`: the command's own output would write over the records.
    constexpr int kStdout = 1, kStderr = 2;
    files.writes_descriptor(kStdout, "the command's output");
    files.writes_descriptor(kStderr, "the command's error output");
    return files.conflict();
}

int run_device_command(const Options& options, Console& console) {
    if (auto conflict = files_in_conflict(options)) {
        console.err << "wxr7305: " << *conflict << "\n";
        return kExitOther;
    }
    SessionOptions session_options = options.session;
    if (options.simulate_spec) {
        auto units = sim::parse_sim_spec(*options.simulate_spec, simulated_identity(options.images));
        session_options.simulated = std::get<sim::SimBench>(std::move(units));
    }
    // A mixed bench takes units of every model; each then gets the image that fits it, or none.
    // `list` shows every unit that answers as ours, as `upgrade --all` takes them.
    if (options.images.size() > 1 || options.command == "list") session_options.shift = true;
    Session session(session_options);
    // Every thread the command starts takes part in the clock, this one too.
    ClockParticipant main_thread(session.clock());
    std::optional<SimulatedCtrlC> ctrl_c;
    if (session_options.simulated && !session_options.simulated->stops.empty()) {
        ctrl_c.emplace(session.clock(), console.stop, session_options.simulated->stops);
    }
    int code = kExitSuccess;
    if (options.command == "list") code = command_list(session, options, console);
#ifndef _WIN32
    else if (options.command == "udev-rule") code = command_udev_rule(session, options, console);
#endif
    else code = command_upgrade(session, options, console);
    // The run's outcome is printed; a trace that lost lines still fails the command.
    if (TraceFile* trace = session.trace(); trace && !trace->intact()) {
        console.err << "wxr7305: writing the trace file " << trace->path() << " failed: the trace is incomplete\n";
        return worse(code, kExitOther);
    }
    return code;
}

// Output that could not be written (a closed pipe, a full disk) never stops
// a write; it is told here, once every run has ended, and in the exit code.
bool output_lost(std::ostream& out, std::ostream& err) {
    out.flush();
    if (out.good()) return false;
    err << "wxr7305: writing the output failed: some of it was lost\n" << std::flush;
    return true;
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal,
        StopRequest* stop, const TerminalTraits* traits) {
    auto parsed = parse_arguments(args);
    if (auto* error = std::get_if<UsageError>(&parsed)) return usage_error(error->message, err);
    const Options& options = std::get<Options>(parsed);
    if (options.help) {
        out << help_text();
        return kExitSuccess;
    }
    if (options.version) {
        out << version_text();
        return kExitSuccess;
    }
    StopRequest no_stop;
    Console console{out, err, terminal, stop ? *stop : no_stop, traits};
    int code = kExitOther;
    try {
        code = options.command == "info" ? command_info(options, console) : run_device_command(options, console);
    } catch (const std::exception& e) {
        err << "wxr7305: " << e.what() << "\n";
    }
    return worse(code, output_lost(out, err) ? kExitOther : kExitSuccess);
}

}  // namespace wxr::cli
