// Builders of test images: zero bytes with an info block where asked.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "image/image_info.h"

namespace wxr::test {

struct BlockBytes {
    std::uint8_t model = 16;
    std::uint8_t version = 57;
    std::uint8_t sensor = 3;
    std::uint8_t info7 = 0x77;
    std::uint8_t info8 = 0x88;
    std::uint8_t info9 = 0x99;
    std::uint8_t info10 = 0xAA;
};

// Writes the marker at `at` and the block bytes after it, as far as they fit.
inline void put_block(std::vector<std::uint8_t>& bytes, std::size_t at, const BlockBytes& block = {}) {
    const std::uint8_t all[] = {kInfoMarker[0], kInfoMarker[1], kInfoMarker[2], kInfoMarker[3],
                                block.model,    block.version,  block.sensor,   block.info7,
                                block.info8,    block.info9,    block.info10};
    for (std::size_t i = 0; i < std::size(all) && at + i < bytes.size(); ++i) {
        bytes[at + i] = all[i];
    }
}

// Tags and zero-padded text (16 bytes at most) in front of a marker at
// `marker` (20 or more).
inline void put_customer(std::vector<std::uint8_t>& bytes, std::size_t marker, std::string_view text) {
    bytes[marker - 20] = kCustomerTag;
    bytes[marker - 19] = kCustomerTag;
    for (std::size_t i = 0; i < kCustomerTextLength; ++i) {
        bytes[marker - 16 + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
    }
}

}  // namespace wxr::test
