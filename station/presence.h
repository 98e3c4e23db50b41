// Which units are in front of the station: the visits opened for units as
// they are found and closed when they are gone. A unit gone, or another
// unit at a visit's path, ends that visit; a new path starts one.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>
#include <string>

#include "station/log_recall.h"
#include "station/session.h"
#include "station/station_book.h"
#include "station/visit_table.h"

namespace wxr::station {

// How often a station looks for units come and gone, on the device clock: a
// unit plugged in waits at most this long, and its answer window starts at
// the look that finds it.
inline constexpr std::uint32_t kWatchPollMs = 500;

class Presence {
public:
    // names: the units a station keeps to (a path, location or serial each); empty: every unit.
    // written: the units written before a restart; one that leaves is forgotten there.
    Presence(Session& session, VisitTable& visits, StationBook& book, WrittenUnits& written,
             std::vector<std::string> names = {})
        : session_(session), visits_(visits), book_(book), written_(written), names_(std::move(names)) {}

    // A visit for the unit at this path. The node is held from here to the
    // end of the write, so that the unit's strings, its probe and its run are
    // asked of one descriptor.
    void see(const DevicePath& path);
    // Says once for each serial that units present together share that
    // their visits are counted one by one.
    void tell_shared_serials();
    // The units present now against the visits.
    void look();
    bool look_due() const { return now() >= next_look_ms_; }
    // On the device clock, until the next look is due (0: now).
    std::uint64_t until_next_look() const { return next_look_ms_ > now() ? next_look_ms_ - now() : 0; }
    // A simulated bench whose last look expected no unit to arrive, leave or
    // return: waiting longer cannot bring anything (on the virtual clock it
    // would spin through time for nothing).
    bool settled() const { return session_.simulation() && !changes_after_look_; }

private:
    std::uint64_t now() const { return session_.clock().now_ms(); }
    void leave(StationVisit& entry);
    // Whether the interface at the path is one the station keeps to.
    bool named(const DevicePath& path);

    Session& session_;
    VisitTable& visits_;
    StationBook& book_;
    WrittenUnits& written_;
    std::uint64_t next_look_ms_ = 0;
    bool changes_after_look_ = true;  // a simulated bench: presence changes to come at the last look
    std::set<std::string> shared_said_;  // serials said to be shared
    std::vector<std::string> names_;
    std::map<DevicePath, std::string> passed_over_;  // interfaces not named, by their attachment
};

}  // namespace wxr::station
