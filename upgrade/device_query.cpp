#include "upgrade/device_query.h"

namespace wxr {

namespace {

constexpr std::size_t kVersionByte = 4;
constexpr std::size_t kModelByte = 5;
constexpr std::size_t kSensorByte = 6;

bool fill_from_reply(Device device, ImageInfo& info) {
    ScopedDevice scoped(std::move(device));
    Report status = make_report();
    if (scoped) exchange_feature(scoped.get(), identification_report(), status, kIdentifyWaitMs);
    // Whatever the exchange left, even nothing, fills the record.
    info.version = status[kVersionByte];
    info.model = status[kModelByte];
    info.sensor = status[kSensorByte];
    info.model_name = model_name_of(info.model);
    info.sensor_name = sensor_name_of(info.sensor);
    // An answer only when read after this query's write reached the device:
    // a read before it, or after a lost write, returns the probe's reply.
    return has_fresh_reply(scoped.get()) && status[1] == kIdentityA && status[2] == kIdentityB;
}

}  // namespace

bool query_device_info(DeviceContext& context, ImageInfo& info) {
    return fill_from_reply(open_listed_device(context), info);
}

bool query_device_at(DeviceChannel& channel, const DevicePath& path, ImageInfo& info) {
    return fill_from_reply(open_device(channel, path), info);
}

}  // namespace wxr
