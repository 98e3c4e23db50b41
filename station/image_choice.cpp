#include "station/image_choice.h"

#include <algorithm>
#include <ostream>

#include "station/image_source.h"
#include "station/unit_text.h"

namespace wxr::station {

namespace {

bool fits(const ImageInfo& image, const ImageInfo& device) {
    return image.model == device.model && image.sensor == device.sensor;
}

}  // namespace

bool load_bench_images(const std::vector<std::string>& files, BenchImages& images, std::ostream& err) {
    images.clear();
    if (files.empty()) {
        auto image = std::make_unique<BenchImage>();
        image->name = kBuiltInImageName;
        if (!load_image_into(image->store, std::nullopt, image->info, err)) return false;
        images.push_back(std::move(image));
        return true;
    }
    for (const std::string& file : files) {
        auto image = std::make_unique<BenchImage>();
        image->name = file;
        if (!load_image_into(image->store, file, image->info, err)) return false;
        if (const BenchImage* twin = image_for(images, image->info)) {
            err << "wxr7305: " << twin->name << " and " << file << " are both for " << model_text(image->info) << " "
                << sensor_text(image->info) << ": give one image per model and sensor\n";
            return false;
        }
        images.push_back(std::move(image));
    }
    return true;
}

bool fits_any(const BenchImages& images, std::uint8_t model, std::uint8_t sensor) {
    return std::any_of(images.begin(), images.end(), [&](const auto& image) {
        return image->info.model == model && image->info.sensor == sensor;
    });
}

const BenchImage* image_for(const BenchImages& images, const ImageInfo& device) {
    for (const auto& image : images) {
        if (fits(image->info, device)) return image.get();
    }
    return nullptr;
}

std::string no_image_text(const ImageInfo& device) {
    return "no image for " + model_text(device) + " " + sensor_text(device);
}

}  // namespace wxr::station
