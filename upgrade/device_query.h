// Reads the listed device's version, model and sensor into an image info record.
#pragma once

#include "device/discovery.h"
#include "image/image_info.h"

namespace wxr {

void query_device_info(DeviceContext& context, ImageInfo& info);

}  // namespace wxr
