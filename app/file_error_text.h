// The message shown when an image file opened but could not be read.
#pragma once

#include <string>

#include "image/image_store.h"

namespace wxr::app {

// One wording per cause, each naming the file.
std::u16string file_error_text(const FileError& error);

}  // namespace wxr::app
