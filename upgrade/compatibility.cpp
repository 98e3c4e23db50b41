#include "upgrade/compatibility.h"

namespace wxr {

std::u16string mismatch_text(const ImageInfo& image, const ImageInfo& device) {
    std::u16string text;
    if (image.sensor != device.sensor) text = kSensorMismatchText;
    if (image.model != device.model) text += kModelMismatchText;
    return text;
}

}  // namespace wxr
