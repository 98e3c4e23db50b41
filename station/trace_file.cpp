#include "station/trace_file.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "device/output_file.h"

namespace wxr::station {

namespace {

// Transcript lines are flushed one by one: a buffer of one line suffices.
constexpr std::size_t kBufferBytes = 4096;

}  // namespace

// Writes through the descriptor; after a failed write it drops everything
// and reports failure to the stream, so the command can say so at the end.
class TraceFile::Buffer final : public std::streambuf {
public:
    explicit Buffer(int fd) : fd_(fd) { setp(data_, data_ + kBufferBytes); }
    ~Buffer() override {
        sync();
        output_file::close(fd_);
    }
    bool failed() const { return failed_; }

protected:
    int overflow(int ch) override {
        if (sync() != 0) return traits_type::eof();
        if (ch != traits_type::eof()) sputc(static_cast<char>(ch));
        return failed_ ? traits_type::eof() : traits_type::not_eof(ch);
    }
    int sync() override {
        if (!failed_ && !output_file::write_all(fd_, pbase(), static_cast<std::size_t>(pptr() - pbase()))) {
            failed_ = true;
        }
        setp(data_, data_ + kBufferBytes);
        return failed_ ? -1 : 0;
    }

private:
    int fd_;
    bool failed_ = false;
    char data_[kBufferBytes];
};

TraceFile::TraceFile(const std::string& path) : path_(path), stream_(nullptr) {
    int fd = output_file::open_regular(path, output_file::Mode::Truncate, "the trace file");
    // Only a regular file is truncated, and only now is it written blocking.
    if (!output_file::truncate(fd)) {
        int error = errno;
        output_file::close(fd);
        throw std::runtime_error("cannot write the trace file " + path + ": " + std::strerror(error));
    }
    buffer_ = std::make_unique<Buffer>(fd);
    stream_.rdbuf(buffer_.get());
}

TraceFile::~TraceFile() { stream_.rdbuf(nullptr); }

bool TraceFile::intact() {
    stream_.flush();
    return stream_.good() && !buffer_->failed();
}

}  // namespace wxr::station
