#include "station/visit.h"

#include <stdexcept>

namespace wxr::station {

namespace {

struct Move {
    VisitState from;
    VisitEvent event;
    VisitState to;
};

using S = VisitState;
using E = VisitEvent;

constexpr Move kMoves[] = {
    {S::Seen, E::Probe, S::Probing},
    {S::Seen, E::Gone, S::Departed},
    {S::Probing, E::NotOurs, S::NotOurs},
    {S::Probing, E::Identified, S::Waiting},
    {S::Probing, E::NoAnswer, S::Ended},
    {S::Probing, E::InUse, S::Ended},
    {S::Probing, E::HoldBack, S::Ended},  // stopped while it was asked
    {S::NotOurs, E::Probe, S::Probing},
    {S::NotOurs, E::Gone, S::Departed},
    {S::Waiting, E::Admit, S::Querying},
    {S::Waiting, E::HoldBack, S::Ended},
    {S::Waiting, E::WrittenBefore, S::Ended},
    {S::Querying, E::BeginWrite, S::Writing},
    {S::Querying, E::Finish, S::Ended},
    {S::Writing, E::Finish, S::Ended},
    {S::Ended, E::Gone, S::Departed},
};

}  // namespace

std::optional<VisitState> next_state(VisitState from, VisitEvent event) {
    for (const Move& move : kMoves) {
        if (move.from == from && move.event == event) return move.to;
    }
    return std::nullopt;
}

bool has_run(VisitState state) {
    return state == S::Probing || state == S::Querying || state == S::Writing;
}

std::string state_name(VisitState state) {
    switch (state) {
        case S::Seen: return "seen";
        case S::Probing: return "probing";
        case S::NotOurs: return "not ours";
        case S::Waiting: return "waiting";
        case S::Querying: return "querying";
        case S::Writing: return "writing";
        case S::Ended: return "ended";
        case S::Departed: return "departed";
    }
    return "?";
}

std::string event_name(VisitEvent event) {
    switch (event) {
        case E::Probe: return "probe";
        case E::NotOurs: return "not ours";
        case E::Identified: return "identified";
        case E::NoAnswer: return "no answer";
        case E::InUse: return "in use";
        case E::Admit: return "admit";
        case E::HoldBack: return "hold back";
        case E::BeginWrite: return "begin write";
        case E::Finish: return "finish";
        case E::WrittenBefore: return "written before";
        case E::Gone: return "gone";
    }
    return "?";
}

void Visit::apply(VisitEvent event) {
    std::optional<VisitState> to = next_state(state, event);
    if (!to) {
        throw std::logic_error("visit " + std::to_string(number) + ": no move from " + state_name(state) + " on " +
                               event_name(event));
    }
    state = *to;
}

std::string unit_key(const Visit& visit) {
    if (!visit.identity.serial.empty() && !visit.serial_shared) return "serial " + visit.identity.serial;
    return "visit " + std::to_string(visit.number);
}

}  // namespace wxr::station
