// Fitting a report to an interface's feature-report length, the one place
// where that happens: every backend and the simulated device receive, and
// the transcript shows, exactly the bytes that go to the device.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace wxr {

// The report at exactly `length` bytes (Windows delivers FeatureReportByteLength
// bytes; a USB device may stall on a longer SET_REPORT): padded with zeros, or
// cut short; nullopt when cutting would drop a non-zero byte.
std::optional<std::vector<std::uint8_t>> fit_feature_report(std::span<const std::uint8_t> report,
                                                            std::size_t length);

}  // namespace wxr
