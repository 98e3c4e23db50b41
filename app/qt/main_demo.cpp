// WXR7305_Upgrade_Tool_demo: the same dialog on a simulated device (model 16,
// sensor 3) in real time, so that an upgrade can be watched.
#include <QApplication>
#include <chrono>
#include <thread>

#include "app/application.h"
#include "app/qt/qt_platform.h"
#include "device/local_mutex.h"
#include "device/sim/sim_hid.h"
#include "device/steady_clock.h"

namespace {

// The simulated device answers at once; a real one takes about a millisecond
// per report over USB, which is what lets a person see the bar move.
constexpr auto kReportTime = std::chrono::microseconds(1000);

class PacedHid final : public wxr::HidPlatform {
public:
    explicit PacedHid(wxr::HidPlatform& inner) : inner_(inner) {}

    std::optional<std::vector<wxr::DevicePath>> enumerate() override { return inner_.enumerate(); }
    wxr::HidHandle open(const wxr::DevicePath& path) override { return inner_.open(path); }
    bool capabilities(wxr::HidHandle device, wxr::HidCapabilities& caps) override {
        return inner_.capabilities(device, caps);
    }
    bool attributes(wxr::HidHandle device, wxr::HidAttributes& attrs) override {
        return inner_.attributes(device, attrs);
    }
    bool get_feature(wxr::HidHandle device, std::span<std::uint8_t> report) override {
        std::this_thread::sleep_for(kReportTime);
        return inner_.get_feature(device, report);
    }
    bool set_feature(wxr::HidHandle device, std::span<const std::uint8_t> report) override {
        std::this_thread::sleep_for(kReportTime);
        return inner_.set_feature(device, report);
    }
    void close(wxr::HidHandle device) override { inner_.close(device); }

private:
    wxr::HidPlatform& inner_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    wxr::SteadyClock clock;
    wxr::sim::SimHid device(clock);
    device.add_interface({.path = u"sim:WXR7305", .identity = {.version = 57, .model = 16, .sensor = 3}});
    PacedHid hid(device);
    wxr::LocalNamedMutexFactory mutexes;
    wxr::FedShiftKeyState shift;
    wxr::app::qt::QtAppPlatform platform(&shift);
    wxr::app::CWXR7305_Upgrade_ToolApp app(
        platform, {hid, clock, mutexes, shift, wxr::app::qt::qt_application_name()});
    return app.InitInstance() ? 1 : 0;
}
