// One unit's visit to the station: from the first look that finds it at a
// path until it is gone from there (or another unit shows at that path).
// Its state moves only by the moves below; the station turns what it sees
// into events and asks the visits what to start.
//
//   seen ──probe──> probing ──identified──> waiting ──admit──> querying ──begin write──> writing
//                     │  ^                     │                  │                        │
//            not ours │  │ probe (again,       │ hold back        │ finish                 │ finish
//                     v  │ in the answer       v                  v                        v
//                  not ours  window)         ended <──────────────┴────────────────────────┘
//   probing ──no answer / in use / hold back──> ended;  gone: from seen, not ours, waiting and ended.
//   waiting ──written before──> ended: the station wrote it before a restart and it has not left since.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/hid_platform.h"

namespace wxr::station {

enum class VisitState {
    Seen,      // found at a look, nothing asked yet
    Probing,   // its descriptor and identity are being asked
    NotOurs,   // no 21-byte feature report (yet: asked again in the answer window)
    Waiting,   // ours, waiting for a slot (--count, Ctrl-C, the log)
    Querying,  // given a slot: version, model and sensor are asked
    Writing,   // the firmware is being written
    Ended,     // has its result while it stays attached
    Departed,  // gone: the visit is over
};

enum class VisitEvent {
    Probe,       // a probe starts
    NotOurs,     // the probe found no feature report of ours, or nothing to open
    Identified,  // the probe's identity reply was ours
    NoAnswer,    // the answer window passed without an identity reply
    InUse,       // another program kept the unit: not asked at all
    Admit,       // a slot is free: the query and the write may run
    HoldBack,    // it ends without being written (count reached, stopped, log failed, left alone)
    BeginWrite,  // the query said it fits: the procedure starts
    Finish,      // the query or the write ended with its result
    // The log says this station wrote it, with the image it would get now,
    // before it restarted, and it has not left since: skipped, not written twice.
    WrittenBefore,
    Gone,        // no longer at its path, or another unit is
};

// The state an event moves to; nullopt when the move is not allowed.
std::optional<VisitState> next_state(VisitState from, VisitEvent event);

std::string state_name(VisitState state);
std::string event_name(VisitEvent event);

// Whether a run of the station's works on the visit in this state: such a
// visit ends only with its run.
bool has_run(VisitState state);

// What the unit says of itself: another location or serial number at the
// same path is another unit.
struct UnitIdentity {
    std::string location;  // empty when unknown
    std::string serial;    // empty when it has none

    friend bool operator==(const UnitIdentity&, const UnitIdentity&) = default;
};

struct Visit {
    std::uint64_t number = 0;  // 1, 2, ... in the order the station saw them
    DevicePath path;
    UnitIdentity identity;
    VisitState state = VisitState::Seen;
    std::uint64_t seen_ms = 0;    // the look that found it: the answer window starts here
    std::uint64_t probed_ms = 0;  // when its last probe started
    // Another unit present at the same time reports its serial: a serial that
    // is not one unit's alone names no unit, and each of their visits counts
    // as a unit of its own.
    bool serial_shared = false;
    // ... or its USB location: only its path names it on the bench.
    bool location_shared = false;

    // Moves by the event; throws std::logic_error for a move not allowed.
    void apply(VisitEvent event);
};

// Which unit a visit is: "serial 0042" when that serial is this unit's
// alone, else "visit 7": a port or a path is no unit, so visits are never
// merged but by a serial.
std::string unit_key(const Visit& visit);

}  // namespace wxr::station
