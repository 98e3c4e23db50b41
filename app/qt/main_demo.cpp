// WXR7305_Upgrade_Tool_demo: the same dialog on a simulated device (model 16,
// sensor 3) in real time, so that an upgrade can be watched.
#include <QApplication>

#include "app/application.h"
#include "app/demo_device.h"
#include "app/qt/qt_platform.h"
#include "device/local_mutex.h"
#include "device/sim/sim_hid.h"
#include "device/steady_clock.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    wxr::SteadyClock clock;
    wxr::sim::SimHid device(clock);
    wxr::app::add_demo_interface(device);
    wxr::app::PacedHid hid(device);
    wxr::LocalNamedMutexFactory mutexes;
    wxr::FedShiftKeyState shift;
    wxr::app::qt::QtAppPlatform platform(&shift);
    wxr::app::CWXR7305_Upgrade_ToolApp app(
        platform, {hid, clock, mutexes, shift, wxr::app::qt::qt_application_name()});
    return app.InitInstance() ? 1 : 0;
}
