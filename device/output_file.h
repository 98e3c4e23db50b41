// The descriptor layer the trace and the log share: a file named on the
// command line is opened without blocking (a FIFO without a reader is
// refused, not waited on) and must be a regular file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace wxr::output_file {

enum class Mode {
    Truncate,  // written from the start (the caller truncates once it knows the file)
    Append,    // appended to, and read back (the log's last line)
};

// A regular file's descriptor, still non-blocking; `what` names it in the
// std::runtime_error thrown otherwise ("the log file").
int open_regular(const std::string& path, Mode mode, const std::string& what);
// From now on writes block until done.
bool make_blocking(int fd);
// Empties the file, and makes writes block.
bool truncate(int fd);
// Writes all of it, again after an interruption; false with errno set, or
// errno 0 when the system wrote nothing.
bool write_all(int fd, const char* data, std::size_t size);
// One write of all of it: false when the system took less, with errno set
// when it took nothing (0 when it took only part).
bool write_whole(int fd, const char* data, std::size_t size);
// The file's length, or -1.
long long length(int fd);
// Cuts the file back to `length` bytes.
bool truncate_to(int fd, long long length);
// The file's last byte, or -1 when it is empty or cannot be read.
int last_byte(int fd);
bool flush_to_disk(int fd);
void close(int fd);
// The same file under any name or link.
bool same_file(int fd, const std::string& other);
// What makes a file the one it is, whatever its name (device and inode, or
// volume and file index); nullopt when there is no such file yet.
std::optional<std::string> file_id(const std::string& path);
// The same for an open descriptor (the command's own output), when it is a
// regular file: a terminal or a pipe is no file another name can reach.
std::optional<std::string> descriptor_id(int fd);

}  // namespace wxr::output_file
