// What the publisher asks of the system, one backend per system
// (linux/publish_os_posix.cpp, windows/publish_os_win32.cpp): the spool's
// files read by offset and told apart by identity, the cursor replaced at
// once, an error number's text, and the test key's sudden death.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "app/publish/spool_file.h"

namespace wxr::publish::os {

// An open file: a descriptor or a handle.
using Handle = std::intptr_t;
constexpr Handle kNoFile = -1;

// For reading, while the station appends to it and logrotate renames it.
// kNoFile, with the reason, when it cannot be opened.
Handle open_read(const std::string& path, std::string& error);
void close(Handle file);
std::optional<FileId> id_of(Handle file);
// -1 when unknown.
long long size(Handle file);
// Up to `size` bytes at `offset`: how many, 0 at the end, -1 on an error.
long long read_at(Handle file, char* data, std::size_t size, long long offset);
// A regular file's identity; nullopt for none or another kind.
std::optional<FileId> id_of_path(const std::string& path);

// A path given as UTF-8 text, as the command line gives the log (its bytes
// as they stand on POSIX), and back.
std::filesystem::path path_of_text(const std::string& text);
std::string text_of_path(const std::filesystem::path& path);

// `text` written to `temporary` (on disk first when `flush`), which then
// replaces `path` whole. false, with the reason, when it failed.
bool replace_file(const std::string& temporary, const std::string& path, const std::string& text, bool flush,
                  std::string& error);

// The text of an error number the client library left (errno, or a socket
// error on Windows).
std::string error_text(int code);

// Ends the process at once, as SIGKILL would: nothing flushed, no destructor.
[[noreturn]] void die_now();

}  // namespace wxr::publish::os
