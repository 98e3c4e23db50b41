#include "station/station_book.h"

#include "station/simulation_check.h"
#include "station/unit_text.h"

namespace wxr::station {

RunReport visit_report(const StationVisit& entry, RunResult result, std::string phase, std::string detail) {
    RunReport report;
    report.path = entry.visit.path;
    report.location = entry.visit.identity.location;
    report.serial = entry.visit.identity.serial;
    report.result = result;
    report.phase = std::move(phase);
    report.detail = std::move(detail);
    return report;
}

StationBook::StationBook(Session& session, std::string station, StationLog* log, std::vector<StationListener*> listeners,
                         std::function<StationStatus()> state, WritingBoard* board)
    : session_(session), station_(std::move(station)), log_(log), listeners_(std::move(listeners)),
      state_(std::move(state)), board_(board) {}

StationStatus StationBook::status() const {
    StationStatus status = state_();
    status.station = station_;
    status.tally = units_.tally();
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
    report.station = station_;
    report.unit = unit_key(entry.visit);
    report.serial_shared = entry.visit.serial_shared;
    report.location_shared = entry.visit.location_shared;
    if (report.result != RunResult::NotWritten) report.ms += entry.probe_ms;
    entry.check = check_simulated(session_, report);
    if (report.result == RunResult::Skipped || report.result == RunResult::Refused) entry.check.reset();
    if (log_) report.recorded = log_->result(report, entry.check);
    units_.add(report);
    entry.report = std::move(report);
    notice_changes();
    const StationStatus now = status();
    for (StationListener* listener : listeners_) listener->ended(entry, now);
    entry.hold.reset();
    entry.claim = UnitClaim();
    move(entry, event);
}

void StationBook::hold_back(StationVisit& entry, const std::string& why) {
    conclude(entry, visit_report(entry, RunResult::NotWritten, "", why), VisitEvent::HoldBack);
}

void StationBook::skip_written(StationVisit& entry, const std::string& why, const BenchImage* image) {
    RunReport report = visit_report(entry, RunResult::Skipped, "", why);
    report.device = reply_device(entry.reply);
    report.answered = true;
    report.image = image;
    conclude(entry, std::move(report), VisitEvent::WrittenBefore);
}

void StationBook::refresh(const VisitTable& visits) {
    post_writing(visits);
    const StationStatus now = status();
    for (StationListener* listener : listeners_) listener->refresh(visits, now);
}

// "sim:3 at usb-1.4, sim:7 at usb-1.8", as short as the board needs.
void StationBook::post_writing(const VisitTable& visits) {
    if (!board_) return;
    std::vector<std::uint64_t> writing;
    for (const auto& [path, entry] : visits) {
        if (entry.visit.state == VisitState::Writing) writing.push_back(entry.visit.number);
    }
    if (writing == posted_) return;
    posted_ = std::move(writing);
    constexpr std::size_t kRoomForMore = 40;  // " and 12345 more"
    std::string text;
    std::size_t named = 0;
    for (const auto& [path, entry] : visits) {
        if (entry.visit.state != VisitState::Writing) continue;
        std::string unit = printable(to_utf8(path));
        if (std::string where = whereabouts(entry.visit.identity.location, entry.visit.identity.serial); !where.empty()) {
            unit += " " + where;
        }
        if (text.size() + unit.size() + 2 + kRoomForMore > WritingBoard::kCapacity) break;
        text += (text.empty() ? "" : ", ") + unit;
        ++named;
    }
    if (named < posted_.size()) text += " and " + std::to_string(posted_.size() - named) + " more";
    board_->post(text);
}

void StationBook::notice_changes() {
    const StationStatus now = status();
    if (!told_stop_ && now.stopping) {
        told_stop_ = true;
        notice("wxr7305: " + stopping_text(now.writing) +
               (now.writing > 0 ? " (a unit left part-written may not start).\n" : ".\n"));
    }
    if (!told_log_ && log_failed()) {
        told_log_ = true;
        notice("wxr7305: writing the log file " + log_->path() + " failed: " + log_->error() +
               "; no further unit is started.\n");
    }
}

std::string stopping_text(std::size_t writing) {
    if (writing == 0) return "stopping: nothing is being written";
    return "stopping: " + std::to_string(writing) + (writing == 1 ? " write" : " writes") +
           " finishing, none started; Ctrl-C again to leave now";
}

void StationBook::notice(const std::string& text) {
    for (StationListener* listener : listeners_) listener->notice(text);
}

void StationBook::reopen_log() {
    if (!log_) return;
    std::string error;
    if (log_->reopen(error)) return notice("wxr7305: the log file " + log_->path() + " opened anew.\n");
    notice("wxr7305: the log file could not be opened anew (" + error + "); records go on to the file open before.\n");
}

void StationBook::finish() {
    StationStatus last = status();
    last.ended = true;
    last.unwritten = units_.unwritten();
    for (StationListener* listener : listeners_) listener->finished(last);
}

}  // namespace wxr::station
