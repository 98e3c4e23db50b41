#include "app/cli/station_book.h"

namespace wxr::cli {

RunReport blank_report(const StationVisit& entry) {
    RunReport report;
    report.path = entry.visit.path;
    report.location = entry.visit.identity.location;
    report.serial = entry.visit.identity.serial;
    return report;
}

StationBook::StationBook(Session& session, StationLog* log, std::vector<StationListener*> listeners,
                         std::function<StationStatus()> state)
    : session_(session), log_(log), listeners_(std::move(listeners)), state_(std::move(state)) {}

StationStatus StationBook::status() const {
    StationStatus status = state_();
    status.tally = tally_;
    status.log_failed = log_failed();
    return status;
}

void StationBook::tell(const StationVisit& entry) {
    const StationStatus now = status();
    for (StationListener* listener : listeners_) listener->moved(entry, now);
}

void StationBook::move(StationVisit& entry, VisitEvent event) {
    entry.visit.apply(event);
    tell(entry);
}

// The log first: a result is shown only once it is on disk.
void StationBook::conclude(StationVisit& entry, RunReport report, VisitEvent event) {
    report.visit = entry.visit.number;
    if (report.result != RunResult::NotWritten) report.ms += entry.probe_ms;
    entry.check = check_simulated(session_, report);
    if (report.result == RunResult::Skipped || report.result == RunResult::Refused) entry.check.reset();
    if (log_) report.recorded = log_->result(report, entry.check);
    tally_.add(report.result);
    entry.report = std::move(report);
    notice_changes(status().stopping);
    const StationStatus now = status();
    for (StationListener* listener : listeners_) listener->ended(entry, now);
    entry.hold.reset();
    entry.claim = UnitClaim();
    move(entry, event);
}

void StationBook::hold_back(StationVisit& entry, const std::string& why) {
    RunReport report = blank_report(entry);
    report.result = RunResult::NotWritten;
    report.detail = why;
    conclude(entry, report, VisitEvent::HoldBack);
}

void StationBook::refresh(const VisitTable& visits) {
    const StationStatus now = status();
    for (StationListener* listener : listeners_) listener->refresh(visits, now);
}

void StationBook::notice_changes(bool stopping) {
    if (!told_stop_ && stopping) {
        told_stop_ = true;
        notice("wxr7305: stopping once the devices being written are done; "
               "Ctrl-C again leaves at once, and a device left half-written may not start.\n");
    }
    if (!told_log_ && log_failed()) {
        told_log_ = true;
        notice("wxr7305: writing the log file " + log_->path() + " failed: " + log_->error() +
               "; no further unit is started.\n");
    }
}

void StationBook::notice(const std::string& text) {
    for (StationListener* listener : listeners_) listener->notice(text);
}

void StationBook::finish() {
    StationStatus last = status();
    last.ended = true;
    for (StationListener* listener : listeners_) listener->finished(last);
}

}  // namespace wxr::cli
