// The running system's own HID backend and named mutex: hidraw and flock on
// Linux, SetupAPI/HidD and CreateMutexW on Windows, none elsewhere.
#pragma once

#include <memory>

#include "device/hid_platform.h"

namespace wxr {

struct SystemPlatform {
    std::unique_ptr<HidPlatform> hid;
    std::unique_ptr<NamedMutexFactory> mutexes;
};

SystemPlatform make_system_platform();

}  // namespace wxr
