#include "station/unit_text.h"

#include <cstdio>

#include "device/channel.h"

namespace wxr::station {

namespace {

bool is_control(char16_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0); }

}  // namespace

std::u16string escape_control_chars(std::u16string_view text) {
    std::u16string out;
    for (char16_t c : text) {
        if (!is_control(c)) {
            out += c;
            continue;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(c));
        out.append(hex, hex + 4);
    }
    return out;
}

std::string printable(const std::string& text) { return to_utf8(escape_control_chars(from_utf8(text))); }

std::string whereabouts(const std::string& location, const std::string& serial) {
    std::string out;
    if (!location.empty()) out += "at " + printable(location);
    if (!serial.empty()) out += (out.empty() ? "" : "  ") + std::string("serial ") + printable(serial);
    return out;
}

std::string mismatch_words(const ImageInfo& image, const ImageInfo& device) {
    auto name = [](const char* kind, const std::u16string& text, int number) {
        return std::string(kind) + " " + (text.empty() ? std::to_string(number) : to_utf8(text));
    };
    auto bare = [](const std::u16string& text, int number) { return text.empty() ? std::to_string(number) : to_utf8(text); };
    const bool model = image.model != device.model, sensor = image.sensor != device.sensor;
    if (model && sensor) {
        return name("model", device.model_name, device.model) + " and " + name("sensor", device.sensor_name, device.sensor) +
               ", firmware is for " + bare(image.model_name, image.model) + " " + bare(image.sensor_name, image.sensor);
    }
    if (model) return name("model", device.model_name, device.model) + ", firmware is for " + bare(image.model_name, image.model);
    if (sensor) {
        return name("sensor", device.sensor_name, device.sensor) + ", firmware is for " + bare(image.sensor_name, image.sensor);
    }
    return {};
}

std::string downgrade_words(int before, int after) {
    if (before <= after) return {};
    return "version " + std::to_string(before) + " \u2192 " + std::to_string(after) + ", an older firmware";
}

std::string model_text(const ImageInfo& info) {
    return info.model_name.empty() ? "model " + std::to_string(info.model) : to_utf8(info.model_name);
}

std::string sensor_text(const ImageInfo& info) {
    return info.sensor_name.empty() ? "sensor " + std::to_string(info.sensor) : to_utf8(info.sensor_name);
}

}  // namespace wxr::station
