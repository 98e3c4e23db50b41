#include "station/log_file.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "device/output_file.h"
#include "device/channel.h"

namespace wxr::cli {

namespace {

#ifdef _WIN32
bool utc_of(std::time_t t, std::tm& out) { return gmtime_s(&out, &t) == 0; }
#else
bool utc_of(std::time_t t, std::tm& out) { return ::gmtime_r(&t, &out) != nullptr; }
#endif

}  // namespace

LogFile::LogFile(const std::string& path) : path_(path) {
    int fd = output_file::open_regular(path, output_file::Mode::Append, "the log file");
    if (!output_file::make_blocking(fd)) {
        output_file::close(fd);
        throw std::runtime_error("the log file " + path + " is not a regular file");
    }
    fd_ = fd;
    int last = output_file::last_byte(fd_);
    torn_ = last >= 0 && last != '\n';
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

std::string utc_time_now() {
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    if (!utc_of(now, utc)) return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string host_name() {
#ifdef _WIN32
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) return {};
    return to_utf8(std::u16string(reinterpret_cast<const char16_t*>(name), size));
#else
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
#endif
}

}  // namespace wxr::cli
