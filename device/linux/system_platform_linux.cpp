#include "device/linux/flock_mutex.h"
#include "device/linux/hidraw_platform.h"
#include "device/system_platform.h"

namespace wxr {

SystemPlatform make_system_platform() {
    return {std::make_unique<hidraw::HidrawPlatform>(), std::make_unique<hidraw::FlockMutexFactory>()};
}

}  // namespace wxr
