// The --trace file. It must be a regular file: what it is is decided on the
// descriptor opened without blocking, so a FIFO or a device node is refused at
// once instead of holding the command, even when the name is swapped between
// a look and the open. A write that fails is remembered, not ignored.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace wxr::station {

class TraceFile {
public:
    // Throws std::runtime_error naming the file when it cannot be used.
    explicit TraceFile(const std::string& path);
    ~TraceFile();
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    std::ostream& stream() { return stream_; }
    // Flushes; false when any write to the file has failed.
    bool intact();
    const std::string& path() const { return path_; }

private:
    class Buffer;
    std::string path_;
    std::unique_ptr<Buffer> buffer_;
    std::ostream stream_;
};

}  // namespace wxr::station
