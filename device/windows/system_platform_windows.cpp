#include "device/system_platform.h"
#include "device/windows/win32_platform.h"

namespace wxr {

SystemPlatform make_system_platform() {
    return {std::make_unique<Win32Hid>(), std::make_unique<Win32NamedMutexFactory>()};
}

}  // namespace wxr
