// Finding the device to upgrade: one probe thread per present HID interface,
// collecting the accepted interface paths into the device list.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "device/channel.h"
#include "device/hid_platform.h"
#include "device/report.h"
#include "image/image_store.h"

namespace wxr {

inline constexpr std::size_t kDeviceListCapacity = 20;
inline constexpr std::size_t kMaxProbesPerWave = 200;
inline constexpr std::size_t kMaxPathLength = 1024;
inline constexpr char16_t kDeviceListMutexName[] = u"device list access mutex";
inline constexpr std::uint16_t kIdentityFeatureLength = 21;
inline constexpr std::int32_t kIdentifyWaitMs = 50;
inline constexpr std::uint8_t kIdentityA = 0x41;
inline constexpr std::uint8_t kIdentityB = 0x42;

struct DeviceList {
    std::array<DevicePath, kDeviceListCapacity> paths;
    std::int32_t count = 0;
    std::unique_ptr<NamedMutex> mutex;  // created by the first pass
    // Serialises this process's probes even when the named mutex could not be created.
    std::mutex local_lock;
};

// What discovery and the device's later users need from the process.
struct DeviceContext {
    DeviceChannel& channel;
    NamedMutexFactory& mutexes;
    ShiftKeyState& shift;
    const ExpectedModel& expected_model;
    DeviceList& list;
    // The run's silence bound, shared by the query and the upgrade procedure
    // on entry 0; nullptr: the procedure bounds its own silence.
    SilenceWatch* silence = nullptr;
};

// One pass: empties the list, probes every present interface in parallel and
// returns the number listed.
std::int32_t discover_devices(DeviceContext& context);

// The body of one probe thread.
void probe_device(DeviceContext& context, DevicePath path);

// The probe's steps before the model check, for front-ends that report every
// interface that looks like ours. status holds the identification reply.
enum class ProbeAnswer {
    NotOurs,     // cannot be opened, or has no 21-byte feature report
    NoAnswer,    // has the report but did not answer the identification as ours
    Identified,  // answered with A and B
};
// A silence watch, when given, bounds the exchange with the other requests it watches.
ProbeAnswer probe_identity(DeviceChannel& channel, const DevicePath& path, Report& status,
                           SilenceWatch* silence = nullptr);

// The probe's verdict on one interface without touching the device list:
// a 21-byte feature report, the identity answer and the expected model
// (or the Shift override).
bool passes_probe(DeviceContext& context, const DevicePath& path);

// Probes the paths side by side, as a pass does, and returns those accepted
// in the order given; no 20-entry cap (the command line lists every device).
std::vector<DevicePath> probe_paths(DeviceContext& context, const std::vector<DevicePath>& paths);

// Runs body(0) .. body(count - 1) each on its own thread taking part in the
// clock, at most kMaxProbesPerWave at once, and returns when all have ended.
// An index whose thread cannot be started (no thread, no memory) runs on the
// calling thread; an exception out of body ends that index only.
void run_side_by_side(Clock& clock, std::size_t count, const std::function<void(std::size_t)>& body);

// A one-shot command to device list entry 0: pre-poll, write, no reply.
// Returns whether the write went through.
bool send_device_command(DeviceContext& context, std::uint32_t value);

// Opens device list entry 0, watched by the context's silence bound; an
// unopened Device when the list is empty.
Device open_listed_device(DeviceContext& context);

}  // namespace wxr
