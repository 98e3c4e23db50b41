// The --log file read as the publisher's spool: whole lines from a byte
// offset, in bounded pieces (a backlog stays on disk, never in memory), and
// the cursor beside it (LOG.sent) that says up to where the broker has
// acknowledged, in which file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wxr::publish {

// Which file, whatever its name: logrotate renames the log, and the station
// goes on appending to the renamed file until it restarts.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileId&) const = default;
};

struct Cursor {
    FileId file;
    long long offset = 0;  // every byte before it is acknowledged
    bool operator==(const Cursor&) const = default;
};

// LOG.sent.
std::string cursor_path(const std::string& log_path);
// nullopt when there is none or it cannot be read as a cursor.
std::optional<Cursor> read_cursor(const std::string& path);
// Replaced whole (a temporary file renamed over it): a crash leaves the old
// cursor or the new one. `flush`: on disk before the rename; without it a
// power loss can lose the cursor, which only sends records again (a cursor
// never runs ahead of the acknowledgements), and the station's own flushes
// of the log do not queue behind it. false, with the reason, when it failed.
bool write_cursor(const std::string& path, const Cursor& cursor, bool flush, std::string& error);

std::optional<FileId> id_of_path(const std::string& path);

// Names beside the log that logrotate gives it (LOG.1, LOG.2, ...; not the
// cursor nor compressed ones): where a rotated file is looked for.
std::vector<std::string> rotated_names(const std::string& log_path);

struct Line {
    long long begin = 0;
    long long end = 0;  // past the line end
    std::string text;   // without the line end
};

// One file, held open: after a rename it is still the same file.
class SpoolReader {
public:
    // Throws std::runtime_error naming the file when it cannot be opened.
    explicit SpoolReader(const std::string& path);
    ~SpoolReader();
    SpoolReader(const SpoolReader&) = delete;
    SpoolReader& operator=(const SpoolReader&) = delete;

    FileId id() const { return id_; }
    long long size() const;
    // The whole line that starts at `offset`; nullopt while there is none yet
    // (the end of the file, or a line still without its end). A line longer
    // than kMaxLine comes back cut to its first kMaxLine bytes.
    std::optional<Line> line_at(long long offset);

    // Counts the line ends from `from` on, reading at most `most` bytes, and
    // moves `from` past the last one counted.
    long long count_lines(long long& from, std::size_t most) const;

    // Longer than any record: a longer line is no record.
    static constexpr std::size_t kMaxLine = 1 << 20;

private:
    bool fill(long long offset);
    std::optional<Line> long_line(long long offset);

    std::intptr_t file_ = -1;  // os::Handle
    FileId id_;
    std::string buffer_;     // bytes of the file from buffer_at_
    long long buffer_at_ = 0;
};

}  // namespace wxr::publish
