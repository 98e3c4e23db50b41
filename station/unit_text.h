// Texts about a unit that the station itself gives (its records, its
// notices) and every front-end shows: what it is, where, and why it was not
// written. Anything a device or the system gave is made printable first.
#pragma once

#include <string>
#include <string_view>

#include "image/image_info.h"

namespace wxr::station {

// Control characters shown as \xNN, so that an image's text cannot drive the terminal.
std::u16string escape_control_chars(std::u16string_view text);
// A text the device or the system gave, for a terminal: control bytes shown as \xNN.
std::string printable(const std::string& text);
// "at usb-0000:00:14.0-2/input0  serial 0042", or empty.
std::string whereabouts(const std::string& location, const std::string& serial);
// What differs, in words: "sensor LX100, firmware is for LX300"; empty when it fits.
std::string mismatch_words(const ImageInfo& image, const ImageInfo& device);
// "version 60 → 57, an older firmware" when the write goes back, else empty.
std::string downgrade_words(int before, int after);
// "TQ16", "LX300": the names of the tables, else "model 16", "sensor 3".
std::string model_text(const ImageInfo& info);
std::string sensor_text(const ImageInfo& info);

}  // namespace wxr::station
