#include "upgrade/device_query.h"

namespace wxr {

namespace {

constexpr std::size_t kVersionByte = 4;
constexpr std::size_t kModelByte = 5;
constexpr std::size_t kSensorByte = 6;

bool fill_from_reply(Device device, ImageInfo& info) {
    ScopedDevice scoped(std::move(device));
    Report status = make_report();
    bool written = scoped && exchange_feature(scoped.get(), identification_report(), status, kIdentifyWaitMs);
    // Whatever the exchange left, even nothing, is the answer.
    info.version = status[kVersionByte];
    info.model = status[kModelByte];
    info.sensor = status[kSensorByte];
    info.model_name = model_name_of(info.model);
    info.sensor_name = sensor_name_of(info.sensor);
    return written && status[1] == kIdentityA && status[2] == kIdentityB;
}

}  // namespace

bool query_device_info(DeviceContext& context, ImageInfo& info) {
    return fill_from_reply(open_listed_device(context), info);
}

bool query_device_at(DeviceChannel& channel, const DevicePath& path, ImageInfo& info) {
    return fill_from_reply(open_device(channel, path), info);
}

}  // namespace wxr
