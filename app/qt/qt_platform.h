// Start-up on Qt: no common controls to load and no restart facility; the
// main window runs modally on the dialog.
#pragma once

#include "app/application.h"

namespace wxr {
class FedShiftKeyState;
}

namespace wxr::app::qt {

class QtAppPlatform final : public AppPlatform {
public:
    explicit QtAppPlatform(FedShiftKeyState* shift) : shift_(shift) {}

    void init_common_controls() override {}
    void register_for_restart() override {}
    std::intptr_t run_modal(CWXR7305_Upgrade_ToolDlg& dialog) override;

private:
    FedShiftKeyState* shift_;
};

// The application name from the running executable's file name.
std::u16string qt_application_name();

}  // namespace wxr::app::qt
