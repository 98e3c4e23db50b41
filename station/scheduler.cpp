#include "station/scheduler.h"

#include <memory>

namespace wxr::station {

// Units ready at one instant take the free slots in path order; a unit
// waits for a slot only while every slot is taken.
void Scheduler::start_what_can_start() {
    for (auto& [path, entry] : visits_) {
        switch (entry.visit.state) {
            case VisitState::Seen: start_probe(entry); break;
            case VisitState::NotOurs:
                if (probe_again(entry)) start_probe(entry);
                break;
            case VisitState::Waiting:
                if (skip_written_before(entry)) break;
                if (!admitting()) book_.hold_back(entry, why_not_written());
                else if (!plan_.choose_one && slots_.free()) admit(entry);
                break;
            default: break;
        }
    }
    if (plan_.choose_one && !chosen_ && visits_.count(VisitState::Probing) == 0) choose_one();
}

// An interface that is not ours may be one just plugged in: it is tried
// for a while, a pause apart (a probe that fails at once would otherwise
// be repeated without end at one instant of a virtual clock).
bool Scheduler::probe_again(const StationVisit& entry) const {
    return plan_.mode == StationMode::Watch && watching() && now() - entry.visit.seen_ms < kFirstAnswerMs &&
           now() - entry.visit.probed_ms >= kAnswerRetryMs;
}

void Scheduler::start_probe(StationVisit& entry) {
    entry.visit.probed_ms = now();
    if (!entry.hold) entry.hold.emplace(session_.channel(), entry.visit.path);
    ProbePlan probe{plan_.retry_probes ? entry.visit.seen_ms + kFirstAnswerMs : 0, plan_.model, &stop_};
    book_.move(entry, VisitEvent::Probe);
    group_.start(std::make_unique<ProbeRun>(session_, entry.visit.number, entry.visit.path, probe));
}

void Scheduler::admit(StationVisit& entry) {
    slots_.take();
    book_.move(entry, VisitEvent::Admit);
    auto run = std::make_unique<DeviceRun>(session_, entry.visit, run_plan_);
    entry.run = run.get();
    group_.start(std::move(run));
}

// Written by this station before it restarted, and not yet switched off and
// on: it still reports the version the record says it had, and would get the
// same image again. A unit without a serial of its own cannot be told.
bool Scheduler::skip_written_before(StationVisit& entry) {
    const Visit& visit = entry.visit;
    if (visit.identity.serial.empty() || visit.serial_shared) return false;
    const WrittenUnit* unit = written_.find(visit.identity.serial);
    if (!unit || unit->version_before != entry.reply.version) return false;
    const BenchImage* image = image_for(run_plan_.images, reply_device(entry.reply));
    if (!image || !same_image(*unit, image->info)) return false;
    book_.skip_written(entry, written_before_text(*unit), image);
    return true;
}

// The first unit in path order whose model and sensor an image fits, else
// the first that answered (its query then says why it is refused).
void Scheduler::choose_one() {
    chosen_ = true;
    StationVisit* chosen = nullptr;
    for (auto& [path, entry] : visits_) {
        if (entry.visit.state != VisitState::Waiting) continue;
        if (!chosen || (fits_an_image(entry.reply) && !fits_an_image(chosen->reply))) chosen = &entry;
    }
    if (!chosen) return;
    left_alone_ = static_cast<long>(visits_.count(VisitState::Waiting)) - 1;
    for (auto& [path, entry] : visits_) {
        if (entry.visit.state != VisitState::Waiting || &entry == chosen) continue;
        if (!fits_an_image(entry.reply)) ++left_alone_unfit_;
        leave_alone(entry);
    }
    if (admitting()) admit(*chosen);
}

bool Scheduler::fits_an_image(const Identity& reply) const {
    return fits_any(run_plan_.images, reply.model, reply.sensor);
}

// Not shown one by one: the plain upgrade says how many it left alone.
void Scheduler::leave_alone(StationVisit& entry) {
    entry.report = visit_report(entry, RunResult::NotWritten, "",
                                fits_an_image(entry.reply)
                                    ? "left alone: a plain upgrade writes one unit (--all writes every one)"
                                    : "left alone: a plain upgrade writes one unit, and the firmware does not fit it");
    entry.hold.reset();
    entry.claim = UnitClaim();
    book_.move(entry, VisitEvent::HoldBack);
}

std::string Scheduler::why_not_written() const {
    if (book_.log_failed()) return "the log could not be written";
    if (slots_.reached()) return "--count " + std::to_string(*slots_.count()) + " reached";
    return "stopped before its write began";
}

void Scheduler::fill(StationStatus& status) const {
    status.watching = watching();
    status.count_reached = slots_.reached();
    status.count = slots_.count();
    status.count_written = slots_.succeeded();
    if (plan_.choose_one && chosen_) status.left_alone = left_alone_;
    status.left_alone_unfit = left_alone_unfit_;
}

}  // namespace wxr::station
