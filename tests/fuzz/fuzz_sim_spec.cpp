// The simulation key parser (--simulate=SPEC): any text gives either an error
// with a message or 0 to 10000 interfaces with every value in its key's range,
// which differ only in their paths unless a key names one interface (I:KEY);
// giving a spec twice, or with extra commas, changes nothing.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "device/sim/sim_spec.h"
#include "tests/fuzz/fuzz_check.h"

namespace wxr::fuzz {
namespace {

using sim::SimInterfaceConfig;
using Parsed = std::variant<sim::SimBench, sim::SimSpecError>;

constexpr std::size_t kMaxDevices = 10000;

bool same_except_path(const SimInterfaceConfig& a, const SimInterfaceConfig& b) {
    const auto& ma = a.model_faults;
    const auto& mb = b.model_faults;
    const auto& ta = a.transport_faults;
    const auto& tb = b.transport_faults;
    return a.feature_report_length == b.feature_report_length &&
           a.attributes.vendor_id == b.attributes.vendor_id && a.attributes.product_id == b.attributes.product_id &&
           a.attributes.version == b.attributes.version && a.identity.version == b.identity.version &&
           a.identity.model == b.identity.model && a.identity.sensor == b.identity.sensor &&
           ma.busy_reads == mb.busy_reads && ma.stay_busy == mb.stay_busy && ma.garbage == mb.garbage &&
           ma.fail_block_check == mb.fail_block_check && ma.refuse_block_report == mb.refuse_block_report &&
           ta.drop_sets == tb.drop_sets && ta.silent == tb.silent && ta.silent_after == tb.silent_after &&
           ta.unplug_after == tb.unplug_after && ta.no_answer_ms == tb.no_answer_ms;
}

bool same(const Parsed& a, const Parsed& b) {
    if (a.index() != b.index()) return false;
    if (a.index() == 1) return std::get<1>(a).message == std::get<1>(b).message;
    const auto& ca = std::get<0>(a).interfaces;
    const auto& cb = std::get<0>(b).interfaces;
    if (ca.size() != cb.size()) return false;
    for (std::size_t i = 0; i < ca.size(); ++i) {
        if (ca[i].path != cb[i].path || !same_except_path(ca[i], cb[i])) return false;
    }
    return true;
}

void check_ranges(const SimInterfaceConfig& config) {
    check(config.feature_report_length >= 2 && config.feature_report_length <= 4096, "report-length 2..4096");
    check(config.model_faults.busy_reads >= 0 && config.model_faults.busy_reads <= 1000, "busy 0..1000");
    for (const auto* faults : {&config.model_faults.fail_block_check, &config.model_faults.refuse_block_report}) {
        for (const auto& [block, times] : *faults) {
            check(block >= 0 && block <= 36 && times >= 0 && times <= 1000000, "block 0..36, times 0..1000000");
        }
    }
    for (std::uint64_t write : config.transport_faults.drop_sets) {
        check(write >= 1 && write <= 100000000, "drop 1..100000000");
    }
    check(config.transport_faults.no_answer_ms <= 60000, "no-answer-ms 0..60000");
}

// "3:unplug-after=900" configures interface 3 alone.
bool names_one_interface(std::string_view spec) {
    for (std::size_t start = 0; start <= spec.size();) {
        std::size_t end = std::min(spec.find(',', start), spec.size());
        std::string_view item = spec.substr(start, end - start);
        std::size_t digits = item.find_first_not_of("0123456789");
        if (digits != 0 && digits != std::string_view::npos && item[digits] == ':') return true;
        start = end + 1;
    }
    return false;
}

// Whether "I:path=..." gives interface I a path of its own; I may carry leading zeros.
bool path_given(std::string_view spec, std::size_t i) {
    const std::string index = std::to_string(i);
    for (std::size_t start = 0; start <= spec.size();) {
        std::size_t end = std::min(spec.find(',', start), spec.size());
        std::string_view item = spec.substr(start, end - start);
        std::size_t colon = item.find_first_not_of("0123456789");
        if (colon != 0 && colon != std::string_view::npos && item.substr(colon).starts_with(":path=")) {
            std::string_view digits = item.substr(0, colon);
            digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size() - 1));
            if (digits == index) return true;
        }
        start = end + 1;
    }
    return false;
}

void check_result(const Parsed& parsed, bool alike, std::string_view spec) {
    if (const auto* error = std::get_if<sim::SimSpecError>(&parsed)) {
        check(!error->message.empty(), "an error says what is wrong");
        return;
    }
    const auto& configs = std::get<0>(parsed).interfaces;
    check(configs.size() <= kMaxDevices, "at most 10000 interfaces");
    for (std::size_t i = 0; i < configs.size(); ++i) {
        const std::string path = "sim:" + std::to_string(i);
        check(configs[i].path == std::u16string(path.begin(), path.end()) || path_given(spec, i),
              "interface i is at sim:i unless given a path");
        if (alike) check(same_except_path(configs[i], configs[0]), "every interface is configured alike");
        check_ranges(configs[i]);
    }
}

}  // namespace
}  // namespace wxr::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wxr::fuzz;
    const std::string spec(reinterpret_cast<const char*>(data), size);
    const Parsed parsed = wxr::sim::parse_sim_spec(spec);
    check_result(parsed, !names_one_interface(spec), spec);
    check(same(parsed, wxr::sim::parse_sim_spec("," + spec + ",")), "empty items are ignored");
    check(same(parsed, wxr::sim::parse_sim_spec(spec + "," + spec)), "a spec given twice means the same");
    return 0;
}
