// Results counted per unit, not per attempt: a unit failed, replugged and
// then written is one unit written when its serial says it is the same unit
// (unit_key); a unit without a serial of its own counts once per visit.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "station/device_run.h"
#include "station/visit.h"

namespace wxr::station {

// The result a unit stands at after another attempt. An attempt that did
// nothing to it (held back, or skipped as already current) does not undo
// what an earlier attempt did: a unit written and then skipped on its return
// stays written.
RunResult standing_result(std::optional<RunResult> before, RunResult attempt);

// How many units stand at each result, and how many attempts there were.
// Small and fixed in size: the station's status carries it everywhere.
class ResultTally {
public:
    // A unit moves from `before` (nullopt: a unit not seen yet) to `after`.
    void count(std::optional<RunResult> before, RunResult after);
    std::size_t of(RunResult result) const { return counts_[static_cast<std::size_t>(result)]; }
    std::size_t total() const;  // units
    std::size_t attempts() const { return attempts_; }

private:
    std::array<std::size_t, kRunResults> counts_{};
    std::size_t attempts_ = 0;
};

// A unit left not written (failed, refused, no answer, held back), for the recap.
struct UnwrittenUnit {
    DevicePath path;
    std::string location;
    std::string serial;
    RunResult result = RunResult::Failed;
    std::string reason;
    bool serial_shared = false;    // its serial names other units too
    bool location_shared = false;  // ... its location
};

// Every unit's standing result. A day of units costs a few bytes each: a
// unit is remembered by a 64-bit hash of its key; only the units not
// written keep their words, for the recap.
class UnitResults {
public:
    // The report of an attempt on the unit named report.unit.
    void add(const RunReport& report);
    const ResultTally& tally() const { return tally_; }
    // In natural path order (units met at one path in the order they came to stand so).
    std::vector<UnwrittenUnit> unwritten() const;

private:
    ResultTally tally_;
    std::unordered_map<std::uint64_t, RunResult> standing_;
    std::unordered_map<std::uint64_t, std::pair<std::uint64_t, UnwrittenUnit>> unwritten_;  // with its order
    std::uint64_t order_ = 0;
};

// Whether a unit standing at this result holds what it should.
bool is_written(RunResult result);

}  // namespace wxr::station
