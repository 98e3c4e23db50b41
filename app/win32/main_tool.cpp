// WXR7305_Upgrade_Tool.exe: the dialog on the system's HID interfaces.
#include <windows.h>

#include "app/win32/win32_app_platform.h"
#include "device/steady_clock.h"
#include "device/windows/win32_platform.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    wxr::Win32Hid hid;
    wxr::SteadyClock clock;
    return wxr::app::win32::run_application(instance, hid, clock);
}
