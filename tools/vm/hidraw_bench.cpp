// Measurements and a direct probe through the hidraw backend, for the test
// virtual machine:
//   hidraw-bench probe                 every node: caps, ids, identification reply
//   hidraw-bench cycle N PATH          cost of one report cycle (open, set, close) and parts
//   hidraw-bench pauses TRACE          a traced run's whole time beside its pauses
//   hidraw-bench timed CMD ARGS...     runs a command, prints its wall time
//   hidraw-bench as-user UID CMD ARGS...  runs a command as an unprivileged user
//   hidraw-bench raw PATH set|get LENGTH ID  one feature request of LENGTH bytes
//                                      (identification command for a set), as is
//   hidraw-bench replay TRACE PATH [held]  a traced run's device operations and pauses,
//                                      bare, on PATH: its opens and closes too, or
//                                      one open held across the whole replay
#include <fcntl.h>
#include <grp.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "device/channel.h"
#include "device/linux/hidraw_platform.h"
#include "device/report.h"
#include "device/steady_clock.h"
#include "device/transcript.h"
#include "tools/vm/replayable.h"

namespace {

using namespace wxr;
using wxr::vm::replayable;
using WallClock = std::chrono::steady_clock;

constexpr std::int32_t kIdentifyWaitMs = 50;
constexpr std::uint16_t kCommandLength = 21;

double micros_since(WallClock::time_point start) {
    return std::chrono::duration<double, std::micro>(WallClock::now() - start).count();
}

int probe() {
    hidraw::HidrawPlatform hid;
    SteadyClock clock;
    DeviceChannel channel(hid, clock);
    auto paths = hid.enumerate();
    if (!paths) return 1;
    for (const auto& path : *paths) {
        Device device = open_device(channel, path);
        std::printf("%s:", to_utf8(path).c_str());
        HidCapabilities caps;
        HidAttributes attrs;
        if (device && channel.capabilities(device, caps) && channel.attributes(device, attrs)) {
            std::printf(" caps %u ids %04x:%04x", caps.feature_report_length, attrs.vendor_id,
                        attrs.product_id);
            if (caps.feature_report_length == kCommandLength) {
                Report status = make_report();
                exchange_feature(device, identification_report(), status, kIdentifyWaitMs);
                std::printf(" reply %s", hex_bytes(std::span(status).first(7)).c_str());
            }
        } else {
            std::printf(" not opened");
        }
        std::printf("\n");
        close_device(device);
    }
    std::printf("permission denied: %zu\n", hid.permission_denied_count());
    return 0;
}

int cycle(long count, const std::string& path) {
    hidraw::HidrawPlatform hid;
    DevicePath device_path = from_utf8(path);
    // The interface's own length: the backend sends nothing longer or shorter.
    Report report = identification_report();
    std::span<const std::uint8_t> command(report.data(), kCommandLength);
    Report status = make_report();
    std::span<std::uint8_t> status_span(status.data(), kStatusReportLength);

    auto start = WallClock::now();
    for (long i = 0; i < count; ++i) {
        HidHandle h = hid.open(device_path);
        if (h == kNoHandle || !hid.set_feature(h, command)) return 1;
        hid.close(h);
    }
    double full = micros_since(start) / count;

    HidHandle h = hid.open(device_path);
    if (h == kNoHandle) return 1;
    start = WallClock::now();
    for (long i = 0; i < count; ++i) hid.set_feature(h, command);
    double set_only = micros_since(start) / count;
    start = WallClock::now();
    for (long i = 0; i < count; ++i) hid.get_feature(h, status_span);
    double get_only = micros_since(start) / count;
    hid.close(h);

    start = WallClock::now();
    for (long i = 0; i < count; ++i) hid.close(hid.open(device_path));
    double open_close = micros_since(start) / count;

    std::printf("report cycle (open, set, close): %.1f us\n", full);
    std::printf("set on an open node: %.1f us, get: %.1f us, open + close: %.1f us (%ld each)\n",
                set_only, get_only, open_close, count);
    return 0;
}

int pauses(const std::string& trace) {
    std::ifstream in(trace);
    std::string text;
    std::uint64_t first = 0, last = 0, paused = 0, sets = 0, gets = 0;
    bool any = false;
    while (std::getline(in, text)) {
        auto line = parse_transcript_line(text);
        if (!line) continue;
        if (!any) first = line->ms;
        any = true;
        last = line->ms;
        if (line->op == "sleep") paused += std::strtoull(line->detail.c_str(), nullptr, 10);
        if (line->op == "set") ++sets;
        if (line->op == "get") ++gets;
    }
    if (!any) return 1;
    std::printf("traced run: %llu ms from first to last operation, %llu ms of it the protocol's own "
                "pauses; %llu sets, %llu gets\n",
                static_cast<unsigned long long>(last - first), static_cast<unsigned long long>(paused),
                static_cast<unsigned long long>(sets), static_cast<unsigned long long>(gets));
    return 0;
}

// Plain ioctls with the interface's report length: no logic in between.
int replay(const std::string& trace, const std::string& path, bool held) {
    auto lines = replayable(trace);
    int fd = held ? ::open(path.c_str(), O_RDWR | O_CLOEXEC) : -1;
    if (held && fd < 0) return 1;
    std::uint8_t buffer[kCommandLength];
    std::size_t failures = 0;
    auto start = WallClock::now();
    for (const auto& line : lines) {
        if (line.op == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(line.detail.c_str())));
        } else if (line.op == "open" && !held) {
            fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        } else if (line.op == "close" && !held) {
            ::close(fd);
        } else if (line.op == "set" || line.op == "get") {
            std::fill(std::begin(buffer), std::end(buffer), 0);
            std::copy_n(line.bytes.begin(), std::min(line.bytes.size(), sizeof buffer), buffer);
            unsigned long request = line.op == "set" ? HIDIOCSFEATURE(sizeof buffer)
                                                     : HIDIOCGFEATURE(sizeof buffer);
            if (::ioctl(fd, request, buffer) < 0) ++failures;
        }
    }
    double ms = micros_since(start) / 1000.0;
    if (held) ::close(fd);
    std::printf("bare replay (%s) of %zu operations: %.0f ms, %zu failed\n",
                held ? "one open held" : "opens and closes as traced", lines.size(), ms, failures);
    return failures == 0 ? 0 : 1;
}

// One request exactly as asked, so that the device's own checks can see
// lengths and report IDs the tool never sends.
int raw(const std::string& path, const std::string& kind, long length, long id) {
    constexpr long kMaxLength = 4096;
    if (length < 1 || length > kMaxLength || (kind != "set" && kind != "get")) return 2;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return 1;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(length), 0);
    buffer[0] = static_cast<std::uint8_t>(id);
    auto size = static_cast<unsigned>(length);
    int got = ::ioctl(fd, kind == "set" ? HIDIOCSFEATURE(size) : HIDIOCGFEATURE(size), buffer.data());
    int error = errno;
    ::close(fd);
    if (got < 0) {
        std::printf("%s %ld: %s\n", kind.c_str(), length, std::strerror(error));
        return 1;
    }
    std::printf("%s %ld: %d bytes", kind.c_str(), length, got);
    if (kind == "get") std::printf(" %s", hex_bytes(std::span(buffer).first(std::min(got, 7))).c_str());
    std::printf("\n");
    return 0;
}

int timed(char** argv) {
    auto start = WallClock::now();
    pid_t child = ::fork();
    if (child == 0) {
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    std::string command_line;
    for (char** arg = argv; *arg; ++arg) command_line += (arg == argv ? "" : " ") + std::string(*arg);
    std::printf("%s: %.0f ms, exit %d\n", command_line.c_str(), micros_since(start) / 1000.0,
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

int as_user(const char* uid_text, char** argv) {
    auto id = static_cast<uid_t>(std::strtoul(uid_text, nullptr, 10));
    if (::setgroups(0, nullptr) != 0 || ::setgid(id) != 0 || ::setuid(id) != 0) {
        std::perror("hidraw-bench as-user");
        return 1;
    }
    ::execv(argv[0], argv);
    std::perror(argv[0]);
    return 127;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "probe") return probe();
    if (command == "cycle" && argc == 4) return cycle(std::max(1L, std::atol(argv[2])), argv[3]);
    if (command == "pauses" && argc == 3) return pauses(argv[2]);
    if (command == "timed" && argc > 2) return timed(argv + 2);
    if (command == "as-user" && argc > 3) return as_user(argv[2], argv + 3);
    if (command == "raw" && argc == 6)
        return raw(argv[2], argv[3], std::atol(argv[4]), std::atol(argv[5]));
    if (command == "replay" && (argc == 4 || argc == 5))
        return replay(argv[2], argv[3], argc == 5 && std::string(argv[4]) == "held");
    std::fprintf(stderr,
                 "usage: hidraw-bench probe | cycle N PATH | pauses TRACE | timed CMD...\n"
                 "                    | as-user UID CMD... | replay TRACE PATH [held]\n"
                 "                    | raw PATH set|get LENGTH ID\n");
    return 2;
}
