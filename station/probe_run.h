// Whether an interface is a unit of ours: its feature report and its answer
// to the identification. A unit just plugged in may not answer its first
// probes, so it is asked again until its answer window closes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "station/run.h"
#include "station/session.h"
#include "station/stop_request.h"
#include "device/report.h"
#include "image/image_info.h"
#include "device/silence_watch.h"
#include "device/unit_claim.h"

namespace wxr::station {

// How long a unit just plugged in is asked again before it is reported as
// never answering, counted from the look that found it (on the session's clock).
inline constexpr std::uint32_t kFirstAnswerMs = 3000;
// Between those probes.
inline constexpr std::uint32_t kAnswerRetryMs = 250;

enum class ProbeOutcome {
    NotOurs,     // no 21-byte feature report, or nothing to open; or, when a model is asked for, another model
    Identified,  // answered as ours
    NoAnswer,    // has our report but did not answer as ours within its window
    Stopped,     // Ctrl-C came while it was still asked
    InUse,       // another program kept the unit for the whole claim wait
};

struct ProbePlan {
    std::uint64_t deadline_ms = 0;      // no try starts after this; one try when it has passed
    std::optional<std::uint8_t> model;  // identified only with this model (the dialog's pass)
    const StopRequest* stop = nullptr;
};

// What the identification reply says of the unit.
struct Identity {
    std::uint8_t version = 0;
    std::uint8_t model = 0;
    std::uint8_t sensor = 0;
};

// The reply as a device's own record: model, sensor, version and their names.
ImageInfo reply_device(const Identity& reply);

class ProbeRun final : public Run {
public:
    ProbeRun(Session& session, std::uint64_t visit, DevicePath path, const ProbePlan& plan)
        : Run(visit, std::move(path)), session_(session), plan_(plan) {}

    void run() noexcept override;

    // Complete once run() has returned.
    ProbeOutcome outcome() const { return outcome_; }
    const Identity& identity() const { return identity_; }
    std::string detail() const { return detail_; }  // why it never answered, and for how long it was asked
    std::uint64_t ms() const { return ms_; }
    // The claim on the unit, taken before the probe's first request: a unit
    // identified keeps it until its write has ended (see UnitClaim).
    UnitClaim take_claim() { return std::move(claim_); }

private:
    ProbeOutcome probe();
    ProbeOutcome no_answer(bool gone, const Report& status);

    Session& session_;
    ProbePlan plan_;
    ProbeOutcome outcome_ = ProbeOutcome::NotOurs;
    Identity identity_;
    UnitClaim claim_;
    std::string detail_;
    std::uint64_t started_ms_ = 0;
    std::uint64_t ms_ = 0;
    // The whole probe, every request of every try, is under the one silence
    // bound (kMaxSilenceMs): a unit whose requests hang (usbcore waits 5 s for
    // each) is no-answer once it has left them unanswered that long, at most
    // one request past it, however long its answer window still is.
    SilenceWatch silence_;
};

}  // namespace wxr::station
