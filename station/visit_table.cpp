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
    for (auto& [other_path, other] : visits_) {
        if (&other == &entry) continue;
        const UnitIdentity& theirs = other.visit.identity;
        if (!identity.serial.empty() && theirs.serial == identity.serial) {
            other.visit.serial_shared = entry.visit.serial_shared = true;
        }
        if (!identity.location.empty() && theirs.location == identity.location) {
            other.visit.location_shared = entry.visit.location_shared = true;
        }
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
