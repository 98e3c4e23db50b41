#include "station/exit_code.h"

namespace wxr::station {

int exit_code_for(const ResultTally& tally, bool stopped) {
    if (tally.of(RunResult::Failed) + tally.of(RunResult::NoAnswer) > 0) return kExitUpgradeFailed;
    if (tally.of(RunResult::Refused) > 0) return kExitMismatch;
    if (tally.of(RunResult::Success) + tally.of(RunResult::Skipped) > 0) return kExitSuccess;
    if (tally.of(RunResult::NotWritten) > 0) return stopped ? kExitStopped : kExitSuccess;
    return kExitNoDevice;
}

}  // namespace wxr::station
