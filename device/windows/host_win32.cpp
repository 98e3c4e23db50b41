#include <chrono>
#include <ctime>

#include <windows.h>

#include "device/channel.h"
#include "device/host.h"

namespace wxr {

std::string utc_time_now() {
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    if (gmtime_s(&utc, &now) != 0) return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string local_clock_text(std::int64_t utc_seconds) {
    const auto moment = static_cast<std::time_t>(utc_seconds);
    std::tm local{};
    if (localtime_s(&local, &moment) != 0) return {};
    char text[8];
    std::strftime(text, sizeof text, "%H:%M", &local);
    return text;
}

std::string host_name() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) return {};
    return to_utf8(std::u16string(reinterpret_cast<const char16_t*>(name), size));
}

}  // namespace wxr
