// What the station starts, in natural path order: a probe for each unit
// seen, and the query and write of each unit that answered as ours, as far
// as the slots (--count), a stop and the log allow. A plain upgrade writes
// only the one unit it chooses.
#pragma once

#include <cstdint>
#include <string>

#include "station/device_run.h"
#include "station/run_group.h"
#include "station/station_book.h"
#include "station/station_events.h"
#include "station/station_plan.h"
#include "station/visit_table.h"

namespace wxr::station {

class Scheduler {
public:
    // written: the units written before a restart that have not left since.
    Scheduler(Session& session, const StationPlan& plan, const RunPlan& run_plan, StopRequest& stop,
              VisitTable& visits, StationBook& book, RunGroup& group, const WrittenUnits& written)
        : session_(session), plan_(plan), run_plan_(run_plan), stop_(stop), visits_(visits), book_(book),
          group_(group), written_(written), slots_(plan.count) {}

    void start_what_can_start();
    // A write ended: its slot goes back, to count its unit or to give it to the next one.
    void write_ended(const RunReport& report) { slots_.give_back(report.result == RunResult::Success, report.unit); }

    // New units may still be written: no stop, no failed log, --count not reached.
    bool admitting() const { return !stop_.requested() && !book_.log_failed() && !slots_.reached(); }
    bool watching() const { return plan_.mode == StationMode::Watch && admitting(); }
    // The scheduling part of the station's status.
    void fill(StationStatus& status) const;

private:
    std::uint64_t now() const { return session_.clock().now_ms(); }
    bool probe_again(const StationVisit& entry) const;
    void start_probe(StationVisit& entry);
    void admit(StationVisit& entry);
    // Told as skipped: written before a restart and not yet switched off and on.
    bool skip_written_before(StationVisit& entry);
    void choose_one();
    bool fits_an_image(const Identity& reply) const;
    void leave_alone(StationVisit& entry);
    std::string why_not_written() const;

    Session& session_;
    const StationPlan& plan_;
    const RunPlan& run_plan_;
    StopRequest& stop_;
    VisitTable& visits_;
    StationBook& book_;
    RunGroup& group_;
    const WrittenUnits& written_;
    Slots slots_;
    bool chosen_ = false;
    long left_alone_ = 0;
    long left_alone_unfit_ = 0;
};

}  // namespace wxr::station
