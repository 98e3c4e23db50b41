// WXR7305_Upgrade_Tool on Linux: the dialog on the system's HID devices.
#include <QApplication>

#include "app/application.h"
#include "app/qt/qt_platform.h"
#include "device/local_mutex.h"
#include "device/steady_clock.h"
#include "device/system_platform.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The installed desktop entry's name, for Wayland's app id and X11's
    // WM_CLASS alike (its StartupWMClass), so that docks tie the window to it.
    QGuiApplication::setDesktopFileName(QStringLiteral(WXR7305_DESKTOP_ID));
    QCoreApplication::setApplicationName(QStringLiteral(WXR7305_DESKTOP_ID));
    wxr::SteadyClock clock;
    wxr::SystemPlatform system = wxr::make_system_platform();
    wxr::FedShiftKeyState shift;
    wxr::app::qt::QtAppPlatform platform(&shift);
    wxr::app::ToolEnvironment environment{*system.hid, clock, *system.mutexes, shift,
                                          wxr::app::qt::qt_application_name()};
    environment.explain_refused_interfaces = true;  // hidraw nodes are root's until a udev rule says otherwise
    wxr::app::CWXR7305_Upgrade_ToolApp app(platform, std::move(environment));
    return app.InitInstance() ? 1 : 0;
}
