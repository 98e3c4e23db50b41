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

// How long a device that has answered in a run has since left requests
// unanswered. Once that passes the bound, the channel fails the run's reads
// and writes at once instead of asking again: on USB each unanswered request
// waits a timeout of seconds, and an exchange makes up to three.
struct SilenceWatch {
    std::uint64_t bound_ms = 0;
    bool answered = false;
    // When the first request after the last answer was made, if it went unanswered.
    std::optional<std::uint64_t> unanswered_since_ms;

    void heard(bool answer, std::uint64_t asked_ms) {
        if (answer) {
            answered = true;
            unanswered_since_ms.reset();
        } else if (answered && !unanswered_since_ms) {
            unanswered_since_ms = asked_ms;
        }
    }
    bool over(std::uint64_t now_ms) const {
        return unanswered_since_ms && now_ms - *unanswered_since_ms >= bound_ms;
    }
};

// An interface opened through a channel. Closing is explicit (close_device):
// no device stays open from one operation to the next.
struct Device {
    DeviceChannel* channel = nullptr;
    HidHandle handle = kNoHandle;
    std::string path_text;  // the path as the transcript shows it
    // The interface's feature-report length, asked for by the first write on
    // this handle (another device may appear at the same path later).
    std::optional<std::uint16_t> feature_length;
    SilenceWatch* silence = nullptr;  // set by a caller that bounds silence

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
    // Passed to the backend (see HidPlatform::hold). No transcript line: they
    // change what a backend keeps, never what reaches the device.
    void hold(const DevicePath& path) { hid_.hold(path); }
    // The interfaces present, to hold them: no device is asked, so no
    // transcript line.
    std::vector<DevicePath> present_paths() { return hid_.enumerate().value_or(std::vector<DevicePath>{}); }
    void release(const DevicePath& path) { hid_.release(path); }
    // The unit's claim (see HidPlatform::claim, and UnitClaim); like hold, no
    // transcript line: nothing reaches the device.
    bool claim(const DevicePath& path) { return hid_.claim(path); }
    void unclaim(const DevicePath& path) { hid_.unclaim(path); }
    Clock& clock() const { return clock_; }
    // The system's records of an interface (see HidPlatform); not in the transcript.
    std::string location(const DevicePath& path) { return hid_.location(path); }
    std::string serial_number(const DevicePath& path) { return hid_.serial_number(path); }

private:
    // Runs one operation and writes its transcript line.
    template <typename Op>
    auto perform(const std::string& path, std::string_view name, Op&& op);
    // Runs a read or write unless the device's silence is over its bound, in
    // which case it fails unasked.
    template <typename Ask>
    bool ask(const Device& device, Ask&& ask);
    // A report's bytes for its transcript line; nothing to format without one
    // (an upgrade makes thousands of reports).
    std::string traced_bytes(std::span<const std::uint8_t> bytes) const {
        return transcript_ ? hex_bytes(bytes) : std::string{};
    }

    HidPlatform& hid_;
    Clock& clock_;
    Transcript* transcript_;
};

// UTF-16 to UTF-8, for transcripts and terminals; bad surrogates become U+FFFD.
std::string to_utf8(std::u16string_view text);
std::u16string from_utf8(std::string_view text);

}  // namespace wxr
