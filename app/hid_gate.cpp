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

}  // namespace wxr::app
