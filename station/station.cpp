#include "station/station.h"

#include <algorithm>
#include <set>
#include <sstream>

#include "app/cli/cli.h"
#include "station/run_group.h"
#include "station/station_book.h"

namespace wxr::cli {

namespace {

class Station {
public:
    Station(Session& session, const StationPlan& plan, const RunPlan& run_plan, StopRequest& stop, StationLog* log,
            const std::vector<StationListener*>& listeners)
        : session_(session), plan_(plan), run_plan_(run_plan), stop_(stop), slots_(plan.count),
          book_(session, log, listeners, [this] { return state(); }, &stop.board()), group_(session.clock()) {
        run_plan_.stop = &stop;
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
        for (const DevicePath& path : plan_.paths) see(path);
        if (plan_.mode == StationMode::Watch) look();
        while (!stop_.leave_now()) {
            book_.notice_changes();
            if (watching() && now() >= next_look_ms_) look();
            start_what_can_start();
            refresh();
            if (group_.running() == 0 && done()) break;
            collect(group_.wait_for_ended(wait_time()));
        }
        if (stop_.leave_now()) book_.notice("wxr7305: leaving; nothing was being written.\n");
        return finish();
    }

private:
    std::uint64_t now() const { return session_.clock().now_ms(); }

    UnitIdentity identity_of(const DevicePath& path) {
        return {session_.channel().location(path), session_.channel().serial_number(path)};
    }

    bool admitting() const { return !stop_.requested() && !book_.log_failed() && !slots_.reached(); }
    bool watching() const { return plan_.mode == StationMode::Watch && admitting(); }

    // --- What the station sees, turned into events ---

    // The node is held from here to the end of the write, so that the
    // unit's strings, its probe and its run are asked of one descriptor.
    void see(const DevicePath& path) {
        StationVisit& entry = visits_.add(path, now());
        entry.instance = session_.channel().instance(path);
        entry.hold.emplace(session_.channel(), path);
        visits_.identify(entry, identity_of(path));
        book_.tell(entry);
    }

    // The units present now against the visits: a unit gone, or another unit
    // at a visit's path, ends that visit; a new path starts one.
    void look() {
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
        for (const DevicePath& path : present) {
            if (!visits_.find(path)) see(path);
        }
    }

    void leave(StationVisit& entry) {
        if (entry.visit.state == VisitState::Waiting) book_.hold_back(entry, "gone before its turn");
        book_.move(entry, VisitEvent::Gone);
        visits_.erase(entry.visit.path);
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
        slots_.give_back(run.report().result == RunResult::Success);
        book_.conclude(entry, run.report(), VisitEvent::Finish);
        entry.run = nullptr;
    }

    // --- What the visits allow to start, in natural path order ---

    // With --count, units found by one look take the slots in path order,
    // whichever answered first: a unit behind one still probing waits for it.
    void start_what_can_start() {
        std::set<std::uint64_t> looks_probing;  // looks with a unit before this one still probing
        for (auto& [path, entry] : visits_) {
            const bool behind = looks_probing.contains(entry.visit.seen_ms);
            if (entry.visit.state == VisitState::Probing) looks_probing.insert(entry.visit.seen_ms);
            switch (entry.visit.state) {
                case VisitState::Seen: start_probe(entry); break;
                case VisitState::NotOurs:
                    if (probe_again(entry)) start_probe(entry);
                    break;
                case VisitState::Waiting:
                    if (!admitting()) book_.hold_back(entry, why_not_written());
                    else if (!plan_.choose_one && slots_.free() && !(behind && slots_.count())) admit(entry);
                    break;
                default: break;
            }
        }
        if (plan_.choose_one && !chosen_ && visits_.count(VisitState::Probing) == 0) choose_one();
    }

    // An interface that is not ours may be one just plugged in: it is tried
    // for a while, a pause apart (a probe that fails at once would otherwise
    // be repeated without end at one instant of a virtual clock).
    bool probe_again(const StationVisit& entry) const {
        return plan_.mode == StationMode::Watch && watching() && now() - entry.visit.seen_ms < kFirstAnswerMs &&
               now() - entry.visit.probed_ms >= kAnswerRetryMs;
    }

    void start_probe(StationVisit& entry) {
        entry.visit.probed_ms = now();
        if (!entry.hold) entry.hold.emplace(session_.channel(), entry.visit.path);
        ProbePlan probe{plan_.retry_probes ? entry.visit.seen_ms + kFirstAnswerMs : 0, plan_.model, &stop_};
        book_.move(entry, VisitEvent::Probe);
        group_.start(std::make_unique<ProbeRun>(session_, entry.visit.number, entry.visit.path, probe));
    }

    void admit(StationVisit& entry) {
        slots_.take();
        book_.move(entry, VisitEvent::Admit);
        auto run = std::make_unique<DeviceRun>(session_, entry.visit, run_plan_);
        entry.run = run.get();
        group_.start(std::move(run));
    }

    // The first unit in path order whose model and sensor an image fits, else
    // the first that answered (its query then says why it is refused).
    void choose_one() {
        chosen_ = true;
        StationVisit* chosen = nullptr;
        for (auto& [path, entry] : visits_) {
            if (entry.visit.state != VisitState::Waiting) continue;
            if (!chosen || (fits_an_image(entry.reply) && !fits_an_image(chosen->reply))) chosen = &entry;
        }
        if (!chosen) return;
        left_alone_ = static_cast<long>(visits_.count(VisitState::Waiting)) - 1;
        for (auto& [path, entry] : visits_) {
            if (entry.visit.state == VisitState::Waiting && &entry != chosen) leave_alone(entry);
        }
        if (admitting()) admit(*chosen);
    }

    bool fits_an_image(const Identity& reply) const {
        return fits_any(run_plan_.images, reply.model, reply.sensor);
    }

    // Not shown one by one: the plain upgrade says how many it left alone.
    void leave_alone(StationVisit& entry) {
        entry.report = visit_report(entry, RunResult::NotWritten, "",
                                    "left alone: a plain upgrade writes one unit (--all writes every one)");
        entry.hold.reset();
        entry.claim = UnitClaim();
        book_.move(entry, VisitEvent::HoldBack);
    }

    std::string why_not_written() const {
        if (book_.log_failed()) return "the log could not be written";
        if (slots_.reached()) return "--count " + std::to_string(*slots_.count()) + " reached";
        return "stopped before its write began";
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
        return !watching() || nothing_more_to_come();
    }

    // Simulated units that are all dealt with and will neither arrive nor
    // return: waiting longer cannot bring anything (on the virtual clock it
    // would spin through time for nothing).
    bool nothing_more_to_come() const {
        // What changed since the last look is not seen yet: only what that look expected counts.
        if (!session_.simulation() || changes_after_look_) return false;
        return std::none_of(visits_.begin(), visits_.end(), [&](const auto& e) {
            return e.second.visit.state == VisitState::NotOurs && now() - e.second.visit.seen_ms < kFirstAnswerMs;
        });
    }

    std::chrono::milliseconds wait_time() const {
        if (group_.running() > 0) return kRedrawPeriod;
        std::uint64_t to_look = next_look_ms_ > now() ? next_look_ms_ - now() : 0;
        return std::chrono::milliseconds(std::clamp<std::uint64_t>(to_look, 1, kStopCheckMs));
    }

    StationStatus state() const {
        StationStatus s;
        s.watching = watching();
        s.stopping = stop_.requested();
        s.count_reached = slots_.reached();
        s.count = slots_.count();
        s.count_written = slots_.succeeded();
        s.writing = static_cast<std::size_t>(std::count_if(visits_.begin(), visits_.end(), [](const auto& e) {
            const StationVisit& v = e.second;
            return v.visit.state == VisitState::Writing || (v.run && v.run->writing());
        }));
        if (plan_.choose_one && chosen_) s.left_alone = left_alone_;
        return s;
    }

    int finish() {
        book_.finish();
        int code = exit_code_for(book_.tally(), stop_.requested());
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
    Slots slots_;
    VisitTable visits_;
    StationBook book_;
    std::uint64_t next_look_ms_ = 0;
    bool changes_after_look_ = true;  // a simulated bench: presence changes to come at the last look
    bool chosen_ = false;
    long left_alone_ = 0;
    RunGroup group_;  // last: its runs end before what they use goes
};

}  // namespace

int run_station(Session& session, const StationPlan& plan, const RunPlan& run_plan, StopRequest& stop,
                StationLog* log, const std::vector<StationListener*>& listeners) {
    Station station(session, plan, run_plan, stop, log, listeners);
    return station.run();
}

}  // namespace wxr::cli
