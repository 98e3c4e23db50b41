// Reading a whole file, on the platform's own terms: the one file operation
// image loading needs from the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace wxr {

// Opens the existing file at `path` for reading and, when the opened file is
// a regular file no longer than `room`, reads it into `room`. What the file
// is comes from the opened file itself, never from its name before the open,
// and the open never blocks, so a FIFO swapped in for the file is refused.
// Returns the number of bytes read (fewer when the file shrank meanwhile);
// nullopt when the file cannot be opened, is no regular file or is longer
// than `room`. Throws std::system_error when measuring or reading fails
// after the open.
std::optional<std::size_t> read_regular_file(const std::filesystem::path& path, std::span<std::uint8_t> room);

}  // namespace wxr
