#include "station/unit_tally.h"

#include <algorithm>

#include "station/natural_order.h"

namespace wxr::station {

namespace {

// FNV-1a: the same key gives the same hash on every platform and run.
std::uint64_t key_hash(const std::string& key) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : key) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

}  // namespace

RunResult standing_result(std::optional<RunResult> before, RunResult attempt) {
    if (!before) return attempt;
    if (attempt == RunResult::NotWritten) return *before;
    if (attempt == RunResult::Skipped && *before == RunResult::Success) return *before;
    return attempt;
}

bool is_written(RunResult result) { return result == RunResult::Success || result == RunResult::Skipped; }

void ResultTally::count(std::optional<RunResult> before, RunResult after) {
    ++attempts_;
    if (before) --counts_[static_cast<std::size_t>(*before)];
    ++counts_[static_cast<std::size_t>(after)];
}

std::size_t ResultTally::total() const {
    std::size_t n = 0;
    for (std::size_t count : counts_) n += count;
    return n;
}

void UnitResults::add(const RunReport& report) {
    const std::uint64_t key = key_hash(report.unit);
    std::optional<RunResult> before;
    if (auto it = standing_.find(key); it != standing_.end()) before = it->second;
    const RunResult now = standing_result(before, report.result);
    tally_.count(before, now);
    standing_[key] = now;
    if (is_written(now)) {
        unwritten_.erase(key);
    } else if (now == report.result) {
        std::string reason = report.detail.substr(0, report.detail.find_last_not_of(' ') + 1);
        unwritten_[key] = {++order_,
                           {report.path, report.location, report.serial, now, std::move(reason), report.serial_shared,
                            report.location_shared}};
    }
}

std::vector<UnwrittenUnit> UnitResults::unwritten() const {
    std::vector<std::pair<std::uint64_t, UnwrittenUnit>> ordered;
    for (const auto& [key, entry] : unwritten_) ordered.push_back(entry);
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
        if (a.second.path != b.second.path) return natural_less(a.second.path, b.second.path);
        return a.first < b.first;
    });
    std::vector<UnwrittenUnit> units;
    for (auto& [order, unit] : ordered) units.push_back(std::move(unit));
    return units;
}

}  // namespace wxr::station
