#include "app/about_dialog.h"

#include "app/dialog_template.h"

namespace wxr::app {

std::intptr_t CAboutDlg::DoModal() {
    owner_.show_about_box();
    return kIdOk;
}

}  // namespace wxr::app
