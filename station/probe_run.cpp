#include "station/probe_run.h"

#include <algorithm>

#include "device/discovery.h"

namespace wxr::station {

namespace {

constexpr std::size_t kVersionByte = 4;
constexpr std::size_t kModelByte = 5;
constexpr std::size_t kSensorByte = 6;

// What an interface that never identified itself last said, for the detail.
std::string what_it_answered(const Report& status) {
    if (is_busy(status)) return "it stays busy";
    bool nothing = std::all_of(status.begin() + 1, status.end(), [](std::uint8_t b) { return b == 0; });
    return nothing ? "no reply" : "an answer of another kind";
}

}  // namespace

void ProbeRun::run() noexcept {
    const std::uint64_t start = session_.clock().now_ms();
    try {
        outcome_ = probe();
    } catch (const std::exception&) {
        // As in a pass: an interface whose probe runs out of resources is not ours.
        outcome_ = ProbeOutcome::NotOurs;
    }
    ms_ = session_.clock().now_ms() - start;
}

ProbeOutcome ProbeRun::probe() {
    Clock& clock = session_.clock();
    // No other program probes, queries or writes the unit meanwhile.
    const StopRequest* stop = plan_.stop;
    claim_ = UnitClaim::take(session_.channel(), path(), kClaimWaitMs, [stop] { return stop && stop->requested(); });
    if (!claim_) return stop && stop->requested() ? ProbeOutcome::Stopped : ProbeOutcome::InUse;
    for (bool first = true;; first = false) {
        Report status = make_report();
        ProbeAnswer answer = probe_identity(session_.channel(), path(), status);
        if (answer == ProbeAnswer::Identified) {
            identity_ = {status[kVersionByte], status[kModelByte], status[kSensorByte]};
            return plan_.model && identity_.model != *plan_.model ? ProbeOutcome::NotOurs : ProbeOutcome::Identified;
        }
        if (answer == ProbeAnswer::NotOurs && first) return ProbeOutcome::NotOurs;
        const bool gone = answer == ProbeAnswer::NotOurs;
        if (gone || clock.now_ms() + kAnswerRetryMs > plan_.deadline_ms) {
            detail_ = "does not answer as a device of this kind within " + std::to_string(kFirstAnswerMs / 1000) +
                      " s: " + (gone ? "it is gone" : what_it_answered(status));
            return ProbeOutcome::NoAnswer;
        }
        if (plan_.stop && plan_.stop->requested()) return ProbeOutcome::Stopped;
        clock.sleep_ms(kAnswerRetryMs);
    }
}

}  // namespace wxr::station
