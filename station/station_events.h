// What a station tells those who show it (a terminal or a pipe, JSON lines,
// a page): each visit's result the moment it has one, and the visits and the
// station's state as they stand. Called on the station's own thread; what a
// listener is handed is valid for the call only.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "station/unit_tally.h"
#include "station/visit_table.h"

namespace wxr::station {

struct StationStatus {
    std::string station;         // the station's id (station_id.h)
    bool watching = false;       // looking for units as they come
    bool stopping = false;       // Ctrl-C: running writes finish, none starts
    bool count_reached = false;  // --count units written
    bool log_failed = false;     // the --log file could not be written: no unit starts
    bool ended = false;
    std::optional<long> count;   // --count
    long count_written = 0;      // writes toward --count
    std::size_t writing = 0;     // units being written now
    ResultTally tally;           // every unit by its result so far
    std::optional<long> left_alone;  // a plain upgrade: the other units that answered, not written
    long left_alone_unfit = 0;       // of those, units no image fits
    std::vector<UnwrittenUnit> unwritten;  // once ended: the units left not written
};

class StationListener {
public:
    virtual ~StationListener() = default;
    // A visit moved to another state (a visit that left is in state Departed).
    virtual void moved(const StationVisit& /*visit*/, const StationStatus& /*status*/) {}
    // A visit has its result, already in the log when there is one (before its move to Ended).
    virtual void ended(const StationVisit& visit, const StationStatus& status) = 0;
    // The visits as they stand: after changes, and every redraw period.
    virtual void refresh(const VisitTable& /*visits*/, const StationStatus& /*status*/) {}
    // A notice for the person at the bench (Ctrl-C, the log failed).
    virtual void notice(const std::string& text) = 0;
    // The station is done.
    virtual void finished(const StationStatus& status) = 0;
};

}  // namespace wxr::station
