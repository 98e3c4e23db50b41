// WXR7305_Upgrade_Tool on Linux: the dialog on the system's HID devices.
#include <QApplication>

#include "app/application.h"
#include "app/qt/qt_platform.h"
#include "device/local_mutex.h"
#include "device/steady_clock.h"

#if WXR_HAVE_HIDRAW
#include "device/linux/flock_mutex.h"
#include "device/linux/hidraw_platform.h"
#else
namespace {

// A system without a HID backend: nothing is ever present.
class NoHid final : public wxr::HidPlatform {
public:
    std::optional<std::vector<wxr::DevicePath>> enumerate() override {
        return std::vector<wxr::DevicePath>{};
    }
    wxr::HidHandle open(const wxr::DevicePath&) override { return wxr::kNoHandle; }
    bool capabilities(wxr::HidHandle, wxr::HidCapabilities&) override { return false; }
    bool attributes(wxr::HidHandle, wxr::HidAttributes&) override { return false; }
    bool get_feature(wxr::HidHandle, std::span<std::uint8_t>) override { return false; }
    bool set_feature(wxr::HidHandle, std::span<const std::uint8_t>) override { return false; }
    void close(wxr::HidHandle) override {}
};

}  // namespace
#endif

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    wxr::SteadyClock clock;
#if WXR_HAVE_HIDRAW
    wxr::hidraw::HidrawPlatform hid;
    wxr::hidraw::FlockMutexFactory mutexes;
#else
    NoHid hid;
    wxr::LocalNamedMutexFactory mutexes;
#endif
    wxr::FedShiftKeyState shift;
    wxr::app::qt::QtAppPlatform platform(&shift);
    wxr::app::CWXR7305_Upgrade_ToolApp app(
        platform, {hid, clock, mutexes, shift, wxr::app::qt::qt_application_name()});
    return app.InitInstance() ? 1 : 0;
}
