// The report descriptor parser: each top-level collection's report lengths
// must agree with its fields (longest report in whole bytes plus the ID byte,
// within 16 bits), the lookup by report ID must find the first collection that
// declares it, and a well-formed vendor collection appended to any descriptor
// that parses must come out exactly as declared, leaving the others alone.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "device/hid_descriptor.h"
#include "tests/fuzz/fuzz_check.h"

namespace wxr::fuzz {
namespace {

using hid::ReportBits;
using hid::TopLevelCollection;

constexpr std::uint8_t kAppendedId = 5;
constexpr std::uint8_t kAppendedBytes = 20;
// Usage Page (0xFF00), Usage (1), Collection (Application), Report ID,
// Report Size 8, Report Count 20, Feature (Data, Var, Abs), End Collection.
const std::vector<std::uint8_t> kVendorCollection = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, kAppendedId,
    0x75, 0x08, 0x95, kAppendedBytes, 0xB1, 0x02, 0xC0,
};

void check_length(const ReportBits& reports, std::uint16_t length) {
    if (reports.empty()) {
        check(length == 0, "a collection without reports of a kind has length 0");
        return;
    }
    std::uint64_t longest = 0;
    for (const auto& [id, bits] : reports) longest = std::max<std::uint64_t>(longest, bits);
    const std::uint64_t expected = (longest + 7) / 8 + 1;
    check(expected <= 0xFFFF, "a report length the parser accepted fits 16 bits");
    check(length == expected, "length is the longest report in whole bytes plus the ID byte");
}

void check_collections(const std::vector<TopLevelCollection>& collections) {
    for (const auto& tlc : collections) {
        check_length(tlc.input, tlc.input_report_length());
        check_length(tlc.output, tlc.output_report_length());
        check_length(tlc.feature, tlc.feature_report_length());
    }
    check(hid::feature_report_length_of(collections, 0) == 0, "report ID 0 never matches");
    // Every declared ID, and two that may be undeclared.
    std::set<std::uint8_t> ids{1, 0xFF};
    for (const auto& tlc : collections) {
        for (const auto& [id, bits] : tlc.feature) ids.insert(id);
    }
    ids.erase(0);
    for (std::uint8_t id : ids) {
        std::uint16_t expected = 0;
        for (const auto& tlc : collections) {
            if (tlc.feature.contains(id)) {
                expected = tlc.feature_report_length();
                break;
            }
        }
        if (hid::feature_report_length_of(collections, id) != expected) {
            fail("feature length of ID " + std::to_string(id) + " is that of the first collection declaring it");
        }
    }
}

bool same(const TopLevelCollection& a, const TopLevelCollection& b) {
    return a.usage_page == b.usage_page && a.usage == b.usage && a.input == b.input && a.output == b.output &&
           a.feature == b.feature;
}

}  // namespace
}  // namespace wxr::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wxr::fuzz;
    std::vector<std::uint8_t> descriptor(data, data + size);
    const auto parsed = wxr::hid::parse_report_descriptor(descriptor);
    if (!parsed) return 0;
    check_collections(*parsed);

    descriptor.insert(descriptor.end(), kVendorCollection.begin(), kVendorCollection.end());
    const auto extended = wxr::hid::parse_report_descriptor(descriptor);
    check(extended.has_value(), "a well-formed collection after a valid descriptor parses");
    check(extended->size() == parsed->size() + 1, "the appended collection is one more top-level collection");
    for (std::size_t i = 0; i < parsed->size(); ++i) {
        check(same((*parsed)[i], (*extended)[i]), "collections before the appended one are unchanged");
    }
    const auto& added = extended->back();
    check(added.usage_page == 0xFF00 && added.usage == 1, "the appended collection's usage");
    check(added.input.empty() && added.output.empty() &&
              added.feature == ReportBits{{kAppendedId, 8u * kAppendedBytes}},
          "the appended collection holds exactly its feature report");
    check(added.feature_report_length() == kAppendedBytes + 1, "20 data bytes make a 21-byte feature report");
    check_collections(*extended);
    return 0;
}
