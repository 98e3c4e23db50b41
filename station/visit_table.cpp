#include "station/visit_table.h"

#include <algorithm>

namespace wxr::station {

StationVisit& VisitTable::add(const DevicePath& path, std::uint64_t now_ms) {
    StationVisit& entry = visits_[path];
    entry = StationVisit{};
    entry.visit = Visit{next_number_++, path, {}, VisitState::Seen, now_ms, now_ms};
    return entry;
}

void VisitTable::identify(StationVisit& entry, const UnitIdentity& identity) {
    entry.visit.identity = identity;
    if (identity.location.empty() && identity.serial.empty()) return;
    for (auto& [other_path, other] : visits_) {
        if (&other != &entry && other.visit.identity == identity) other.visit.twin = entry.visit.twin = true;
    }
}

StationVisit* VisitTable::find(const DevicePath& path) {
    auto it = visits_.find(path);
    return it == visits_.end() ? nullptr : &it->second;
}

StationVisit* VisitTable::find(std::uint64_t number) {
    for (auto& [path, entry] : visits_) {
        if (entry.visit.number == number) return &entry;
    }
    return nullptr;
}

std::size_t VisitTable::count(VisitState state) const {
    return static_cast<std::size_t>(
        std::count_if(visits_.begin(), visits_.end(), [&](const auto& e) { return e.second.visit.state == state; }));
}

}  // namespace wxr::station
