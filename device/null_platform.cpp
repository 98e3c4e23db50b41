// For systems without a HID backend: no interfaces, process-local locks.
#include "device/local_mutex.h"
#include "device/system_platform.h"

namespace wxr {

namespace {

class NoHidPlatform final : public HidPlatform {
public:
    std::optional<std::vector<DevicePath>> enumerate() override { return std::vector<DevicePath>{}; }
    HidHandle open(const DevicePath&) override { return kNoHandle; }
    bool capabilities(HidHandle, HidCapabilities&) override { return false; }
    bool attributes(HidHandle, HidAttributes&) override { return false; }
    bool get_feature(HidHandle, std::span<std::uint8_t>) override { return false; }
    bool set_feature(HidHandle, std::span<const std::uint8_t>) override { return false; }
    void close(HidHandle) override {}
};

}  // namespace

SystemPlatform make_system_platform() {
    return {std::make_unique<NoHidPlatform>(), std::make_unique<LocalNamedMutexFactory>()};
}

}  // namespace wxr
