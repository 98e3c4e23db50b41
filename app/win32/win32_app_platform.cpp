#include "app/win32/win32_app_platform.h"

#include <commctrl.h>

#include <vector>

#include "app/win32/win32_dialog_window.h"
#include "app/win32/win32_text.h"
#include "device/windows/win32_platform.h"

namespace wxr::app::win32 {

namespace {
// Every class of the standard set (ICC_WIN95_CLASSES and the rest of the low byte).
constexpr DWORD kAllStandardControlClasses = 0xFF;
// Long paths are possible; the buffer grows up to this many characters.
constexpr DWORD kMaxModulePath = 32768;
}  // namespace

void Win32AppPlatform::init_common_controls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = kAllStandardControlClasses;
    InitCommonControlsEx(&controls);
}

// Restart only: the tool keeps no data to recover.
void Win32AppPlatform::register_for_restart() { RegisterApplicationRestart(nullptr, 0); }

std::intptr_t Win32AppPlatform::run_modal(CWXR7305_Upgrade_ToolDlg& dialog) {
    Win32DialogWindow window(instance_, dialog);
    return window.run_modal();
}

std::u16string module_application_name() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return u"";
        if (length < path.size() || path.size() >= kMaxModulePath) {
            return application_name_from_path(utf16(std::wstring_view(path.data(), length)));
        }
        path.resize(path.size() * 2);
    }
}

int run_application(HINSTANCE instance, HidPlatform& hid, Clock& clock) {
    Win32NamedMutexFactory mutexes;
    Win32ShiftKeyState shift;
    Win32AppPlatform platform(instance);
    CWXR7305_Upgrade_ToolApp app(platform, {hid, clock, mutexes, shift, module_application_name()});
    return app.InitInstance() ? 1 : 0;
}

}  // namespace wxr::app::win32
