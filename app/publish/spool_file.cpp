#include "app/publish/spool_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wxr::publish {

namespace {

// One read's worth: the backlog is read this much at a time.
constexpr std::size_t kChunk = 64 * 1024;

FileId id_of(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string cursor_path(const std::string& log_path) { return log_path + ".sent"; }

std::optional<Cursor> read_cursor(const std::string& path) {
    std::ifstream in(path);
    Cursor cursor;
    std::string end;
    if (!(in >> cursor.offset >> cursor.file.device >> cursor.file.inode) || cursor.offset < 0) return std::nullopt;
    return cursor;
}

bool write_cursor(const std::string& path, const Cursor& cursor, bool flush, std::string& error) {
    const std::string temporary = path + ".tmp";
    const std::string text = std::to_string(cursor.offset) + " " + std::to_string(cursor.file.device) + " " +
                             std::to_string(cursor.file.inode) + "\n";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && write_all(fd, text) && (!flush || ::fsync(fd) == 0);
    if (!ok) error = temporary + ": " + std::strerror(errno);
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        error = temporary + ": " + std::strerror(errno);
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = path + ": " + std::strerror(errno);
    }
    return ok;
}

std::optional<FileId> id_of_path(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return id_of(st);
}

std::vector<std::string> rotated_names(const std::string& log_path) {
    namespace fs = std::filesystem;
    const fs::path log(log_path);
    const std::string prefix = log.filename().string() + ".";
    std::vector<std::string> names;
    std::error_code ec;
    const fs::path dir = log.has_parent_path() ? log.parent_path() : fs::path(".");
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(prefix) || name.ends_with(".gz") || name.ends_with(".sent") || name.ends_with(".tmp")) {
            continue;
        }
        names.push_back(entry.path().string());
    }
    return names;
}

SpoolReader::SpoolReader(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        const std::string why = std::strerror(errno);
        if (fd_ >= 0) ::close(fd_);
        throw std::runtime_error("the log file " + path + " cannot be read: " + why);
    }
    id_ = id_of(st);
}

SpoolReader::~SpoolReader() { ::close(fd_); }

long long SpoolReader::size() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// Reads on from what the buffer holds; false at the end of the file.
bool SpoolReader::fill(long long offset) {
    if (offset < buffer_at_ || offset > buffer_at_ + static_cast<long long>(buffer_.size())) {
        buffer_.clear();
        buffer_at_ = offset;
    } else if (offset > buffer_at_) {
        buffer_.erase(0, static_cast<std::size_t>(offset - buffer_at_));
        buffer_at_ = offset;
    }
    char chunk[kChunk];
    ssize_t n;
    do {
        n = ::pread(fd_, chunk, sizeof chunk, buffer_at_ + static_cast<long long>(buffer_.size()));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

std::optional<Line> SpoolReader::line_at(long long offset) {
    for (;;) {
        const bool held = offset >= buffer_at_ && offset <= buffer_at_ + static_cast<long long>(buffer_.size());
        if (held) {
            const std::size_t from = static_cast<std::size_t>(offset - buffer_at_);
            const std::size_t end = buffer_.find('\n', from);
            if (end != std::string::npos && end - from <= kMaxLine) {
                return Line{offset, buffer_at_ + static_cast<long long>(end) + 1, buffer_.substr(from, end - from)};
            }
            if (buffer_.size() - from > kMaxLine) return long_line(offset);
        }
        if (!fill(offset)) return std::nullopt;
    }
}

long long SpoolReader::count_lines(long long& from, std::size_t most) const {
    char chunk[kChunk];
    long long lines = 0;
    for (long long at = from; at < from + static_cast<long long>(most);) {
        const ssize_t n = ::pread(fd_, chunk, sizeof chunk, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            if (chunk[i] == '\n') {
                ++lines;
                from = at + i + 1;
            }
        }
        at += n;
    }
    return lines;
}

// Too long to be a record: its end is looked for without holding it.
std::optional<Line> SpoolReader::long_line(long long offset) {
    Line line{offset, 0, buffer_.substr(static_cast<std::size_t>(offset - buffer_at_), kMaxLine)};
    char chunk[kChunk];
    for (long long at = offset + static_cast<long long>(kMaxLine);;) {
        const ssize_t n = ::pread(fd_, chunk, sizeof chunk, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        if (const void* nl = std::memchr(chunk, '\n', static_cast<std::size_t>(n))) {
            line.end = at + (static_cast<const char*>(nl) - chunk) + 1;
            return line;
        }
        at += n;
    }
}

}  // namespace wxr::publish
