// A mixed bench: several firmware images at once, each unit written with the
// one image whose model and sensor it has.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "image/image_info.h"
#include "image/image_store.h"

namespace wxr::station {

struct BenchImage {
    std::string name;  // the file as given
    ImageStore store;
    ImageInfo info;
};

using BenchImages = std::vector<std::unique_ptr<BenchImage>>;

// What a record calls the firmware the tool carries.
inline constexpr char kBuiltInImageName[] = "built-in";

// Reads every file, or the built-in image when there are none. False, after
// a message, when one cannot be used or when two are for the same model and
// sensor (a unit could not tell which it gets).
bool load_bench_images(const std::vector<std::string>& files, BenchImages& images, std::ostream& err);

// Whether one of the images is for this model and sensor.
bool fits_any(const BenchImages& images, std::uint8_t model, std::uint8_t sensor);

// The image whose model and sensor the device reported; nullptr when none fits.
const BenchImage* image_for(const BenchImages& images, const ImageInfo& device);

// "no image for TQ22 LX300", why a unit that fits none is refused.
std::string no_image_text(const ImageInfo& device);

}  // namespace wxr::station
