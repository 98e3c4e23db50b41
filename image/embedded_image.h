// The firmware image carried inside the executable: resource "BINARY" 130 on
// Windows, a generated array elsewhere.
#pragma once

#include <cstdint>
#include <span>

namespace wxr {

// The resource's bytes, valid for the life of the process; empty when the
// executable carries none or it cannot be loaded.
std::span<const std::uint8_t> embedded_image_resource();

}  // namespace wxr
