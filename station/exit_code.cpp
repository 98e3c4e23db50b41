#include "station/exit_code.h"

namespace wxr::station {

int exit_code_for(const ResultTally& tally, bool stopped, bool watching) {
    if (tally.of(RunResult::Failed) + tally.of(RunResult::NoAnswer) > 0) return kExitUpgradeFailed;
    if (tally.of(RunResult::Refused) > 0) return kExitMismatch;
    const bool held_back = tally.of(RunResult::NotWritten) > 0;
    if (held_back && stopped && !watching) return kExitStopped;
    if (tally.of(RunResult::Success) + tally.of(RunResult::Skipped) > 0 || held_back) return kExitSuccess;
    return kExitNoDevice;
}

}  // namespace wxr::station
