#include "app/application.h"

#include <memory>

namespace wxr::app {

bool CWXR7305_Upgrade_ToolApp::InitInstance() {
    platform_.init_common_controls();
    platform_.register_for_restart();
    // On the heap: the dialog carries the 64 KiB image store.
    auto dialog = std::make_unique<CWXR7305_Upgrade_ToolDlg>(env_);
    platform_.run_modal(*dialog);
    return false;
}

}  // namespace wxr::app
