// Start-up on Win32: common controls, the restart registration and the modal
// run of the main dialog; and the environment every Windows executable shares.
#pragma once

#include <windows.h>

#include "app/application.h"

namespace wxr::app::win32 {

class Win32AppPlatform final : public AppPlatform {
public:
    explicit Win32AppPlatform(HINSTANCE instance) : instance_(instance) {}

    void init_common_controls() override;
    void register_for_restart() override;
    std::intptr_t run_modal(CWXR7305_Upgrade_ToolDlg& dialog) override;

private:
    HINSTANCE instance_;
};

// The executable's file name without its extension: the caption of the boxes
// that have none of their own.
std::u16string module_application_name();

// Runs the application on the given HID interfaces with the system's named
// mutex and Shift key; the process's exit code.
int run_application(HINSTANCE instance, HidPlatform& hid, Clock& clock);

}  // namespace wxr::app::win32
