#include <algorithm>
#include <cstdio>
#include <optional>
#include <ostream>
#include <set>

#include "app/cli/cli.h"
#include "app/cli/commands.h"
#include "app/cli/device_names.h"
#include "app/cli/image_choice.h"
#include "app/cli/json_output.h"
#include "app/cli/output.h"
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
    DeviceContext context = session.context();
    run_side_by_side(session.clock(), paths.size(), [&](std::size_t i) {
        try {
            if (!passes_probe(context, paths[i])) return;
            ImageInfo device;
            query_device_at(session.channel(), paths[i], device);
            devices[i] = device;
        } catch (const std::exception&) {
            // As in a pass: an interface whose probe runs out of resources is not listed.
        }
    });
    std::set<DevicePath> answered;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!devices[i]) continue;
        answered.insert(paths[i]);
        std::string location = session.channel().location(paths[i]);
        std::string serial = session.channel().serial_number(paths[i]);
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

// A rule per vendor and product id of the devices found: TAG+="uaccess" gives
// the logged-in user access to their hidraw nodes.
int command_udev_rule(Session& session, Console& console) {
    expect_builtin_image(session);
    session.open_trace();
    std::set<std::pair<std::uint16_t, std::uint16_t>> ids;
    for (const DevicePath& path : find_devices(session, Options{})) {
        Device device = open_device(session.channel(), path);
        HidAttributes attributes;
        if (device && session.channel().attributes(device, attributes)) {
            ids.emplace(attributes.vendor_id, attributes.product_id);
        }
        close_device(device);
    }
    if (ids.empty()) return report_not_found(session, console.err);
    console.out << "# " << kUdevRuleFile << ": lets the logged-in user reach these devices' hidraw nodes.\n";
    for (auto [vendor, product] : ids) {
        char line[128];
        std::snprintf(line, sizeof line,
                      "KERNEL==\"hidraw*\", ATTRS{idVendor}==\"%04x\", ATTRS{idProduct}==\"%04x\", "
                      "TAG+=\"uaccess\"\n",
                      vendor, product);
        console.out << line;
    }
    console.err << "Save this as /etc/udev/rules.d/" << kUdevRuleFile
                << ", then run 'udevadm control --reload-rules && udevadm trigger' or replug the device.\n";
    return kExitSuccess;
}

}  // namespace wxr::cli
