#include "app/publish/spool_file.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "app/publish/publish_os.h"

namespace wxr::publish {

namespace {

// One read's worth: the backlog is read this much at a time.
constexpr std::size_t kChunk = 64 * 1024;

}  // namespace

std::string cursor_path(const std::string& log_path) { return log_path + ".sent"; }

std::optional<Cursor> read_cursor(const std::string& path) {
    std::ifstream in(os::path_of_text(path));
    Cursor cursor;
    std::string end;
    if (!(in >> cursor.offset >> cursor.file.device >> cursor.file.inode) || cursor.offset < 0) return std::nullopt;
    return cursor;
}

bool write_cursor(const std::string& path, const Cursor& cursor, bool flush, std::string& error) {
    const std::string text = std::to_string(cursor.offset) + " " + std::to_string(cursor.file.device) + " " +
                             std::to_string(cursor.file.inode) + "\n";
    return os::replace_file(path + ".tmp", path, text, flush, error);
}

std::optional<FileId> id_of_path(const std::string& path) { return os::id_of_path(path); }

std::vector<std::string> rotated_names(const std::string& log_path) {
    namespace fs = std::filesystem;
    // UTF-8 both ways, as the command line gives the log (UTF-16 on Windows).
    const fs::path log = os::path_of_text(log_path);
    const std::string prefix = os::text_of_path(log.filename()) + ".";
    std::vector<std::string> names;
    std::error_code ec;
    const fs::path dir = log.has_parent_path() ? log.parent_path() : fs::path(".");
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const std::string name = os::text_of_path(entry.path().filename());
        if (!name.starts_with(prefix) || name.ends_with(".gz") || name.ends_with(".sent") || name.ends_with(".tmp")) {
            continue;
        }
        names.push_back(os::text_of_path(entry.path()));
    }
    return names;
}

SpoolReader::SpoolReader(const std::string& path) {
    std::string why;
    file_ = os::open_read(path, why);
    const auto id = file_ == os::kNoFile ? std::nullopt : os::id_of(file_);
    if (!id) {
        if (file_ != os::kNoFile) os::close(file_);
        throw std::runtime_error("the log file " + path + " cannot be read" + (why.empty() ? "" : ": " + why));
    }
    id_ = *id;
}

SpoolReader::~SpoolReader() { os::close(file_); }

long long SpoolReader::size() const { return os::size(file_); }

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
    const long long n = os::read_at(file_, chunk, sizeof chunk, buffer_at_ + static_cast<long long>(buffer_.size()));
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
        const long long n = os::read_at(file_, chunk, sizeof chunk, at);
        if (n <= 0) break;
        for (long long i = 0; i < n; ++i) {
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
        const long long n = os::read_at(file_, chunk, sizeof chunk, at);
        if (n <= 0) return std::nullopt;
        if (const void* nl = std::memchr(chunk, '\n', static_cast<std::size_t>(n))) {
            line.end = at + (static_cast<const char*>(nl) - chunk) + 1;
            return line;
        }
        at += n;
    }
}

}  // namespace wxr::publish
