// WXR7305_Upgrade_Tool_demo.exe: the same dialog on a simulated device in
// real time. The device list mutex stays a system one, as in the tool.
#include <windows.h>

#include "app/application.h"
#include "app/demo_device.h"
#include "app/win32/win32_app_platform.h"
#include "device/steady_clock.h"
#include "device/windows/win32_platform.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    wxr::SteadyClock clock;
    wxr::sim::SimHid device(clock);
    wxr::app::add_demo_interface(device);
    wxr::app::PacedHid hid(device);
    wxr::Win32NamedMutexFactory mutexes;
    wxr::Win32ShiftKeyState shift;
    wxr::app::win32::Win32AppPlatform platform(instance);
    wxr::app::CWXR7305_Upgrade_ToolApp app(
        platform, {hid, clock, mutexes, shift, wxr::app::win32::module_application_name()});
    return app.InitInstance() ? 1 : 0;
}
