// Reads the listed device's version, model and sensor into an image info record.
#pragma once

#include "device/discovery.h"
#include "image/image_info.h"

namespace wxr {

// Fills info from whatever the device answered, zeros when nothing; returns
// whether it answered as a device of this kind (the dialog looks at the record only).
bool query_device_info(DeviceContext& context, ImageInfo& info);

// The same for any interface path (the command line lists every device).
bool query_device_at(DeviceChannel& channel, const DevicePath& path, ImageInfo& info);

}  // namespace wxr
