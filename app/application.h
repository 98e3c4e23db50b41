// The application object: start-up runs the main dialog modally and then
// lets the process end.
#pragma once

#include <cstdint>

#include "app/main_dialog.h"
#include "app/tool_environment.h"

namespace wxr::app {

// What start-up needs from a front-end.
//  init_common_controls()  Loads the common control classes (the progress bar
//                          among them). Qt: nothing.
//  register_for_restart()  Asks the system to restart the program after a
//                          failure (restart only, no data recovery). Qt: nothing.
//  run_modal(dialog)       Creates the main window from template 102 with icon
//                          128, attaches it to `dialog`, calls OnInitDialog,
//                          runs the window modally, calls OnDestroy before the
//                          window goes away and returns the result that
//                          end_dialog was given.
class AppPlatform {
public:
    virtual ~AppPlatform() = default;
    virtual void init_common_controls() = 0;
    virtual void register_for_restart() = 0;
    virtual std::intptr_t run_modal(CWXR7305_Upgrade_ToolDlg& dialog) = 0;
};

class CWXR7305_Upgrade_ToolApp {
public:
    CWXR7305_Upgrade_ToolApp(AppPlatform& platform, ToolEnvironment environment)
        : platform_(platform), env_(std::move(environment)) {}

    // Always false: the process ends when the dialog has ended.
    bool InitInstance();

private:
    AppPlatform& platform_;
    ToolEnvironment env_;
};

}  // namespace wxr::app
