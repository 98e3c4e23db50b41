// The info block inside a firmware image, the image info record it is read
// into, the 16-bit image checksum, the model and sensor name tables and the
// info text shown to the user. Everything here works on what the caller hands
// in; nothing keeps state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace wxr {

// Layout of the info block, as offsets from the marker's first byte.
inline constexpr std::array<std::uint8_t, 4> kInfoMarker{0x0C, 0x12, 0x03, 0x05};
inline constexpr std::uint8_t kCustomerTag = 0x12;
inline constexpr int kCustomerTagOffset = -20;  // two tag bytes, -20 and -19
inline constexpr int kCustomerTextOffset = -16;
inline constexpr int kCustomerTextLength = 16;  // zero-padded ANSI text
inline constexpr int kModelOffset = 4;
inline constexpr int kVersionOffset = 5;
inline constexpr int kSensorOffset = 6;
inline constexpr int kInfo7Offset = 7;
inline constexpr int kInfo8Offset = 8;
inline constexpr int kInfo9Offset = 9;
inline constexpr int kInfo10Offset = 10;

// Values a parse leaves when the image has no info block.
inline constexpr std::uint8_t kNoVersion = 255;
inline constexpr std::uint8_t kNoSensor = 255;

// One per use; a fresh record has zeros and empty texts.
struct ImageInfo {
    std::int32_t size = 0;
    std::uint32_t checksum = 0;  // always below 65,536 after a parse
    std::uint8_t model = 0;
    std::uint8_t version = 0;
    std::uint8_t info8 = 0;
    std::uint8_t info9 = 0;
    std::uint8_t info10 = 0;
    std::uint8_t sensor = 0;
    std::uint8_t info7 = 0;
    std::u16string sensor_name;
    std::u16string customer;
    std::u16string model_name;
};

inline constexpr std::array<std::u16string_view, 40> kModelNames{
    u"TQ00", u"TQ01", u"TQ02", u"TQ03", u"TQ04", u"TQ05", u"TQ06", u"TQ07", u"TQ08", u"TQ09",
    u"TQ10", u"TQ11", u"TQ12", u"TQ13", u"TQ14", u"TQ15", u"TQ16", u"TQ17", u"TQ18", u"TQ19",
    u"TQ20", u"TQ21", u"TQ22", u"TQ23", u"TQ24", u"TQ25", u"TQ26", u"TQ27", u"TQ28", u"TQ29",
    u"TQ30", u"TQ31", u"TQ32", u"TQ33", u"TQ34", u"TQ35", u"TQ36", u"TQ37", u"TQ38", u"TQ39",
};

// Row 0 is deliberately empty.
inline constexpr std::array<std::u16string_view, 8> kSensorNames{
    u"", u"LX100", u"LX200", u"LX300", u"LX400", u"LX500", u"LX600", u"LX400IR",
};

// Empty text for a byte without a row.
std::u16string model_name_of(std::uint8_t model);
std::u16string sensor_name_of(std::uint8_t sensor);

// Low 16 bits of the sum of all bytes.
std::uint32_t image_checksum(std::span<const std::uint8_t> image);

// Reads the first info block at an offset of 1 or more from the image made of
// the first `length` bytes of `buffer`. Returns 1 when a block was found, else
// 0; fills `info` in both cases. A length outside 0..buffer.size() is clamped
// into it. Bytes the block would take from outside `buffer` read as 0.
int parse_image_info(std::span<const std::uint8_t> buffer, std::int32_t length, ImageInfo& info);

// The info text: an optional customer line ended by a lone LF, then five
// lines separated by CR LF, the last one not ended.
std::u16string format_image_info(const ImageInfo& info);

}  // namespace wxr
