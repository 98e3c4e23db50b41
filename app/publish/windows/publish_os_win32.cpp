#include <cstring>

#include <windows.h>

#include "app/publish/publish_os.h"
#include "device/channel.h"

namespace wxr::publish::os {

namespace {

// Winsock's error numbers start here; below it the C library's errno.
constexpr int kSocketErrorBase = 10000;
// The exit code of a death by the test key, as SIGKILL's number.
constexpr UINT kDeathCode = 9;

HANDLE handle_of(Handle file) { return reinterpret_cast<HANDLE>(file); }

std::wstring wide(const std::string& path) {
    const std::u16string text = from_utf8(path);
    return std::wstring(text.begin(), text.end());
}

std::string system_text(DWORD code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string said = n && text ? std::string(text, n) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' ')) said.pop_back();
    return said;
}

std::optional<FileId> id_of_handle(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
    return FileId{info.dwVolumeSerialNumber,
                  (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool write_all(HANDLE file, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        DWORD n = 0;
        if (!WriteFile(file, text.data() + done, static_cast<DWORD>(text.size() - done), &n, nullptr) || n == 0) {
            return false;
        }
        done += n;
    }
    return true;
}

}  // namespace

Handle open_read(const std::string& path, std::string& error) {
    // Shared every way: the station appends, logrotate's kin rename.
    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = system_text(GetLastError());
        return kNoFile;
    }
    return reinterpret_cast<Handle>(file);
}

void close(Handle file) { CloseHandle(handle_of(file)); }

std::optional<FileId> id_of(Handle file) { return id_of_handle(handle_of(file)); }

long long size(Handle file) {
    LARGE_INTEGER n{};
    return GetFileSizeEx(handle_of(file), &n) ? static_cast<long long>(n.QuadPart) : -1;
}

long long read_at(Handle file, char* data, std::size_t size, long long offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xffffffffLL);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    if (!ReadFile(handle_of(file), data, static_cast<DWORD>(size), &n, &at)) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return n;
}

std::optional<FileId> id_of_path(const std::string& path) {
    HANDLE file = CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    const bool regular = GetFileType(file) == FILE_TYPE_DISK &&
                         !(GetFileAttributesW(wide(path).c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    const auto id = regular ? id_of_handle(file) : std::nullopt;
    CloseHandle(file);
    return id;
}

bool replace_file(const std::string& temporary, const std::string& path, const std::string& text, bool flush,
                  std::string& error) {
    HANDLE file = CreateFileW(wide(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = file != INVALID_HANDLE_VALUE && write_all(file, text) && (!flush || FlushFileBuffers(file));
    if (!ok) error = temporary + ": " + system_text(GetLastError());
    if (file != INVALID_HANDLE_VALUE && !CloseHandle(file) && ok) {
        ok = false;
        error = temporary + ": " + system_text(GetLastError());
    }
    // Replaced whole: a crash leaves the old file or the new one.
    if (ok && !MoveFileExW(wide(temporary).c_str(), wide(path).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        error = path + ": " + system_text(GetLastError());
    }
    return ok;
}

std::filesystem::path path_of_text(const std::string& text) { return wide(text); }
std::string text_of_path(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string error_text(int code) {
    return code >= kSocketErrorBase ? system_text(static_cast<DWORD>(code)) : std::strerror(code);
}

void die_now() {
    TerminateProcess(GetCurrentProcess(), kDeathCode);
    ExitProcess(kDeathCode);  // not reached
}

}  // namespace wxr::publish::os
