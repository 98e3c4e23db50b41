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

}  // namespace

// Every unit that answers as ours, of any model, as `upgrade --all` takes
// them; one the firmware does not fit is marked so. Each interface is probed
// and, when it passes, queried on the same thread: one round of threads.
int command_list(Session& session, const Options& options, Console& console) {
    BenchImages images;
    if (!load_bench_images(options.images, images, console.err)) return kExitOther;
    session.expected_model = images.front()->info.model;
    session.open_trace();
    const NamedDevices named = name_devices(session, options.devices);
    std::vector<DevicePath> paths = !options.devices.empty()
                                        ? named.paths
                                        : session.channel().enumerate().value_or(std::vector<DevicePath>{});
    std::vector<std::optional<ImageInfo>> devices(paths.size());
    std::vector<std::pair<std::string, std::string>> whereabouts_of(paths.size());
    DeviceContext context = session.context();
    run_side_by_side(session.clock(), paths.size(), [&](std::size_t i) {
        try {
            // One descriptor for the probe, the query and the unit's strings.
            DeviceHold hold(session.channel(), paths[i]);
            if (!passes_probe(context, paths[i])) return;
            ImageInfo device;
            query_device_at(session.channel(), paths[i], device);
            devices[i] = device;
            whereabouts_of[i] = {session.channel().location(paths[i]), session.channel().serial_number(paths[i])};
        } catch (const std::exception&) {
            // As in a pass: an interface whose probe runs out of resources is not listed.
        }
    });
    std::set<DevicePath> answered;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!devices[i]) continue;
        answered.insert(paths[i]);
        const auto& [location, serial] = whereabouts_of[i];
        const BenchImage* fit = image_for(images, *devices[i]);
        if (options.json) {
            console.out << device_json(paths[i], *devices[i], location, serial, fit, !options.images.empty());
        } else {
            list_line(console.out, paths[i], *devices[i], location, serial, fit, !options.images.empty());
        }
    }
    console.out << std::flush;
    int code = answered.empty() ? report_not_found(session, console.err) : kExitSuccess;
    if (std::string missing = unmatched_text(named, answered); !missing.empty()) {
        console.err << missing;
        code = worse(code, kExitNoDevice);
    }
    return code;
}

}  // namespace wxr::cli
