// What a station tells of its visits: every move, and each visit's result,
// in the log first and then to those who show the station. It keeps the
// tally, not the reports, so that a day of units costs no memory per unit.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/cli/station_events.h"
#include "app/cli/station_log.h"

namespace wxr::cli {

class StationBook {
public:
    // state: the station's state as it stands, but for the tally, which the book keeps.
    StationBook(Session& session, StationLog* log, std::vector<StationListener*> listeners,
                std::function<StationStatus()> state);

    // A new visit, or one that moved by the event.
    void tell(const StationVisit& entry);
    void move(StationVisit& entry, VisitEvent event);
    // The visit's result: recorded, counted, shown; then the move that ends it.
    void conclude(StationVisit& entry, RunReport report, VisitEvent event);
    // Not written, and why.
    void hold_back(StationVisit& entry, const std::string& why);
    void refresh(const VisitTable& visits);
    // Each once: Ctrl-C came, the log failed.
    void notice_changes(bool stopping);
    void notice(const std::string& text);
    void finish();

    bool log_failed() const { return log_ && log_->failed(); }
    const ResultTally& tally() const { return tally_; }
    StationStatus status() const;

private:
    Session& session_;
    StationLog* log_;
    std::vector<StationListener*> listeners_;
    std::function<StationStatus()> state_;
    ResultTally tally_;
    bool told_stop_ = false;
    bool told_log_ = false;
};

// A report that says only which unit it is.
RunReport blank_report(const StationVisit& entry);

}  // namespace wxr::cli
