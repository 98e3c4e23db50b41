// One run of the procedure on one device of possibly many: its own device
// list (the device as entry 0), its own progress counter and messages, so
// that runs side by side share nothing but the channel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/cli/image_choice.h"
#include "app/cli/session.h"
#include "app/cli/write_gate.h"
#include "upgrade/upgrade.h"

namespace wxr::cli {

enum class RunResult {
    Success,
    Failed,
    Refused,
    Skipped,
    NoAnswer,    // looks like ours but never answered as ours: counts as a failure
    NotOurs,     // no 21-byte feature report: not reported
    NotStarted,  // ready, but Ctrl-C, --count or a failed log kept it from being written: not reported
};

// success, failed, refused, skipped, no-answer
std::string result_name(RunResult result);
// Whether the result is shown and counted.
bool is_reported(RunResult result);

// A unit just plugged in may not answer its first probes: it is asked again
// for this long (on the session's clock) before it is reported.
inline constexpr std::uint32_t kFirstAnswerMs = 3000;
// Between those probes.
inline constexpr std::uint32_t kAnswerRetryMs = 250;

// The detail of a unit another program kept for the whole of kClaimWaitMs.
inline constexpr char kInUseText[] =
    "in use by another program (a station, a dialog or another command line): not written";

struct RunReport {
    DevicePath path;
    std::string location;   // the USB port, as the system names it; empty when unknown
    std::string serial;     // empty when the unit has none
    ImageInfo device;       // as the device reported itself before the run
    bool answered = false;  // device holds its answer (else it is unknown)
    std::optional<int> version_after;  // the version it holds now, when known
    RunResult result = RunResult::Failed;
    std::uint64_t ms = 0;   // on the session's clock
    std::string detail;     // why refused, skipped or failed
    std::string phase;      // failed: where it stopped ("query", "chunks", "block check", ...)
    std::int32_t block = -1;  // failed during the transfer: the block being sent
    const ImageStore* image = nullptr;  // what was written; nullptr when nothing was
};

struct RunPlan {
    const ImageStore& store;
    const ImageInfo& image;
    bool skip_same_version = false;
    // Probe the interface first (any model): --all, --watch and --device.
    // A path from a discovery pass is already probed.
    bool probe = false;
    // Asked before writing; nullptr: always write.
    WriteGate* gate = nullptr;
    // Several images: each device gets the one that fits it (store and image: the first).
    const BenchImages* bench = nullptr;
};

class DeviceRun {
public:
    DeviceRun(Session& session, DevicePath path, const RunPlan& plan);

    // Probes, queries, checks and writes the device; on its own thread. Never throws.
    void run() noexcept;

    std::int32_t progress() const { return progress_.load(); }
    // The counter's value at the end of a clean run.
    std::int32_t range() const { return plan_.image.size / kBytesPerStep + 1; }
    const DevicePath& path() const { return report_.path; }
    // Complete once run() has returned.
    const RunReport& report() const { return report_; }

private:
    // Each chunk of 16 bytes is one step, as in the dialog's bar.
    static constexpr std::int32_t kBytesPerStep = 16;

    void probe_query_check_and_write();
    bool identified();
    void write(const ImageStore& store, const ImageInfo& image);
    void fail(std::string phase, std::string detail);

    Session& session_;
    RunPlan plan_;
    DeviceList list_;
    ProgressCounter progress_{0};
    RunReport report_;
};

}  // namespace wxr::cli
