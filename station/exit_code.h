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

// By each unit's standing result: 0 when every unit was written (or was
// already current), else 4 when any failed or never answered, else 3 when
// any was refused. With only units not written: kExitStopped when a stop
// kept them (else 0: what kept them says so itself); with none at all, 2.
int exit_code_for(const ResultTally& tally, bool stopped);

}  // namespace wxr::station
