#include "image/image_store.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/image/fake_embedded_image.h"
#include "tests/image/image_bytes.h"

namespace wxr {
namespace {

class ImageStoreLoad : public ::testing::Test {
protected:
    void TearDown() override { test::fake_resource = {}; }
    std::unique_ptr<ImageStore> store_ = std::make_unique<ImageStore>();
};

TEST_F(ImageStoreLoad, NoResourceLeavesAnEmptyStoreWithoutBlock) {
    load_embedded_image(*store_);
    EXPECT_EQ(store_->length, 0);
    ImageInfo info;
    EXPECT_EQ(parse_image_info(store_->bytes, store_->length, info), 0);
    EXPECT_EQ(info.model, 0);
}

TEST_F(ImageStoreLoad, CopiesTheResourceAndZeroesTheRest) {
    std::fill(store_->bytes.begin(), store_->bytes.end(), std::uint8_t{0xEE});
    std::vector<std::uint8_t> image(1000, 0x42);
    test::put_block(image, 500);
    test::fake_resource = image;
    load_embedded_image(*store_);
    ASSERT_EQ(store_->length, 1000);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), store_->bytes.begin()));
    EXPECT_EQ(std::count(store_->bytes.begin() + 1000, store_->bytes.end(), 0), kImageStoreCapacity - 1000);
}

TEST_F(ImageStoreLoad, ResourceFillingTheStoreIsTaken) {
    std::vector<std::uint8_t> image(kImageStoreCapacity, 0x01);
    test::fake_resource = image;
    load_embedded_image(*store_);
    EXPECT_EQ(store_->length, kImageStoreCapacity);
}

TEST_F(ImageStoreLoad, OversizeResourceIsRefusedAndTheBytesStay) {
    std::fill(store_->bytes.begin(), store_->bytes.end(), std::uint8_t{0xEE});
    store_->length = 5;
    std::vector<std::uint8_t> image(kImageStoreCapacity + 1, 0x01);
    test::fake_resource = image;
    load_embedded_image(*store_);
    EXPECT_EQ(store_->length, 0);
    EXPECT_EQ(std::count(store_->bytes.begin(), store_->bytes.end(), 0xEE), kImageStoreCapacity);
}

}  // namespace
}  // namespace wxr
