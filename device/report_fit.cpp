#include "device/report_fit.h"

#include <algorithm>

namespace wxr {

std::optional<std::vector<std::uint8_t>> fit_feature_report(std::span<const std::uint8_t> report,
                                                            std::size_t length) {
    const std::size_t kept = std::min(length, report.size());
    const auto dropped = report.subspan(kept);
    if (std::any_of(dropped.begin(), dropped.end(), [](std::uint8_t b) { return b != 0; })) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> buffer(length, 0);
    std::copy_n(report.begin(), kept, buffer.begin());
    return buffer;
}

}  // namespace wxr
