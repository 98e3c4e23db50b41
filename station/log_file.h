// --log FILE: the production record, one JSON object per line. Records are
// appended (the file is never truncated) and on disk before they are acted
// on. The file only ever holds whole lines: each record goes out in one
// write, a write that fails part-way is cut back off, and a last line torn
// by a crash is ended before the next record. Logrotate renames the file and
// asks for it to be opened anew: each record goes whole to one file or the other.
#pragma once

#include <mutex>
#include <string>

namespace wxr::station {

class LogFile {
public:
    // Throws std::runtime_error naming the file when it cannot be appended to.
    explicit LogFile(const std::string& path);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Appends the record and a line end and flushes them to disk; false, with
    // the reason in `error`, when that failed (the file is then as it was).
    // Safe to call from several threads.
    bool append(const std::string& record, std::string& error);
    // Opens the file by its name again (creating it), between two records,
    // and appends there from now on; false, with the reason in `error`, when
    // it cannot be opened: records then go on to the file open before.
    bool reopen(std::string& error);
    const std::string& path() const { return path_; }

private:
    bool append_locked(const std::string& line, std::string& error);
    // The descriptor for appending, and whether its last line is torn.
    static int open_for_append(const std::string& path, bool& torn);

    std::string path_;
    int fd_ = -1;
    std::mutex mutex_;
    bool torn_ = false;  // the file ended in the middle of a line when opened
};

}  // namespace wxr::station
