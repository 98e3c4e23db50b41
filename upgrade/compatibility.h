// Whether the attached device may take the image: same sensor, same model.
// Any version is accepted, older ones included.
#pragma once

#include <string>

#include "image/image_info.h"

namespace wxr {

inline constexpr char16_t kDeviceNotFoundText[] = u"Device not found!!";
inline constexpr char16_t kMismatchCaption[] = u"Error";
inline constexpr char16_t kSensorMismatchText[] = u"Sensor不同!! ";
inline constexpr char16_t kModelMismatchText[] = u"機種不符!! ";

// Empty when the device fits the image.
std::u16string mismatch_text(const ImageInfo& image, const ImageInfo& device);

}  // namespace wxr
