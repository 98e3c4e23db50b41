#include <algorithm>
#include <optional>
#include <ostream>

#include "app/cli/cli.h"
#include "app/cli/commands.h"
#include "app/cli/image_choice.h"
#include "app/cli/json_output.h"
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

std::vector<DevicePath> device_paths(Session& session, const std::string& device) {
    DevicePath path = from_utf8(device);
    auto present = session.channel().enumerate().value_or(std::vector<DevicePath>{});
    if (std::find(present.begin(), present.end(), path) != present.end()) return {path};
    std::vector<DevicePath> at;
    for (const DevicePath& one : present) {
        if (session.channel().location(one) == device) at.push_back(one);
    }
    if (at.empty()) at.push_back(path);
    return at;
}

std::vector<DevicePath> find_devices(Session& session, const Options& options) {
    DeviceContext context = session.context();
    if (options.device) return probe_paths(context, device_paths(session, *options.device));
    auto present = session.channel().enumerate();
    if (!present) return {};
    return probe_paths(context, *present);
}

// Each interface is probed and, when it passes, queried on the same thread:
// one round of threads for the whole list.
int command_list(Session& session, const Options& options, Console& console) {
    BenchImages images;
    if (options.images.empty()) {
        expect_builtin_image(session);
    } else {
        if (!load_bench_images(options.images, images, console.err)) return kExitOther;
        session.expected_model = images.front()->info.model;  // several: every model is listed
    }
    session.open_trace();
    std::vector<DevicePath> paths = options.device ? device_paths(session, *options.device)
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
    bool any = false;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!devices[i]) continue;
        any = true;
        const auto& [location, serial] = whereabouts_of[i];
        const BenchImage* fit = image_for(images, *devices[i]);
        if (options.json) {
            console.out << device_json(paths[i], *devices[i], location, serial, images.empty() ? std::nullopt : std::optional(fit));
            continue;
        }
        console.out << printable(to_utf8(paths[i])) << "  version " << int(devices[i]->version) << "  "
                    << model_text(*devices[i]) << "  " << sensor_text(*devices[i]);
        if (std::string where = whereabouts(location, serial); !where.empty()) console.out << "  " << where;
        if (!images.empty()) console.out << "  " << (fit ? "image " + fit->name : no_image_text(*devices[i]));
        console.out << "\n";
    }
    console.out << std::flush;
    return any ? kExitSuccess : report_not_found(session, console.err);
}

}  // namespace wxr::cli
