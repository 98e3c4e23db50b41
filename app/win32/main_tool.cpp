// WXR7305_Upgrade_Tool.exe: the dialog on the system's HID interfaces.
#include <windows.h>

#include "app/application.h"
#include "app/win32/win32_app_platform.h"
#include "device/steady_clock.h"
#include "device/windows/win32_platform.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    wxr::Win32Hid hid;
    wxr::SteadyClock clock;
    wxr::Win32NamedMutexFactory mutexes;
    wxr::Win32ShiftKeyState shift;
    wxr::app::win32::Win32AppPlatform platform(instance);
    wxr::app::CWXR7305_Upgrade_ToolApp app(
        platform, {hid, clock, mutexes, shift, wxr::app::win32::module_application_name()});
    return app.InitInstance() ? 1 : 0;
}
