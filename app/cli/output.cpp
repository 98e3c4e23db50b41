#include "app/cli/output.h"

#include <ostream>

#include "app/cli/cli.h"
#include "upgrade/compatibility.h"

namespace wxr::cli {

std::string model_text(const ImageInfo& info) {
    return info.model_name.empty() ? "model " + std::to_string(info.model) : to_utf8(info.model_name);
}

std::string sensor_text(const ImageInfo& info) {
    return info.sensor_name.empty() ? "sensor " + std::to_string(info.sensor) : to_utf8(info.sensor_name);
}

int report_not_found(Session& session, std::ostream& err) {
    err << to_utf8(kDeviceNotFoundText) << "\n";
    std::size_t locked = session.hid().inaccessible_interfaces();
    if (locked == 0) return kExitNoDevice;
    err << locked << " HID interface" << (locked == 1 ? " was" : "s were")
        << " found but could not be opened: permission denied.\n"
           "To let logged-in users reach the device, run once:\n"
           "  sudo wxr7305 udev-rule | sudo tee /etc/udev/rules.d/" << kUdevRuleFile << "\n"
           "  sudo udevadm control --reload-rules && sudo udevadm trigger\n"
           "or run this command as root.\n";
    return kExitNoDevice;
}

}  // namespace wxr::cli
