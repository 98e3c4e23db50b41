#include "station/log_file.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "device/output_file.h"

namespace wxr::station {

LogFile::LogFile(const std::string& path) : path_(path) { fd_ = open_for_append(path, torn_); }

int LogFile::open_for_append(const std::string& path, bool& torn) {
    int fd = output_file::open_regular(path, output_file::Mode::Append, "the log file");
    if (!output_file::make_blocking(fd)) {
        output_file::close(fd);
        throw std::runtime_error("the log file " + path + " is not a regular file");
    }
    int last = output_file::last_byte(fd);
    torn = last >= 0 && last != '\n';
    return fd;
}

// Under the lock: no record is on its way to either file while they change.
bool LogFile::reopen(std::string& error) {
    std::lock_guard lock(mutex_);
    try {
        bool torn = false;
        const int fd = open_for_append(path_, torn);
        output_file::close(fd_);
        fd_ = fd;
        torn_ = torn;
        return true;
    } catch (const std::runtime_error& e) {
        error = e.what();
        return false;
    }
}

LogFile::~LogFile() { output_file::close(fd_); }

bool LogFile::append(const std::string& record, std::string& error) {
    std::lock_guard lock(mutex_);
    // A torn last line gets its end first, so that this record stands on a line of its own.
    std::string line = (torn_ ? "\n" : "") + record + "\n";
    if (!append_locked(line, error)) return false;
    torn_ = false;
    return true;
}

bool LogFile::append_locked(const std::string& line, std::string& error) {
    const long long before = output_file::length(fd_);
    if (before >= 0 && output_file::write_whole(fd_, line.data(), line.size()) && output_file::flush_to_disk(fd_)) {
        return true;
    }
    error = errno ? std::strerror(errno) : "the system took only part of the record";
    // What did get out is taken back: the file holds whole lines only.
    if (before >= 0 && !output_file::truncate_to(fd_, before)) error += "; the record could not be taken back";
    return false;
}

}  // namespace wxr::station
