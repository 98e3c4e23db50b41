// A traced run's device operations replayed bare through the HID class, for
// the wine guest's figures: each traced open is a CreateFileW, each close
// CancelIo and CloseHandle, each report HidD_SetFeature or HidD_GetFeature
// with the interface's 21 bytes, each pause a Sleep; nothing in between.
//   hid_replay TRACE
// The unit (ids 1209:7305, 21-byte feature report) is found first, untimed.
// The trace may come from any build: only the operations on the unit that
// was written (the path of the first write) and the pauses are replayed.
#include <windows.h>
// mingw-w64's hidsdi.h declares C functions without a C++ guard.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "device/hid_platform.h"
#include "device/transcript.h"
#include "tools/vm/replayable.h"
#include "device/windows/win32_platform.h"

namespace {

using namespace wxr;
using wxr::vm::replayable;

constexpr std::uint16_t kVendorId = 0x1209;
constexpr std::uint16_t kProductId = 0x7305;
constexpr std::uint16_t kCommandLength = 21;

std::optional<DevicePath> find_unit() {
    Win32Hid hid;
    auto paths = hid.enumerate();
    if (!paths) return std::nullopt;
    for (const auto& path : *paths) {
        HidHandle device = hid.open(path);
        if (device == kNoHandle) continue;
        HidCapabilities caps;
        HidAttributes attrs;
        bool ours = hid.capabilities(device, caps) && hid.attributes(device, attrs) &&
                    caps.feature_report_length == kCommandLength && attrs.vendor_id == kVendorId &&
                    attrs.product_id == kProductId;
        hid.close(device);
        if (ours) return path;
    }
    return std::nullopt;
}

double now_ms() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hid_replay TRACE\n");
        return 2;
    }
    auto lines = replayable(argv[1]);
    auto unit = find_unit();
    if (lines.empty() || !unit) {
        std::fprintf(stderr, "hid_replay: %s\n", lines.empty() ? "empty trace" : "no unit found");
        return 1;
    }
    std::wstring path(unit->begin(), unit->end());
    HANDLE file = INVALID_HANDLE_VALUE;
    unsigned char buffer[kCommandLength];
    std::size_t failures = 0;
    double start = now_ms();
    for (const auto& line : lines) {
        if (line.op == "sleep") {
            Sleep(static_cast<DWORD>(std::atol(line.detail.c_str())));
        } else if (line.op == "open") {
            file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        } else if (line.op == "close") {
            CancelIo(file);
            CloseHandle(file);
        } else if (line.op == "set" || line.op == "get") {
            std::fill(std::begin(buffer), std::end(buffer), 0);
            std::copy_n(line.bytes.begin(), std::min(line.bytes.size(), sizeof buffer), buffer);
            BOOLEAN ok = line.op == "set" ? HidD_SetFeature(file, buffer, sizeof buffer)
                                          : HidD_GetFeature(file, buffer, sizeof buffer);
            if (!ok) ++failures;
        }
    }
    std::printf("bare replay (opens and closes as traced) of %zu operations: %.0f ms, %zu failed\n",
                lines.size(), now_ms() - start, failures);
    return failures == 0 ? 0 : 1;
}
