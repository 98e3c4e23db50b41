#include <algorithm>
#include <optional>
#include <ostream>

#include "app/cli/cli.h"
#include "app/cli/commands.h"
#include "app/cli/device_names.h"
#include "station/image_choice.h"
#include "station/record_json.h"
#include "app/cli/output.h"
#include "device/device_hold.h"
#include "device/unit_claim.h"
#include "station/probe_run.h"
#include "upgrade/device_query.h"

namespace wxr::cli {

void expect_builtin_image(Session& session) {
    load_embedded_image(session.store);
    ImageInfo image;
    parse_image_info(session.store.bytes, session.store.length, image);
    session.expected_model = image.model;
}

std::vector<DevicePath> find_devices(Session& session, const Options& options) {
    DeviceContext context = session.context();
    if (!options.devices.empty()) return probe_paths(context, name_devices(session, options.devices).paths);
    auto present = session.channel().enumerate();
    if (!present) return {};
    return probe_paths(context, *present);
}

namespace {

// What `list` learned of one interface.
struct Listed {
    enum class State { NotShown, Answered, NoAnswer, Gone } state = State::NotShown;
    ImageInfo device;
    std::string location, serial, detail;
};

// "sim:0  version 50  TQ16  LX300  at usb-1.1", and whether the firmware fits.
void list_line(std::ostream& out, const DevicePath& path, const ImageInfo& device, const std::string& location,
               const std::string& serial, const BenchImage* fit, bool named_images) {
    out << printable(to_utf8(path)) << "  version " << int(device.version) << "  " << model_text(device) << "  "
        << sensor_text(device);
    if (std::string where = whereabouts(location, serial); !where.empty()) out << "  " << where;
    if (!fit) out << "  does not fit: " << model_text(device) << " " << sensor_text(device);
    else if (named_images) out << "  image " << fit->name;
    out << "\n";
}

// "sim:1  no answer  at usb-1.2  (does not answer ... within 3.00 s: no reply)".
void unanswered_line(std::ostream& out, const DevicePath& path, const Listed& unit) {
    out << printable(to_utf8(path)) << "  " << (unit.state == Listed::State::Gone ? "gone" : "no answer");
    if (std::string where = whereabouts(unit.location, unit.serial); !where.empty()) out << "  " << where;
    out << "  (" << unit.detail << ")\n";
}

// After a query that got no answer: a unit that can no longer be opened is gone.
bool still_there(DeviceChannel& channel, const DevicePath& path) {
    ScopedDevice device(open_device(channel, path));
    return static_cast<bool>(device);
}

// As the station probes a unit for `upgrade --all`: asked again until its
// answer window closes, under the claim, then queried. Its strings are read
// before the query, so that a unit gone during it still says where it was.
Listed list_one(Session& session, const DevicePath& path, std::uint64_t deadline_ms, const StopRequest& stop) {
    // One descriptor for the probe, the query and the unit's strings.
    DeviceHold hold(session.channel(), path);
    ProbeRun probe(session, 0, path, ProbePlan{deadline_ms, std::nullopt, &stop});
    probe.run();
    Listed unit;
    if (probe.outcome() != ProbeOutcome::Identified && probe.outcome() != ProbeOutcome::NoAnswer) return unit;
    unit.location = session.channel().location(path);
    unit.serial = session.channel().serial_number(path);
    if (probe.outcome() == ProbeOutcome::NoAnswer) {
        unit.state = Listed::State::NoAnswer;
        unit.detail = probe.detail();
        return unit;
    }
    UnitClaim claim = probe.take_claim();
    if (query_device_at(session.channel(), path, unit.device)) {
        unit.state = Listed::State::Answered;
    } else if (still_there(session.channel(), path)) {
        unit.state = Listed::State::NoAnswer;
        unit.detail = "no answer to its query: it stopped answering";
    } else {
        unit.state = Listed::State::Gone;
        unit.detail = "gone during its query";
    }
    return unit;
}

void show(Console& console, const Options& options, const BenchImages& images, const DevicePath& path,
          const Listed& unit) {
    if (unit.state != Listed::State::Answered) {
        const char* state = unit.state == Listed::State::Gone ? "gone" : "no-answer";
        if (options.json) console.out << unanswered_json(path, unit.location, unit.serial, state, unit.detail);
        else unanswered_line(console.out, path, unit);
        return;
    }
    const BenchImage* fit = image_for(images, unit.device);
    if (options.json) {
        console.out << device_json(path, unit.device, unit.location, unit.serial, fit, !options.images.empty());
    } else {
        list_line(console.out, path, unit.device, unit.location, unit.serial, fit, !options.images.empty());
    }
}

}  // namespace

// Every unit that answers as ours, of any model, as `upgrade --all` takes
// them; one the firmware does not fit is marked so, and one that never
// answered or was gone before its query ended is shown as such. Each
// interface is probed and, when it passes, queried on the same thread: one
// round of threads.
int command_list(Session& session, const Options& options, Console& console) {
    BenchImages images;
    if (!load_bench_images(options.images, images, console.err)) return kExitOther;
    session.expected_model = images.front()->info.model;
    session.open_trace();
    const NamedDevices named = name_devices(session, options.devices);
    std::vector<DevicePath> paths = !options.devices.empty()
                                        ? named.paths
                                        : session.channel().enumerate().value_or(std::vector<DevicePath>{});
    // Each unit's answer window counts from the look that found it.
    const std::uint64_t deadline_ms = session.clock().now_ms() + kFirstAnswerMs;
    std::vector<Listed> units(paths.size());
    run_side_by_side(session.clock(), paths.size(), [&](std::size_t i) {
        try {
            units[i] = list_one(session, paths[i], deadline_ms, console.stop);
        } catch (const std::exception&) {
            // As in a pass: an interface whose probe runs out of resources is not listed.
        }
    });
    std::set<DevicePath> seen;
    bool any_answered = false;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (units[i].state == Listed::State::NotShown) continue;
        seen.insert(paths[i]);
        any_answered = any_answered || units[i].state == Listed::State::Answered;
        show(console, options, images, paths[i], units[i]);
    }
    console.out << std::flush;
    // Units shown without a model say why on their lines.
    int code = any_answered ? kExitSuccess : seen.empty() ? report_not_found(session, console.err) : kExitNoDevice;
    if (std::string missing = unmatched_text(named, seen); !missing.empty()) {
        console.err << missing;
        code = worse(code, kExitNoDevice);
    }
    return code;
}

}  // namespace wxr::cli
