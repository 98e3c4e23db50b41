#include "app/hid_gate.h"

namespace wxr::app {

std::optional<std::vector<DevicePath>> HidGate::enumerate() {
    if (is_shut()) return std::nullopt;
    return inner_.enumerate();
}

HidHandle HidGate::open(const DevicePath& path) {
    if (is_shut()) return kNoHandle;
    return inner_.open(path);
}

bool HidGate::capabilities(HidHandle device, HidCapabilities& caps) {
    return inner_.capabilities(device, caps);
}

bool HidGate::attributes(HidHandle device, HidAttributes& attrs) {
    return inner_.attributes(device, attrs);
}

bool HidGate::get_feature(HidHandle device, std::span<std::uint8_t> report) {
    return inner_.get_feature(device, report);
}

bool HidGate::set_feature(HidHandle device, std::span<const std::uint8_t> report) {
    return inner_.set_feature(device, report);
}

void HidGate::close(HidHandle device) { inner_.close(device); }

}  // namespace wxr::app
