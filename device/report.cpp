#include "device/report.h"

#include <algorithm>
#include <span>

namespace wxr {

Report make_report() {
    Report report{};
    report[0] = kReportId;
    return report;
}

Report identification_report() { return make_report(); }

Report one_shot_report(std::uint32_t value) {
    Report report = make_report();
    for (std::size_t i = 0; i < 4; ++i) report[1 + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return report;
}

void put_u16(Report& report, std::size_t at, std::uint32_t value) {
    report[at] = static_cast<std::uint8_t>(value & 0xFF);
    report[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

bool is_busy(const Report& status) { return (status[1] & kBusyFlag) != 0; }

Device open_device(DeviceChannel& channel, const DevicePath& path) { return channel.open(path); }

void close_device(Device& device) {
    if (device.channel) device.channel->close(device);
}

// Reads into a scratch copy so that a failed read cannot leave half a report.
bool read_status(Device& device, Report& status) {
    Report scratch = status;
    scratch[0] = kReportId;
    std::span<std::uint8_t> report(scratch.data(), kStatusReportLength);
    if (!device.channel->get_feature(device, report)) return false;
    std::copy(report.begin(), report.end(), status.begin());
    return true;
}

bool write_report(Device& device, const Report& command) {
    return device.channel->set_feature(device, command);
}

void poll_status(Device& device, Report& status) {
    for (int read = 0; read < kReadsPerPoll; ++read) {
        read_status(device, status);
        if (!is_busy(status)) return;
        device.channel->sleep(kBusyPauseMs);
    }
}

bool exchange_feature(Device& device, const Report& command, Report& status, std::int32_t wait) {
    if (wait != kWaitSkipPolls) poll_status(device, status);
    bool written = write_report(device, command);
    if (wait < 0) return written;
    if (wait > 0) device.channel->sleep(static_cast<std::uint32_t>(wait));
    poll_status(device, status);
    return written;
}

}  // namespace wxr
