#include "station/not_found.h"

#include <ostream>

#include "station/exit_code.h"
#include "upgrade/compatibility.h"

namespace wxr::station {

int report_not_found(Session& session, std::ostream& err) {
    err << to_utf8(kDeviceNotFoundText) << "\n";
    if (std::size_t busy = session.hid().interfaces_in_use(); busy > 0) {
        err << busy << " HID interface" << (busy == 1 ? " is" : "s are")
            << " in use by another program (a station, a dialog or another command line)"
               " writing the device; try again once it is done.\n";
    }
    std::size_t locked = session.hid().inaccessible_interfaces();
    if (locked == 0) return kExitNoDevice;
    err << locked << " HID interface" << (locked == 1 ? " was" : "s were")
        << " found but could not be opened: permission denied.\n"
           "To let logged-in users reach the device, run once:\n"
           "  sudo wxr7305 udev-rule --install\n"
           "or run this command as root.\n";
    return kExitNoDevice;
}

}  // namespace wxr::station
