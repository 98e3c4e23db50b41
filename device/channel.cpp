#include "device/channel.h"

#include <type_traits>

#include "device/report_fit.h"

namespace wxr {

namespace {

struct Outcome {
    bool ok;
    std::string detail;  // written after the operation's name
};

ReplyState reply_after(ReplyState state, Request request, bool reached) {
    if (request == Request::Write) return reached ? ReplyState::Awaited : ReplyState::Stale;
    return reached && state == ReplyState::Awaited ? ReplyState::Fresh : state;
}

}  // namespace

template <typename Op>
auto DeviceChannel::perform(const std::string& path, std::string_view name, Op&& op) {
    std::uint64_t start = clock_.now_ms();
    auto [result, outcome] = op();
    if (transcript_) {
        std::string line = std::to_string(start);
        if (!path.empty()) line += ' ' + path;
        line += ' ';
        line += name;
        if (!outcome.ok) line += " failed";
        if (!outcome.detail.empty()) line += ' ' + outcome.detail;
        transcript_->add(std::move(line));
    }
    return result;
}

std::optional<std::vector<DevicePath>> DeviceChannel::enumerate() {
    return perform({}, "enumerate", [&] {
        auto paths = hid_.enumerate();
        Outcome o{paths.has_value(), paths ? std::to_string(paths->size()) : std::string{}};
        return std::pair{std::move(paths), o};
    });
}

Device DeviceChannel::open(const DevicePath& path) {
    Device device{this, kNoHandle, to_utf8(path)};
    device.handle = perform(device.path_text, "open", [&] {
        HidHandle h = hid_.open(path);
        return std::pair{h, Outcome{h != kNoHandle, {}}};
    });
    return device;
}

bool DeviceChannel::capabilities(const Device& device, HidCapabilities& caps) {
    return perform(device.path_text, "caps", [&] {
        bool ok = hid_.capabilities(device.handle, caps);
        return std::pair{ok, Outcome{ok, ok ? std::to_string(caps.feature_report_length) : std::string{}}};
    });
}

bool DeviceChannel::attributes(const Device& device, HidAttributes& attrs) {
    return perform(device.path_text, "attributes", [&] {
        bool ok = hid_.attributes(device.handle, attrs);
        std::string detail;
        if (ok) {
            std::uint8_t raw[] = {std::uint8_t(attrs.vendor_id >> 8), std::uint8_t(attrs.vendor_id),
                                  std::uint8_t(attrs.product_id >> 8), std::uint8_t(attrs.product_id),
                                  std::uint8_t(attrs.version >> 8), std::uint8_t(attrs.version)};
            std::string hex = hex_bytes(raw);
            detail = hex.substr(0, 4) + ':' + hex.substr(4, 4) + ':' + hex.substr(8, 4);
        }
        return std::pair{ok, Outcome{ok, detail}};
    });
}

template <typename Ask>
bool DeviceChannel::ask(Device& device, Request request, Ask&& ask) {
    const std::uint64_t asked = clock_.now_ms();
    SilenceWatch* silence = device.silence;
    const bool reached = !(silence && silence->over(asked)) && ask();
    device.reply = reply_after(device.reply, request, reached);
    if (silence) silence->heard(request, reached, asked);
    return reached;
}

bool DeviceChannel::get_feature(Device& device, std::span<std::uint8_t> report) {
    return perform(device.path_text, "get", [&] {
        bool ok = ask(device, Request::Read, [&] { return hid_.get_feature(device.handle, report); });
        return std::pair{ok, Outcome{ok, ok ? traced_bytes(report) : std::string{}}};
    });
}

bool DeviceChannel::set_feature(Device& device, std::span<const std::uint8_t> report) {
    if (!device.feature_length) {
        // Not a transcript line of its own: it only decides the bytes of this one.
        std::uint16_t length = 0;
        device.feature_length = hid_.feature_report_length(device.handle, length) ? length : 0;
    }
    // Without a known length the report goes as it is, for the backend to judge.
    auto wire = *device.feature_length != 0 ? fit_feature_report(report, *device.feature_length)
                                            : std::vector<std::uint8_t>(report.begin(), report.end());
    return perform(device.path_text, "set", [&] {
        if (!wire) {
            device.reply = reply_after(device.reply, Request::Write, false);
            return std::pair{false, Outcome{false, traced_bytes(report)}};
        }
        bool ok = ask(device, Request::Write, [&] { return hid_.set_feature(device.handle, *wire); });
        return std::pair{ok, Outcome{ok, traced_bytes(*wire)}};
    });
}

void DeviceChannel::close(Device& device) {
    if (!device) return;
    perform(device.path_text, "close", [&] {
        hid_.close(device.handle);
        return std::pair{0, Outcome{true, {}}};
    });
    device.handle = kNoHandle;
}

void DeviceChannel::sleep(std::uint32_t ms) {
    perform({}, "sleep", [&] {
        clock_.sleep_ms(ms);
        return std::pair{0, Outcome{true, std::to_string(ms)}};
    });
}

std::string to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string from_utf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        int extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : -1;
        char32_t c = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
        bool valid = extra >= 0 && i + extra < text.size();
        for (int k = 1; valid && k <= extra; ++k) {
            unsigned char cont = static_cast<unsigned char>(text[i + k]);
            valid = (cont & 0xC0) == 0x80;
            c = (c << 6) | (cont & 0x3F);
        }
        if (!valid || c > 0x10FFFF) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        i += 1 + extra;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += char16_t(0xD800 + (c >> 10));
            out += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            out += char16_t(c);
        }
    }
    return out;
}

}  // namespace wxr
