#include "station/presence.h"

#include <map>
#include <set>
#include <vector>

#include "station/natural_order.h"
#include "station/unit_text.h"

namespace wxr::station {

void Presence::see(const DevicePath& path) {
    StationVisit& entry = visits_.add(path, now());
    entry.instance = session_.channel().instance(path);
    entry.hold.emplace(session_.channel(), path);
    visits_.identify(entry, {session_.channel().location(path), session_.channel().serial_number(path)});
    book_.tell(entry);
}

void Presence::look() {
    next_look_ms_ = now() + kWatchPollMs;
    // Without the set of interfaces nothing is known to have gone: look again next time.
    auto listed = session_.channel().enumerate();
    if (!listed) return;
    if (sim::SimHid* simulation = session_.simulation()) changes_after_look_ = simulation->presence_changes_to_come();
    std::set<DevicePath, NaturalLess> present(listed->begin(), listed->end());
    std::vector<DevicePath> left;
    for (auto& [path, entry] : visits_) {
        if (has_run(entry.visit.state)) continue;  // its run ends first
        if (!present.contains(path) || session_.channel().instance(path) != entry.instance) left.push_back(path);
    }
    for (const DevicePath& path : left) leave(*visits_.find(path));
    std::erase_if(passed_over_, [&](const auto& entry) { return !present.contains(entry.first); });
    for (const DevicePath& path : present) {
        if (!visits_.find(path) && named(path)) see(path);
    }
    tell_shared_serials();
}

// An interface not named is asked who it is once per attachment, not at every look.
bool Presence::named(const DevicePath& path) {
    if (names_.empty()) return true;
    const std::string instance = session_.channel().instance(path);
    if (auto it = passed_over_.find(path); it != passed_over_.end() && it->second == instance) return false;
    const std::string location = session_.channel().location(path), serial = session_.channel().serial_number(path);
    for (const std::string& name : names_) {
        if (name == to_utf8(path) || (!location.empty() && name == location) || (!serial.empty() && name == serial)) {
            passed_over_.erase(path);
            return true;
        }
    }
    passed_over_[path] = instance;
    return false;
}

void Presence::tell_shared_serials() {
    std::map<std::string, std::size_t> sharing;
    for (const auto& [path, entry] : visits_) {
        if (entry.visit.serial_shared) ++sharing[entry.visit.identity.serial];
    }
    for (const auto& [serial, units] : sharing) {
        if (units < 2 || !shared_said_.insert(serial).second) continue;
        book_.notice("wxr7305: serial " + printable(serial) + " is reported by " + std::to_string(units) +
                     " units at once: counted by visit\n");
    }
}

void Presence::leave(StationVisit& entry) {
    // Shared or not: whichever unit left, it is switched off.
    if (!entry.visit.identity.serial.empty()) written_.forget(entry.visit.identity.serial);
    if (entry.visit.state == VisitState::Waiting) book_.hold_back(entry, "gone before its turn");
    book_.move(entry, VisitEvent::Gone);
    visits_.erase(entry.visit.path);
}

}  // namespace wxr::station
