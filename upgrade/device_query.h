// Reads the listed device's version, model and sensor into an image info record.
#pragma once

#include "device/discovery.h"
#include "image/image_info.h"

namespace wxr {

// Fills info from whatever the exchange left, zeros when nothing; returns
// whether the device answered this very query as a device of this kind (the
// dialog looks at the record only). The context's silence watch, if any,
// bounds it as part of the run.
bool query_device_info(DeviceContext& context, ImageInfo& info);

// The same for any interface path (the command line lists every device).
bool query_device_at(DeviceChannel& channel, const DevicePath& path, ImageInfo& info);

}  // namespace wxr
