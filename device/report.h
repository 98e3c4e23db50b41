// Feature report 5: the command and status report layouts and the busy-flag
// handshake that wraps every command.
#pragma once

#include <array>
#include <cstdint>

#include "device/channel.h"

namespace wxr {

inline constexpr std::uint8_t kReportId = 5;
inline constexpr std::size_t kCommandReportLength = 32;
inline constexpr std::size_t kStatusReportLength = 21;
inline constexpr std::uint8_t kBusyFlag = 0x80;  // bit 7 of status byte 1

// Polls read at most this often before giving up on a busy device: the
// device contract promises an answer well within 100 ms.
inline constexpr int kReadsPerPoll = 5;
inline constexpr std::uint32_t kBusyPauseMs = 20;

// Wait values of exchange_feature.
inline constexpr std::int32_t kWaitSkipPolls = -9;  // write only: no pre-poll, no post-poll

// Command reports and status buffers alike: 32 bytes, zero, report ID in byte 0.
using Report = std::array<std::uint8_t, kCommandReportLength>;

Report make_report();
// Identification: command code 0x00, every parameter 0.
Report identification_report();
// One-shot command value, laid out little-endian from byte 1.
Report one_shot_report(std::uint32_t value);
// Lays a 16-bit value little-endian at report[at], report[at + 1].
void put_u16(Report& report, std::size_t at, std::uint32_t value);

bool is_busy(const Report& status);

Device open_device(DeviceChannel& channel, const DevicePath& path);
void close_device(Device& device);

// Closes its device when the operation's scope ends, however it ends.
class ScopedDevice {
public:
    explicit ScopedDevice(Device device) : device_(std::move(device)) {}
    ~ScopedDevice() { close_device(device_); }
    ScopedDevice(const ScopedDevice&) = delete;
    ScopedDevice& operator=(const ScopedDevice&) = delete;

    Device& get() { return device_; }
    explicit operator bool() const { return static_cast<bool>(device_); }

private:
    Device device_;
};

// One status read (21 bytes) into status; a failed read leaves status as it was.
bool read_status(Device& device, Report& status);
// Writes a whole command report.
bool write_report(Device& device, const Report& command);

// Up to kReadsPerPoll status reads into status, pausing after each busy one.
// A failed read leaves status as it was.
void poll_status(Device& device, Report& status);

// The handshake: pre-poll (unless wait is kWaitSkipPolls), write, then for
// wait >= 0 an optional pause and the post-poll. The last status read stays
// in status. Returns whether the write went through.
bool exchange_feature(Device& device, const Report& command, Report& status, std::int32_t wait);

}  // namespace wxr
