// HID report descriptor parsing, as far as report lengths go: which
// top-level collections a descriptor declares and how long each of their
// reports is, counted the way the Windows HID parser counts them.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace wxr::hid {

// Report ID -> length in bits; ID 0 when the descriptor uses no report IDs.
using ReportBits = std::map<std::uint8_t, std::uint32_t>;

struct TopLevelCollection {
    std::uint16_t usage_page = 0;
    std::uint16_t usage = 0;
    ReportBits input;
    ReportBits output;
    ReportBits feature;

    // Longest report of the kind in bytes plus one for the report ID (counted
    // even when the descriptor uses no IDs); 0 when the collection has none.
    std::uint16_t input_report_length() const;
    std::uint16_t output_report_length() const;
    std::uint16_t feature_report_length() const;
};

// The top-level collections in descriptor order; nullopt for a descriptor
// that is truncated, unbalanced or out of range.
std::optional<std::vector<TopLevelCollection>> parse_report_descriptor(
    std::span<const std::uint8_t> descriptor);

// The feature report length of the first top-level collection that declares
// feature report `report_id`; 0 when none does. Report ID 0 never matches:
// a descriptor without IDs declares no numbered report.
std::uint16_t feature_report_length_of(const std::vector<TopLevelCollection>& collections,
                                       std::uint8_t report_id);

}  // namespace wxr::hid
