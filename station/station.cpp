#include "station/station.h"

#include <algorithm>
#include <chrono>
#include <sstream>

#include "station/exit_code.h"
#include "station/not_found.h"
#include "station/presence.h"
#include "station/run_group.h"
#include "station/scheduler.h"
#include "station/station_book.h"

namespace wxr::station {

namespace {

// As often as the dialog's timer moves its bar; a run's end wakes the wait at once.
constexpr std::chrono::milliseconds kRedrawPeriod{100};
// How long Ctrl-C may wait to be acted on.
constexpr std::uint64_t kStopCheckMs = 100;
// After a second Ctrl-C, how long the runs still asking their units are
// waited for, on the session's clock: each is given up at its next request,
// so only a request already on its way (a USB request waits at most 5 s)
// can take longer, and the results are told without it.
constexpr std::uint64_t kLeaveWaitMs = 1000;
// What a unit that answered is told when the second Ctrl-C leaves it.
constexpr char kLeftText[] = "stopped: left at the second Ctrl-C";

// The station's loop: what the runs and looks bring, turned into the visits'
// moves, until nothing runs and nothing more is to come.
class Station {
public:
    Station(Session& session, const StationPlan& plan, const RunPlan& run_plan, StopRequest& stop, StationLog* log,
            const std::vector<StationListener*>& listeners)
        : session_(session), plan_(plan), run_plan_(run_plan), stop_(stop),
          book_(session, plan.station, log, listeners, [this] { return state(); }, &stop.board()),
          written_(plan.written_before), presence_(session, visits_, book_, written_, plan.names),
          scheduler_(session, plan, run_plan_, stop, visits_, book_, group_, written_), group_(session.clock()) {
        run_plan_.stop = &stop;
        run_plan_.station = plan.station;
        if (log) {
            run_plan_.before_write = [log](const RunReport& report, std::string& why) {
                if (log->start(report)) return true;
                why = "its start record could not be written to the log";
                return false;
            };
        }
    }

    int run() {
        ArmedStop armed(stop_);
        for (const DevicePath& path : plan_.paths) presence_.see(path);
        presence_.tell_shared_serials();
        if (plan_.mode == StationMode::Watch) presence_.look();
        written_.keep_only([this](const std::string& serial) { return on_the_bench(serial); });
        while (!stop_.leave_now()) {
            if (stop_.take_reopen()) book_.reopen_log();
            book_.notice_changes();
            if (scheduler_.watching() && presence_.look_due()) presence_.look();
            scheduler_.start_what_can_start();
            refresh();
            if (group_.running() == 0 && done()) break;
            collect(group_.wait_for_ended(wait_time()));
        }
        if (stop_.leave_now()) leave();
        return finish();
    }

private:
    std::uint64_t now() const { return session_.clock().now_ms(); }

    bool on_the_bench(const std::string& serial) const {
        return std::any_of(visits_.begin(), visits_.end(),
                           [&](const auto& e) { return e.second.visit.identity.serial == serial; });
    }

    void collect(std::vector<std::unique_ptr<Run>> ended) {
        std::sort(ended.begin(), ended.end(), [](const auto& a, const auto& b) {
            return natural_less(a->path(), b->path());
        });
        for (auto& run : ended) {
            StationVisit* entry = visits_.find(run->path());
            if (!entry) continue;
            if (auto* probe = dynamic_cast<ProbeRun*>(run.get())) probe_ended(*entry, *probe);
            if (auto* write = dynamic_cast<const DeviceRun*>(run.get())) write_ended(*entry, *write);
        }
    }

    void probe_ended(StationVisit& entry, ProbeRun& probe) {
        entry.probe_ms = probe.ms();
        switch (probe.outcome()) {
            case ProbeOutcome::Identified:
                entry.reply = probe.identity();
                entry.claim = probe.take_claim();
                return book_.move(entry, VisitEvent::Identified);
            // The dialog's pass lists only what answers at once: a unit another
            // program has (which "not found" then mentions), one that did not
            // answer, or one Ctrl-C kept from its claim is not found.
            case ProbeOutcome::InUse:
                if (!plan_.choose_one) return book_.conclude(entry, visit_report(entry, RunResult::Failed, "claim", kInUseText), VisitEvent::InUse);
                break;
            case ProbeOutcome::NoAnswer:
                if (!plan_.choose_one) return book_.conclude(entry, visit_report(entry, RunResult::NoAnswer, "probe", probe.detail()), VisitEvent::NoAnswer);
                break;
            case ProbeOutcome::Stopped:
                if (!plan_.choose_one) return book_.hold_back(entry, "stopped before it answered");
                break;
            case ProbeOutcome::NotOurs: break;
        }
        entry.hold.reset();
        book_.move(entry, VisitEvent::NotOurs);
    }

    void write_ended(StationVisit& entry, const DeviceRun& run) {
        if (entry.visit.state == VisitState::Querying && run.writing()) book_.move(entry, VisitEvent::BeginWrite);
        scheduler_.write_ended(run.report());
        // A unit the second Ctrl-C left while it was asked, not written, failed at nothing.
        if (stop_.leave_now() && !run.report().written) {
            book_.conclude(entry, visit_report(entry, RunResult::NotWritten, "", kLeftText), VisitEvent::Finish);
        } else {
            book_.conclude(entry, run.report(), VisitEvent::Finish);
        }
        entry.run = nullptr;
    }

    // The second Ctrl-C, while nothing is being written: the units still
    // asked are given up, and every unit that answered is told as not
    // written before the station leaves.
    void leave() {
        book_.notice("wxr7305: leaving; nothing was being written.\n");
        for (auto& [path, entry] : visits_) {
            if (entry.run && !entry.run->writing()) entry.run->abandon();  // a write is never cut here
        }
        const std::uint64_t until = now() + kLeaveWaitMs;
        while (group_.running() > 0 && now() < until) {
            collect(group_.wait_for_ended(std::chrono::milliseconds(kStopCheckMs)));
        }
        for (auto& [path, entry] : visits_) {
            if (entry.visit.state == VisitState::Waiting) book_.hold_back(entry, kLeftText);
        }
    }

    void refresh() {
        for (auto& [path, entry] : visits_) {
            if (entry.visit.state == VisitState::Querying && entry.run && entry.run->writing()) {
                book_.move(entry, VisitEvent::BeginWrite);
            }
        }
        book_.refresh(visits_);
    }

    // Nothing runs; is anything still to come?
    bool done() const {
        if (visits_.count(VisitState::Seen) > 0) return false;
        if (plan_.mode != StationMode::Watch) return true;
        return !scheduler_.watching() || nothing_more_to_come();
    }

    // Simulated units that are all dealt with and will neither arrive nor
    // return, and none still in its answer window.
    bool nothing_more_to_come() const {
        // What changed since the last look is not seen yet: only what that look expected counts.
        if (!presence_.settled()) return false;
        return std::none_of(visits_.begin(), visits_.end(), [&](const auto& e) {
            return e.second.visit.state == VisitState::NotOurs && now() - e.second.visit.seen_ms < kFirstAnswerMs;
        });
    }

    std::chrono::milliseconds wait_time() const {
        if (group_.running() > 0) return kRedrawPeriod;
        return std::chrono::milliseconds(std::clamp<std::uint64_t>(presence_.until_next_look(), 1, kStopCheckMs));
    }

    StationStatus state() const {
        StationStatus s;
        scheduler_.fill(s);
        s.stopping = stop_.requested();
        s.writing = static_cast<std::size_t>(std::count_if(visits_.begin(), visits_.end(), [](const auto& e) {
            const StationVisit& v = e.second;
            return v.visit.state == VisitState::Writing || (v.run && v.run->writing());
        }));
        return s;
    }

    // The run's ending: the listeners' last word, and the code by each unit's result.
    int finish() {
        book_.finish();
        int code = exit_code_for(book_.tally(), stop_.requested(), plan_.mode == StationMode::Watch);
        if (book_.tally().total() == 0 && plan_.mode != StationMode::Watch) {
            std::ostringstream text;
            code = report_not_found(session_, text);
            book_.notice(text.str());
        }
        return book_.log_failed() ? worse(code, kExitOther) : code;
    }

    Session& session_;
    const StationPlan& plan_;
    RunPlan run_plan_;
    StopRequest& stop_;
    VisitTable visits_;
    StationBook book_;
    WrittenUnits written_;  // what the log says was written before this start, less the units gone since
    Presence presence_;
    Scheduler scheduler_;
    RunGroup group_;  // last: its runs end before what they use goes
};

}  // namespace

int run_station(Session& session, const StationPlan& plan, const RunPlan& run_plan, StopRequest& stop,
                StationLog* log, const std::vector<StationListener*>& listeners) {
    Station station(session, plan, run_plan, stop, log, listeners);
    return station.run();
}

}  // namespace wxr::station
