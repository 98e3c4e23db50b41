// Stands in for the executable's resource in tests of the image store.
#pragma once

#include "image/embedded_image.h"

namespace wxr::test {

// What embedded_image_resource() returns; empty means no resource.
extern std::span<const std::uint8_t> fake_resource;

}  // namespace wxr::test
