// The one place through which every device operation passes, so that each
// can also be written to a transcript. Nothing here interprets reports.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/hid_platform.h"
#include "device/silence_watch.h"
#include "device/transcript.h"

namespace wxr {

class DeviceChannel;

// What a status read on a handle holds, next to the handle's writes: only a
// reply read after a write that reached the device answers that write. A
// read before it, or after a lost write, returns what the device said before.
enum class ReplyState {
    Stale,    // no write has reached the device on this handle, or the last one was lost
    Awaited,  // the last write reached the device; no reply read since
    Fresh,    // a reply read since
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
    ReplyState reply = ReplyState::Stale;

    explicit operator bool() const { return handle != kNoHandle; }
};

// Whether a status read on the handle holds the device's reply to the
// handle's last write.
inline bool has_fresh_reply(const Device& device) { return device.reply == ReplyState::Fresh; }

class DeviceChannel {
public:
    DeviceChannel(HidPlatform& hid, Clock& clock, Transcript* transcript = nullptr)
        : hid_(hid), clock_(clock), transcript_(transcript) {}

    std::optional<std::vector<DevicePath>> enumerate();
    Device open(const DevicePath& path);
    bool capabilities(const Device& device, HidCapabilities& caps);
    bool attributes(const Device& device, HidAttributes& attrs);
    bool get_feature(Device& device, std::span<std::uint8_t> report);
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
    std::string instance(const DevicePath& path) { return hid_.instance(path); }

private:
    // Runs one operation and writes its transcript line.
    template <typename Op>
    auto perform(const std::string& path, std::string_view name, Op&& op);
    // Runs a read or write unless the device's silence is over its bound, in
    // which case it fails unasked; keeps the handle's reply state and the
    // silence watch up to date.
    template <typename Ask>
    bool ask(Device& device, Request request, Ask&& ask);
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
