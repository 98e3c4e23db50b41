// A process-local stand-in for the named mutex, for the simulated device and
// for platforms without named locks.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "device/hid_platform.h"

namespace wxr {

class LocalNamedMutexFactory final : public NamedMutexFactory {
public:
    std::unique_ptr<NamedMutex> create(const std::u16string& name) override {
        std::lock_guard lock(mutex_);
        auto& shared = locks_[name];
        if (!shared) shared = std::make_shared<std::mutex>();
        return std::make_unique<Handle>(shared);
    }

private:
    class Handle final : public NamedMutex {
    public:
        explicit Handle(std::shared_ptr<std::mutex> m) : m_(std::move(m)) {}
        bool lock() override {
            m_->lock();
            return true;
        }
        void unlock() override { m_->unlock(); }

    private:
        std::shared_ptr<std::mutex> m_;
    };

    std::mutex mutex_;
    std::map<std::u16string, std::shared_ptr<std::mutex>> locks_;
};

// Shift as a front-end feeds it: note_press() on each key press, and the
// query answers whether one happened since the previous query.
class FedShiftKeyState final : public ShiftKeyState {
public:
    void note_press() { pressed_.store(true); }
    bool pressed_since_last_query() override { return pressed_.exchange(false); }

private:
    std::atomic<bool> pressed_{false};
};

}  // namespace wxr
