// One run of the procedure on one device of possibly many: its own device
// list (the device as entry 0), its own progress counter and messages, so
// that runs side by side share nothing but the channel.
#pragma once

#include <cstdint>
#include <string>

#include "app/cli/image_choice.h"
#include "app/cli/session.h"
#include "upgrade/upgrade.h"

namespace wxr::cli {

enum class RunResult { Success, Failed, Refused, Skipped };

std::string result_name(RunResult result);  // success, failed, refused, skipped

struct RunReport {
    DevicePath path;
    ImageInfo device;       // as the device reported itself before the run
    RunResult result = RunResult::Failed;
    std::uint64_t ms = 0;   // on the session's clock
    std::string detail;     // why refused or skipped
    const ImageStore* image = nullptr;  // what was written; nullptr when nothing was
};

struct RunPlan {
    const ImageStore& store;
    const ImageInfo& image;
    bool skip_same_version = false;
    // Several images: each device gets the one that fits it (store and image: the first).
    const BenchImages* bench = nullptr;
};

class DeviceRun {
public:
    DeviceRun(Session& session, DevicePath path, const RunPlan& plan);

    // Queries, checks and writes the device; on its own thread. Never throws.
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

    void query_check_and_write();

    Session& session_;
    RunPlan plan_;
    DeviceList list_;
    ProgressCounter progress_{0};
    RunReport report_;
};

}  // namespace wxr::cli
