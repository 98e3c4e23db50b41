// The shared dialog on a fake window and the simulated device, on the
// virtual clock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "app/main_dialog.h"
#include "device/local_mutex.h"
#include "device/sim/sim_hid.h"
#include "device/sim/virtual_clock.h"
#include "fake_window.h"
#include "device/forwarding_hid.h"

namespace wxr::testing {

inline constexpr char16_t kTestAppName[] = u"WXR7305_Upgrade_Tool";
// No test waits longer than this for the worker: a stuck worker fails the test.
inline constexpr auto kWorkerBound = std::chrono::seconds(20);

// Holds the first chunk report of an upgrade until released, so that a test
// can act while the worker is mid-transfer.
class LatchedHid final : public ForwardingHid {
public:
    static constexpr std::uint8_t kChunkCode = 0x0B;
    static constexpr auto kHoldBound = std::chrono::seconds(20);

    using ForwardingHid::ForwardingHid;

    bool wait_until_held() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kHoldBound, [&] { return held_; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

    bool set_feature(HidHandle d, std::span<const std::uint8_t> r) override {
        if (r.size() > 1 && r[1] == kChunkCode) hold();
        return inner_.set_feature(d, r);
    }

private:
    void hold() {
        std::unique_lock lock(mutex_);
        held_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, kHoldBound, [&] { return released_; });
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool released_ = false;
};

struct DialogBench {
    VirtualClock clock;
    sim::SimHid sim{clock};
    LatchedHid latched{sim};
    LocalNamedMutexFactory mutexes;
    FedShiftKeyState shift;
    FakeWindow window;
    std::unique_ptr<app::CWXR7305_Upgrade_ToolDlg> dialog;

    std::size_t add_device(sim::Identity identity = {}) {
        const std::string name = "sim" + std::to_string(sim.interface_count());
        return sim.add_interface({.path = std::u16string(name.begin(), name.end()), .identity = identity});
    }

    // Builds the dialog on this thread (the dialog thread) and initialises it.
    void start(std::function<void(ImageStore&)> loader = load_embedded_image, bool latch = false) {
        HidPlatform& hid = latch ? static_cast<HidPlatform&>(latched) : sim;
        dialog = std::make_unique<app::CWXR7305_Upgrade_ToolDlg>(
            app::ToolEnvironment{hid, clock, mutexes, shift, kTestAppName, std::move(loader)});
        dialog->attach(window);
        dialog->OnInitDialog();
    }

    // Runs the window's pending calls until the worker has finished.
    bool wait_for_worker() {
        const auto deadline = std::chrono::steady_clock::now() + kWorkerBound;
        while (!dialog->worker_finished()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            window.run_pending_calls();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    ~DialogBench() {
        latched.release();
        if (dialog) dialog->OnDestroy();
    }
};

}  // namespace wxr::testing
