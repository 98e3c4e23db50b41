// The descriptor layer the trace and the log share: a file named on the
// command line is opened without blocking (a FIFO without a reader is
// refused, not waited on) and must be a regular file.
#pragma once

#include <cstddef>
#include <string>

namespace wxr::cli::output_file {

// A regular file's descriptor, still non-blocking; `what` names it in the
// std::runtime_error thrown otherwise ("the log file").
int open_regular(const std::string& path, bool append, const std::string& what);
// From now on writes block until done.
bool make_blocking(int fd);
// Empties the file, and makes writes block.
bool truncate(int fd);
// Writes all of it, again after an interruption; false with errno set, or
// errno 0 when the system wrote nothing.
bool write_all(int fd, const char* data, std::size_t size);
bool flush_to_disk(int fd);
void close(int fd);
// The same file under any name or link.
bool same_file(int fd, const std::string& other);

}  // namespace wxr::cli::output_file
