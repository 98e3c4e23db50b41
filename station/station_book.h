// What a station tells of its visits: every move, and each visit's result,
// in the log first and then to those who show the station. It keeps each
// unit's standing result (a few bytes a unit), not the reports.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "station/station_events.h"
#include "station/station_log.h"
#include "station/writing_board.h"

namespace wxr::station {

class StationBook {
public:
    // state: the station's state as it stands, but for the tally, which the book keeps.
    // board: where the units being written are posted for the second Ctrl-C.
    // station: the station's id, which every report carries.
    StationBook(Session& session, std::string station, StationLog* log, std::vector<StationListener*> listeners,
                std::function<StationStatus()> state, WritingBoard* board = nullptr);

    // A new visit, or one that moved by the event.
    void tell(const StationVisit& entry);
    void move(StationVisit& entry, VisitEvent event);
    // The visit's result: recorded, counted, shown; then the move that ends it.
    void conclude(StationVisit& entry, RunReport report, VisitEvent event);
    // Not written, and why.
    void hold_back(StationVisit& entry, const std::string& why);
    // Skipped: written by this station before it restarted (why), with this image.
    void skip_written(StationVisit& entry, const std::string& why, const BenchImage* image);
    // Shows the visits as they stand, and posts those being written.
    void refresh(const VisitTable& visits);
    // Each once: Ctrl-C came, the log failed.
    void notice_changes();
    void notice(const std::string& text);
    // SIGUSR1: the log opened anew by its name, and said either way.
    void reopen_log();
    void finish();

    bool log_failed() const { return log_ && log_->failed(); }
    const ResultTally& tally() const { return units_.tally(); }
    StationStatus status() const;

private:
    void post_writing(const VisitTable& visits);

    Session& session_;
    std::string station_;
    StationLog* log_;
    std::vector<StationListener*> listeners_;
    std::function<StationStatus()> state_;
    UnitResults units_;
    WritingBoard* board_;
    std::vector<std::uint64_t> posted_;  // the visits on the board
    bool told_stop_ = false;
    bool told_log_ = false;
};

// What the first Ctrl-C does: "stopping: 2 writes finishing, none started; Ctrl-C again to leave now".
std::string stopping_text(std::size_t writing);

// The report of a visit that ends without a run of its own: which unit, how
// it ended, where and why.
RunReport visit_report(const StationVisit& entry, RunResult result, std::string phase, std::string detail);

}  // namespace wxr::station
