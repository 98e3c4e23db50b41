#include "app/qt/qt_platform.h"

#include <QCoreApplication>

#include "app/qt/main_window.h"
#include "app/qt/qt_text.h"

namespace wxr::app::qt {

std::intptr_t QtAppPlatform::run_modal(CWXR7305_Upgrade_ToolDlg& dialog) {
    MainWindow window(dialog, shift_);
    return window.run_modal();
}

std::u16string qt_application_name() {
    return application_name_from_path(from_qstring(QCoreApplication::applicationFilePath()));
}

}  // namespace wxr::app::qt
