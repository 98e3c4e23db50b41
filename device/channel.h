// The one place through which every device operation passes, so that each
// can also be written to a transcript. Nothing here interprets reports.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/hid_platform.h"
#include "device/transcript.h"

namespace wxr {

class DeviceChannel;

// An interface opened through a channel. Closing is explicit (close_device):
// no device stays open from one operation to the next.
struct Device {
    DeviceChannel* channel = nullptr;
    HidHandle handle = kNoHandle;
    std::string path_text;  // the path as the transcript shows it
    // The interface's feature-report length, asked for by the first write on
    // this handle (another device may appear at the same path later).
    std::optional<std::uint16_t> feature_length;

    explicit operator bool() const { return handle != kNoHandle; }
};

class DeviceChannel {
public:
    DeviceChannel(HidPlatform& hid, Clock& clock, Transcript* transcript = nullptr)
        : hid_(hid), clock_(clock), transcript_(transcript) {}

    std::optional<std::vector<DevicePath>> enumerate();
    Device open(const DevicePath& path);
    bool capabilities(const Device& device, HidCapabilities& caps);
    bool attributes(const Device& device, HidAttributes& attrs);
    bool get_feature(const Device& device, std::span<std::uint8_t> report);
    // Writes the report at the interface's feature-report length (see
    // report_fit.h); the transcript shows the bytes that went out.
    bool set_feature(Device& device, std::span<const std::uint8_t> report);
    void close(Device& device);
    void sleep(std::uint32_t ms);
    Clock& clock() { return clock_; }
    // The system's records of an interface (see HidPlatform); not in the transcript.
    std::string location(const DevicePath& path) { return hid_.location(path); }
    std::string serial_number(const DevicePath& path) { return hid_.serial_number(path); }

private:
    // Runs one operation and writes its transcript line.
    template <typename Op>
    auto perform(const std::string& path, std::string_view name, Op&& op);

    HidPlatform& hid_;
    Clock& clock_;
    Transcript* transcript_;
};

// UTF-16 to UTF-8, for transcripts and terminals; bad surrogates become U+FFFD.
std::string to_utf8(std::u16string_view text);
std::u16string from_utf8(std::string_view text);

}  // namespace wxr
