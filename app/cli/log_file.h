// --log FILE: the production record. One JSON object per unit result is
// appended (the file is never truncated) and on disk before the result is
// shown, so that no unit leaves the bench without its record.
#pragma once

#include <string>

namespace wxr::cli {

class LogFile {
public:
    // Throws std::runtime_error naming the file when it cannot be appended to.
    explicit LogFile(const std::string& path);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Appends the record and a line end and flushes them to disk; false, with
    // the reason in `error`, when that failed.
    bool append(const std::string& record, std::string& error);
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

// Now, in UTC: "2026-12-08T04:33:42Z".
std::string utc_time_now();
// This computer's name; empty when it cannot be had.
std::string host_name();

}  // namespace wxr::cli
