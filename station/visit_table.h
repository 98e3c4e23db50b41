// The visits a station has going, one per path, in natural path order: the
// station's whole memory of the units in front of it. A visit leaves the
// table when its unit is gone; what is kept of it after that is in the tally.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "station/device_run.h"
#include "station/natural_order.h"
#include "station/simulation_check.h"
#include "station/probe_run.h"
#include "station/visit.h"
#include "device/device_hold.h"
#include "device/unit_claim.h"

namespace wxr::station {

struct StationVisit {
    Visit visit;
    // The node kept open from the probe to the end of the write: opening a
    // USB unit afresh costs usbhid 50 ms.
    std::optional<DeviceHold> hold;
    UnitClaim claim;  // from the probe to the end of the write: no other program has the unit
    std::string instance;            // which attachment of a unit it is (see HidPlatform::instance)
    Identity reply;                  // what its identification said
    std::uint64_t probe_ms = 0;      // how long its probe took: part of the unit's time
    DeviceRun* run = nullptr;        // while querying or writing
    std::optional<RunReport> report;  // once ended
    std::optional<SimulationCheck> check;
};

class VisitTable {
public:
    using Map = std::map<DevicePath, StationVisit, NaturalLess>;

    // A new visit at a path that has none.
    StationVisit& add(const DevicePath& path, std::uint64_t now_ms);
    // What its unit says of itself; a serial or location that another visit
    // present reports too is marked shared on both.
    void identify(StationVisit& entry, const UnitIdentity& identity);
    StationVisit* find(const DevicePath& path);
    StationVisit* find(std::uint64_t number);
    void erase(const DevicePath& path) { visits_.erase(path); }

    // In natural path order.
    Map::iterator begin() { return visits_.begin(); }
    Map::iterator end() { return visits_.end(); }
    Map::const_iterator begin() const { return visits_.begin(); }
    Map::const_iterator end() const { return visits_.end(); }
    std::size_t count(VisitState state) const;
    std::size_t size() const { return visits_.size(); }

private:
    Map visits_;
    std::uint64_t next_number_ = 1;
};

// --count: a slot for each unit being written or written; one that fails
// gives its slot back to the next unit waiting. Units are counted as the
// tally counts them (unit_key), not writes.
class Slots {
public:
    explicit Slots(std::optional<long> count) : count_(count) {}
    bool free() const { return !count_ || succeeded_ + taken_ < *count_; }
    void take() { ++taken_; }
    // unit: which unit the write was for; a unit written again is not counted again.
    void give_back(bool succeeded, const std::string& unit) {
        --taken_;
        if (succeeded && (!count_ || written_.insert(unit).second)) ++succeeded_;
    }
    bool reached() const { return count_ && succeeded_ >= *count_; }
    std::optional<long> count() const { return count_; }
    long succeeded() const { return succeeded_; }

private:
    std::optional<long> count_;
    long succeeded_ = 0;
    long taken_ = 0;
    std::set<std::string> written_;  // with --count: at most that many units
};

}  // namespace wxr::station
