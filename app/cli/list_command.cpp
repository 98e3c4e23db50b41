#include <cstdio>
#include <ostream>
#include <set>

#include "app/cli/cli.h"
#include "app/cli/commands.h"
#include "app/cli/output.h"
#include "upgrade/device_query.h"

namespace wxr::cli {

std::int32_t discover_for_builtin_image(Session& session) {
    load_embedded_image(session.store);
    ImageInfo image;
    parse_image_info(session.store.bytes, session.store.length, image);
    session.expected_model = image.model;
    DeviceContext context = session.context();
    return discover_devices(context);
}

int command_list(Session& session, std::ostream& out, std::ostream& err) {
    std::int32_t count = discover_for_builtin_image(session);
    for (std::int32_t i = 0; i < count; ++i) {
        const DevicePath& path = session.list.paths[static_cast<std::size_t>(i)];
        ImageInfo device;
        query_device_at(session.channel(), path, device);
        out << to_utf8(path) << "  version " << int(device.version) << "  " << model_text(device) << "  "
            << sensor_text(device) << "\n";
    }
    return count > 0 ? kExitSuccess : report_not_found(session, err);
}

// A rule per vendor and product id of the devices found: TAG+="uaccess" gives
// the logged-in user access to their hidraw nodes.
int command_udev_rule(Session& session, std::ostream& out, std::ostream& err) {
    std::int32_t count = discover_for_builtin_image(session);
    std::set<std::pair<std::uint16_t, std::uint16_t>> ids;
    for (std::int32_t i = 0; i < count; ++i) {
        Device device = open_device(session.channel(), session.list.paths[static_cast<std::size_t>(i)]);
        HidAttributes attributes;
        if (device && session.channel().attributes(device, attributes)) {
            ids.emplace(attributes.vendor_id, attributes.product_id);
        }
        close_device(device);
    }
    if (ids.empty()) return report_not_found(session, err);
    out << "# " << kUdevRuleFile << ": lets the logged-in user reach these devices' hidraw nodes.\n";
    for (auto [vendor, product] : ids) {
        char line[128];
        std::snprintf(line, sizeof line,
                      "KERNEL==\"hidraw*\", ATTRS{idVendor}==\"%04x\", ATTRS{idProduct}==\"%04x\", "
                      "TAG+=\"uaccess\"\n",
                      vendor, product);
        out << line;
    }
    err << "Save this as /etc/udev/rules.d/" << kUdevRuleFile
        << ", then run 'udevadm control --reload-rules && udevadm trigger' or replug the device.\n";
    return kExitSuccess;
}

}  // namespace wxr::cli
