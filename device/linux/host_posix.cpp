#include <chrono>
#include <ctime>

#include <unistd.h>

#include "device/host.h"

namespace wxr {

std::string utc_time_now() {
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    if (::gmtime_r(&now, &utc) == nullptr) return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string local_clock_text(std::int64_t utc_seconds) {
    const auto moment = static_cast<std::time_t>(utc_seconds);
    std::tm local{};
    if (::localtime_r(&moment, &local) == nullptr) return {};
    char text[8];
    std::strftime(text, sizeof text, "%H:%M", &local);
    return text;
}

std::string host_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

}  // namespace wxr
