// WXR7305_Upgrade_Tool_demo.exe: the same dialog on a simulated device in
// real time. The device list mutex stays a system one, as in the tool.
#include <windows.h>
#include <timeapi.h>

#include "app/demo_device.h"
#include "app/win32/win32_app_platform.h"
#include "device/steady_clock.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // The demo paces each report by a millisecond; the system's default timer
    // would round every such pause up to a tick of about 15 ms.
    timeBeginPeriod(1);
    wxr::SteadyClock clock;
    wxr::sim::SimHid device(clock);
    wxr::app::add_demo_interface(device);
    wxr::app::PacedHid hid(device);
    const int code = wxr::app::win32::run_application(instance, hid, clock);
    timeEndPeriod(1);
    return code;
}
