// What the output files ask of the system, one file per system
// (linux/output_file_posix.cpp, windows/output_file_win32.cpp).
#pragma once

#include <cstddef>
#include <string>

#include "device/output_file.h"

namespace wxr::output_file::os {

// A descriptor, or -1 with errno set; a FIFO without a reader fails with ENXIO.
int open_without_blocking(const std::string& path, Mode mode);
bool is_regular(int fd);
long write_some(int fd, const char* data, std::size_t size);

}  // namespace wxr::output_file::os
