#include "device/discovery.h"

#include "device/clock_threads.h"

#include <algorithm>
#include <vector>

namespace wxr {

namespace {

// Both locks: the named one excludes other processes, the local one this
// process's probes even when the named one could not be created.
void append_to_list(DeviceList& list, const DevicePath& path) {
    std::lock_guard local(list.local_lock);
    bool named = list.mutex && list.mutex->lock();
    // A twenty-first accepted interface is dropped: nothing past the table is written.
    if (list.count >= 0 && static_cast<std::size_t>(list.count) < kDeviceListCapacity) {
        list.paths[static_cast<std::size_t>(list.count)] = path;
        ++list.count;
    }
    if (named) list.mutex->unlock();
}

bool answers_as_expected(DeviceContext& context, const Report& status) {
    if (status[1] != kIdentityA || status[2] != kIdentityB) return false;
    // The override is asked first, once per identified interface.
    bool shift = context.shift.pressed_since_last_query();
    return shift || status[5] == context.expected_model.load();
}

bool has_identity_report(DeviceChannel& channel, Device& device) {
    HidCapabilities caps;
    HidAttributes attrs;
    return channel.capabilities(device, caps) && channel.attributes(device, attrs) &&
           caps.feature_report_length == kIdentityFeatureLength;
}

}  // namespace

ProbeAnswer probe_identity(DeviceChannel& channel, const DevicePath& path, Report& status, SilenceWatch* silence) {
    ScopedDevice device(open_device(channel, path));
    if (!device || !has_identity_report(channel, device.get())) return ProbeAnswer::NotOurs;
    device.get().silence = silence;
    exchange_feature(device.get(), identification_report(), status, kIdentifyWaitMs);
    return status[1] == kIdentityA && status[2] == kIdentityB ? ProbeAnswer::Identified : ProbeAnswer::NoAnswer;
}

bool passes_probe(DeviceContext& context, const DevicePath& path) {
    Report status = make_report();
    return probe_identity(context.channel, path, status) == ProbeAnswer::Identified &&
           answers_as_expected(context, status);
}

void probe_device(DeviceContext& context, DevicePath path) {
    try {
        if (passes_probe(context, path)) append_to_list(context.list, path);
    } catch (const std::exception&) {
        // A probe that runs out of resources simply does not list its interface.
    }
}

void run_side_by_side(Clock& clock, std::size_t count, const std::function<void(std::size_t)>& body) {
    auto guarded = [&body](std::size_t i) noexcept {
        try {
            body(i);
        } catch (...) {
            // Nothing escapes a probe thread: the index simply has no result.
        }
    };
    run_on_threads(clock, count, kMaxProbesPerWave, guarded);
}

std::vector<DevicePath> probe_paths(DeviceContext& context, const std::vector<DevicePath>& paths) {
    std::vector<char> accepted(paths.size(), 0);
    run_side_by_side(context.channel.clock(), paths.size(), [&](std::size_t i) {
        try {
            accepted[i] = passes_probe(context, paths[i].substr(0, kMaxPathLength));
        } catch (const std::exception&) {
            // As in a pass: the interface is simply not listed.
        }
    });
    std::vector<DevicePath> out;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (accepted[i]) out.push_back(paths[i]);
    }
    return out;
}

std::int32_t discover_devices(DeviceContext& context) {
    DeviceList& list = context.list;
    if (!list.mutex) list.mutex = context.mutexes.create(kDeviceListMutexName);
    list.count = 0;
    auto paths = context.channel.enumerate();
    if (!paths) return list.count;
    // More interfaces than probes at once are probed in further waves.
    run_side_by_side(context.channel.clock(), paths->size(),
                     [&](std::size_t i) { probe_device(context, (*paths)[i].substr(0, kMaxPathLength)); });
    return list.count;
}

Device open_listed_device(DeviceContext& context) {
    if (context.list.count <= 0) return Device{};
    Device device = open_device(context.channel, context.list.paths[0]);
    device.silence = context.silence;
    return device;
}

bool send_device_command(DeviceContext& context, std::uint32_t value) {
    ScopedDevice device(open_listed_device(context));
    if (!device) return false;
    Report status = make_report();
    poll_status(device.get(), status);
    return write_report(device.get(), one_shot_report(value));
}

}  // namespace wxr
