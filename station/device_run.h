// The query and the write of one unit of possibly many: its own device list
// (the unit as entry 0), its own progress counter and messages, so that runs
// side by side share nothing but the channel. The image is chosen here, at
// the query, and carries through the run: progress range, what is written,
// the simulated flash check and the log record.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "station/image_choice.h"
#include "station/run.h"
#include "station/session.h"
#include "station/stop_request.h"
#include "station/visit.h"
#include "upgrade/upgrade.h"

namespace wxr::station {

enum class RunResult {
    Success,
    Failed,
    Refused,
    Skipped,
    NoAnswer,    // looks like ours but never answered as ours: counts as a failure
    NotWritten,  // ours, but --count, Ctrl-C or a failed log kept it from being written
};
inline constexpr std::size_t kRunResults = static_cast<std::size_t>(RunResult::NotWritten) + 1;

// success, failed, refused, skipped, no-answer, not-written
std::string result_name(RunResult result);

// The detail of a unit another program kept for the whole of kClaimWaitMs.
inline constexpr char kInUseText[] =
    "in use by another program (a station, a dialog or another command line): not written";

struct RunReport {
    std::uint64_t visit = 0;  // the station's visit number
    std::string station;      // the station's id: with the visit number, the visit's id
    std::string unit;         // which unit it is (unit_key), across visits
    bool serial_shared = false;    // another unit present reports its serial
    bool location_shared = false;  // ... or its location
    DevicePath path;
    std::string location;   // the USB port, as the system names it; empty when unknown
    std::string serial;     // empty when the unit has none
    ImageInfo device;       // as the device reported itself before the run
    bool answered = false;  // device holds its answer (else it is unknown)
    std::optional<int> version_after;  // the version it holds now, when known
    RunResult result = RunResult::Failed;
    std::uint64_t ms = 0;   // on the session's clock
    std::string detail;     // why refused, skipped, failed or not written; a downgrade said
    std::string dialog_text;  // refused: what the dialog's box says
    std::string phase;      // failed: where it stopped ("query", "chunks", "block check", ...)
    std::int32_t block = -1;  // failed during the transfer: the block being sent
    const BenchImage* image = nullptr;  // the image chosen for the unit; nullptr before the query chose one
    bool written = false;   // the procedure ran: the flash may have changed
    bool recorded = true;   // its record is in the --log (false: the log failed)
};

struct RunPlan {
    // One image: written to every unit, which must fit it. Several: each unit
    // gets the one whose model and sensor it reports, or is refused.
    const BenchImages& images;
    bool skip_same_version = false;
    StopRequest* stop = nullptr;  // a write starts only while no stop is asked for
    // Called on the run's thread before the unit's first write to the device:
    // false keeps it from being written (the log's start record could not be
    // written); detail says why.
    std::function<bool(const RunReport&, std::string& detail)> before_write;
    std::string station;  // the station's id, for the records
};

class DeviceRun final : public Run {
public:
    DeviceRun(Session& session, const Visit& visit, const RunPlan& plan);

    void run() noexcept override;

    std::int32_t progress() const { return progress_.load(); }
    // The counter's value at the end of a clean run of the chosen image (of the first before the choice).
    std::int32_t range() const { return range_.load(); }
    // The image's length in bytes, for the bar (of the first image before the choice).
    std::int32_t bytes() const { return bytes_.load(); }
    // The procedure has begun: the unit is being written.
    bool writing() const { return writing_.load(); }
    // Once writing(): what the unit reported, and the image it gets.
    const ImageInfo& device() const { return report_.device; }
    const BenchImage& image() const { return *report_.image; }
    // Since when the unit has left the run's requests unanswered (the run fails kMaxSilenceMs after).
    std::optional<std::uint64_t> unanswered_since_ms() const { return silence_.unanswered_since_ms(); }
    // Complete once run() has returned.
    const RunReport& report() const { return report_; }
    // Leave the unit now: its requests fail at once from here on (the second
    // Ctrl-C, while it is still being asked, not written). Any thread.
    void abandon() { silence_.cut(); }

private:
    // Each chunk of 16 bytes is one step, as in the dialog's bar.
    static constexpr std::int32_t kBytesPerStep = 16;

    void query_check_and_write();
    const BenchImage* choose_image();
    void show_range(const ImageInfo& image);
    bool may_write();
    void write(const BenchImage& image);
    void fail(std::string phase, std::string detail);
    void end(RunResult result, std::string detail);

    Session& session_;
    RunPlan plan_;
    DeviceList list_;
    SilenceWatch silence_;  // one bound over the query and the write
    ProgressCounter progress_{0};
    std::atomic<std::int32_t> range_{0};
    std::atomic<std::int32_t> bytes_{0};
    std::atomic<bool> writing_{false};
    RunReport report_;
};

}  // namespace wxr::station
