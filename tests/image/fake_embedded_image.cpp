#include "tests/image/fake_embedded_image.h"

namespace wxr {

std::span<const std::uint8_t> test::fake_resource;

std::span<const std::uint8_t> embedded_image_resource() {
    return test::fake_resource;
}

}  // namespace wxr
