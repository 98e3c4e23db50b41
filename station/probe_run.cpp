#include "station/probe_run.h"

#include <algorithm>
#include <cstdio>

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
    started_ms_ = session_.clock().now_ms();
    try {
        outcome_ = probe();
    } catch (const std::exception&) {
        // As in a pass: an interface whose probe runs out of resources is not ours.
        outcome_ = ProbeOutcome::NotOurs;
    }
    ms_ = session_.clock().now_ms() - started_ms_;
}

ProbeOutcome ProbeRun::probe() {
    Clock& clock = session_.clock();
    // No other program probes, queries or writes the unit meanwhile.
    const StopRequest* stop = plan_.stop;
    claim_ = UnitClaim::take(session_.channel(), path(), kClaimWaitMs, [stop] { return stop && stop->requested(); });
    if (!claim_) return stop && stop->requested() ? ProbeOutcome::Stopped : ProbeOutcome::InUse;
    for (bool first = true;; first = false) {
        Report status = make_report();
        ProbeAnswer answer = probe_identity(session_.channel(), path(), status, &silence_);
        if (answer == ProbeAnswer::Identified) {
            identity_ = {status[kVersionByte], status[kModelByte], status[kSensorByte]};
            return plan_.model && identity_.model != *plan_.model ? ProbeOutcome::NotOurs : ProbeOutcome::Identified;
        }
        if (answer == ProbeAnswer::NotOurs && first) return ProbeOutcome::NotOurs;
        const bool gone = answer == ProbeAnswer::NotOurs;
        const std::uint64_t now = clock.now_ms();
        if (gone || silence_.over(now) || now + kAnswerRetryMs > plan_.deadline_ms) return no_answer(gone, status);
        if (plan_.stop && plan_.stop->requested()) return ProbeOutcome::Stopped;
        clock.sleep_ms(kAnswerRetryMs);
    }
}

// In the time it was really asked, on the session's clock: a unit whose
// requests hang is asked longer than its answer window.
ProbeOutcome ProbeRun::no_answer(bool gone, const Report& status) {
    char seconds[32];
    const auto asked_ms = session_.clock().now_ms() - started_ms_;
    std::snprintf(seconds, sizeof seconds, "%.2f s", static_cast<double>(asked_ms) / 1000.0);
    detail_ = std::string("does not answer as a device of this kind within ") + seconds + ": " +
              (gone ? "it is gone" : what_it_answered(status));
    return ProbeOutcome::NoAnswer;
}

ImageInfo reply_device(const Identity& reply) {
    ImageInfo device;
    device.model = reply.model;
    device.sensor = reply.sensor;
    device.version = reply.version;
    device.model_name = model_name_of(reply.model);
    device.sensor_name = sensor_name_of(reply.sensor);
    return device;
}

}  // namespace wxr::station
