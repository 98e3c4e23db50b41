#include <gtest/gtest.h>

#include <memory>

#include "image/embedded_image.h"
#include "image/image_store.h"

namespace wxr {
namespace {

constexpr std::int32_t kDemoLength = 38'648;

TEST(EmbeddedImage, LoadsTheDemoFirmwareAndItsInfo) {
    auto store = std::make_unique<ImageStore>();
    load_embedded_image(*store);
    ASSERT_EQ(store->length, kDemoLength);
    EXPECT_TRUE(std::all_of(store->bytes.begin() + kDemoLength, store->bytes.end(),
                            [](std::uint8_t byte) { return byte == 0; }));

    ImageInfo info;
    ASSERT_EQ(parse_image_info(store->bytes, store->length, info), 1);
    EXPECT_EQ(info.model, 16);
    EXPECT_EQ(info.model_name, u"TQ16");
    EXPECT_EQ(info.version, 57);
    EXPECT_EQ(info.checksum, 0x7DF8u);
    EXPECT_EQ(info.sensor, 3);
    EXPECT_EQ(info.sensor_name, u"LX300");
    EXPECT_EQ(info.customer, u"Demo");
    EXPECT_EQ(format_image_info(info),
              u"Customer: Demo\nSize: 38648 bytes\r\nModel: TQ16\r\nVer.: 57\r\nChecksum: 7DF8\r\nSensor: LX300");
}

std::uint32_t word_at(std::span<const std::uint8_t> bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

TEST(EmbeddedImage, StartsWithACortexMVectorTable) {
    constexpr std::uint32_t kFlashBase = 0x0800'0000;
    const auto image = embedded_image_resource();
    ASSERT_EQ(image.size(), static_cast<std::size_t>(kDemoLength));
    EXPECT_EQ(word_at(image, 0), 0x2000'2000u);  // initial stack pointer in SRAM
    const std::uint32_t reset = word_at(image, 4);
    EXPECT_EQ(reset & 1u, 1u);  // Thumb
    EXPECT_GE(reset, kFlashBase);
    EXPECT_LT(reset, kFlashBase + kDemoLength);
}

}  // namespace
}  // namespace wxr
