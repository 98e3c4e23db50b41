// How a command's end is told to its caller: one code for the whole run, by
// each unit's standing result.
#pragma once

#include "station/unit_tally.h"

namespace wxr::station {

enum ExitCode : int {
    kExitSuccess = 0,
    kExitOther = 1,  // bad usage, unreadable file, trace, log or output write error
    kExitNoDevice = 2,
    kExitMismatch = 3,
    kExitUpgradeFailed = 4,
    // Ctrl-C (or a stop signal) came before any unit was dealt with: the
    // shell's code for a program interrupted so.
    kExitStopped = 130,
};

// Of two outcomes, the one the exit code must tell.
inline int worse(int a, int b) { return a > b ? a : b; }

// By each unit's standing result: 4 when any failed or never answered, else
// 3 when any was refused; else, when a stop (Ctrl-C, SIGTERM) left a unit not
// written, kExitStopped, so that a script never reads "all done"; else 0 when
// a unit was written (or was already current); with no unit at all, 2.
// A station (watching) ends by a stop as a matter of course: units it left
// not written then change nothing.
int exit_code_for(const ResultTally& tally, bool stopped, bool watching);

}  // namespace wxr::station
