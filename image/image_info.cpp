#include "image/image_info.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "image/ansi_text.h"

namespace wxr {

namespace {

constexpr std::uint32_t kChecksumModulus = 0x10000;

// The caller's buffer is zero past the image; past the buffer's ends the
// same is assumed without reading.
std::uint8_t byte_at(std::span<const std::uint8_t> buffer, std::ptrdiff_t pos) {
    if (pos < 0 || static_cast<std::size_t>(pos) >= buffer.size()) {
        return 0;
    }
    return buffer[static_cast<std::size_t>(pos)];
}

// Offset of the first marker at 1 or more that ends before the image's last
// byte; a marker at 0 does not count.
std::optional<std::ptrdiff_t> find_info_marker(std::span<const std::uint8_t> image) {
    if (image.size() < 2) {
        return std::nullopt;
    }
    const auto first = image.begin() + 1;
    const auto last = image.end() - 1;
    const auto found = std::search(first, last, kInfoMarker.begin(), kInfoMarker.end());
    if (found == last) {
        return std::nullopt;
    }
    return found - image.begin();
}

std::string customer_bytes(std::span<const std::uint8_t> buffer, std::ptrdiff_t marker) {
    std::string text;
    // The four marker bytes follow the text and are taken with it when the
    // text fills all 16 bytes.
    const int end = kCustomerTextOffset + kCustomerTextLength + static_cast<int>(kInfoMarker.size());
    for (int offset = kCustomerTextOffset; offset < end; ++offset) {
        const std::uint8_t byte = byte_at(buffer, marker + offset);
        if (byte == 0) {
            break;
        }
        text.push_back(static_cast<char>(byte));
    }
    return text;
}

bool has_customer_tag(std::span<const std::uint8_t> buffer, std::ptrdiff_t marker) {
    return byte_at(buffer, marker + kCustomerTagOffset) == kCustomerTag &&
           byte_at(buffer, marker + kCustomerTagOffset + 1) == kCustomerTag;
}

void read_block(std::span<const std::uint8_t> buffer, std::ptrdiff_t marker, ImageInfo& info) {
    info.model = byte_at(buffer, marker + kModelOffset);
    info.version = byte_at(buffer, marker + kVersionOffset);
    info.sensor = byte_at(buffer, marker + kSensorOffset);
    info.info7 = byte_at(buffer, marker + kInfo7Offset);
    info.info8 = byte_at(buffer, marker + kInfo8Offset);
    info.info9 = byte_at(buffer, marker + kInfo9Offset);
    info.info10 = byte_at(buffer, marker + kInfo10Offset);
    info.model_name = model_name_of(info.model);
    info.sensor_name = sensor_name_of(info.sensor);
    if (has_customer_tag(buffer, marker)) {
        info.customer = ansi_to_utf16(customer_bytes(buffer, marker)).value_or(std::u16string{});
    }
}

std::size_t clamped_length(std::span<const std::uint8_t> buffer, std::int32_t length) {
    if (length < 0) {
        return 0;
    }
    return std::min(static_cast<std::size_t>(length), buffer.size());
}

std::u16string widen_ascii(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

std::u16string hex4(std::uint32_t value) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(value));
    return widen_ascii(digits);
}

}  // namespace

std::u16string model_name_of(std::uint8_t model) {
    return model < kModelNames.size() ? std::u16string(kModelNames[model]) : std::u16string{};
}

std::u16string sensor_name_of(std::uint8_t sensor) {
    return sensor < kSensorNames.size() ? std::u16string(kSensorNames[sensor]) : std::u16string{};
}

std::uint32_t image_checksum(std::span<const std::uint8_t> image) {
    std::uint32_t sum = 0;
    for (const std::uint8_t byte : image) {
        sum += byte;
    }
    return sum % kChecksumModulus;
}

int parse_image_info(std::span<const std::uint8_t> buffer, std::int32_t length, ImageInfo& info) {
    const auto image = buffer.first(clamped_length(buffer, length));
    info.model = 0;
    info.version = kNoVersion;
    info.sensor = kNoSensor;
    info.info8 = 0;
    info.info9 = 0;
    info.info10 = 0;
    info.customer.clear();
    info.size = static_cast<std::int32_t>(image.size());
    info.checksum = image_checksum(image);

    const auto marker = find_info_marker(image);
    if (!marker) {
        return 0;
    }
    read_block(buffer, *marker, info);
    return 1;
}

std::u16string format_image_info(const ImageInfo& info) {
    std::u16string text;
    if (!info.customer.empty()) {
        text += u"Customer: " + info.customer + u"\n";
    }
    text += u"Size: " + widen_ascii(std::to_string(info.size)) + u" bytes\r\n";
    text += u"Model: " + info.model_name + u"\r\n";
    text += u"Ver.: " + widen_ascii(std::to_string(info.version)) + u"\r\n";
    text += u"Checksum: " + hex4(info.checksum) + u"\r\n";
    text += u"Sensor: " + info.sensor_name;
    return text;
}

}  // namespace wxr
