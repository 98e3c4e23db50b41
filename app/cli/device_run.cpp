#include "app/cli/device_run.h"

#include <algorithm>

#include "device/device_hold.h"
#include "device/unit_claim.h"
#include "upgrade/compatibility.h"
#include "upgrade/device_query.h"

namespace wxr::cli {

namespace {

// The command line prints the outcome itself, from the run's report.
class SilentMessages final : public UpgradeMessages {
public:
    void show_upgrade_message(UpgradeResult, const std::u16string&) override {}
};

constexpr std::uint8_t kBusyFlag = 0x80;

// What an interface that never identified itself last said, for the detail.
std::string what_it_answered(const Report& status) {
    if (status[1] & kBusyFlag) return "it stays busy";
    bool nothing = std::all_of(status.begin() + 1, status.end(), [](std::uint8_t b) { return b == 0; });
    return nothing ? "no reply" : "an answer of another kind";
}

}  // namespace

std::string result_name(RunResult result) {
    switch (result) {
        case RunResult::Success: return "success";
        case RunResult::Failed: return "failed";
        case RunResult::Refused: return "refused";
        case RunResult::Skipped: return "skipped";
        case RunResult::NoAnswer: return "no-answer";
        case RunResult::NotOurs: return "not-ours";
        case RunResult::NotStarted: return "not-started";
    }
    return "failed";
}

bool is_reported(RunResult result) { return result != RunResult::NotOurs && result != RunResult::NotStarted; }

DeviceRun::DeviceRun(Session& session, DevicePath path, const RunPlan& plan) : session_(session), plan_(plan) {
    list_.paths[0] = path;
    list_.count = 1;
    report_.path = std::move(path);
}

void DeviceRun::run() noexcept {
    std::uint64_t start = session_.clock().now_ms();
    try {
        report_.location = session_.channel().location(report_.path);
        report_.serial = session_.channel().serial_number(report_.path);
        probe_query_check_and_write();
    } catch (const std::exception& e) {
        report_.result = RunResult::Failed;
        report_.detail = e.what();
    }
    report_.ms = session_.clock().now_ms() - start;
}

void DeviceRun::fail(std::string phase, std::string detail) {
    report_.result = RunResult::Failed;
    report_.phase = std::move(phase);
    report_.detail = std::move(detail);
}

// Asked again until it answers, the bound passes or Ctrl-C: a unit just
// plugged in may still be starting.
bool DeviceRun::identified() {
    const std::uint64_t start = session_.clock().now_ms();
    for (bool first = true;; first = false) {
        Report status = make_report();
        ProbeAnswer answer = probe_identity(session_.channel(), report_.path, status);
        if (answer == ProbeAnswer::Identified) return true;
        if (answer == ProbeAnswer::NotOurs && first) {
            report_.result = RunResult::NotOurs;
            return false;
        }
        bool stopped = plan_.gate && plan_.gate->stopped();
        bool gone = answer == ProbeAnswer::NotOurs;
        if (stopped || gone || session_.clock().now_ms() - start >= kFirstAnswerMs) {
            report_.result = stopped ? RunResult::NotStarted : RunResult::NoAnswer;
            report_.phase = "probe";
            report_.detail = "does not answer as a device of this kind within " +
                             std::to_string(kFirstAnswerMs / 1000) + " s: " +
                             (gone ? "it is gone" : what_it_answered(status));
            return false;
        }
        session_.clock().sleep_ms(kAnswerRetryMs);
    }
}

void DeviceRun::probe_query_check_and_write() {
    // No other program probes, queries or writes the unit until this run ends.
    auto stopped = [this] { return plan_.gate && plan_.gate->stopped(); };
    UnitClaim claim = UnitClaim::take(session_.channel(), list_.paths[0], kClaimWaitMs, stopped);
    if (!claim) {
        if (stopped()) report_.result = RunResult::NotStarted;
        else fail("claim", kInUseText);
        return;
    }
    // The probe, the query and the write: one run, one descriptor kept.
    DeviceHold hold(session_.channel(), list_.paths[0]);
    if (plan_.probe && !identified()) return;
    DeviceContext context = session_.context_for(list_);
    report_.answered = query_device_info(context, report_.device);
    if (!report_.answered) return fail("query", "no answer to the query: the device is gone or stopped answering");
    const ImageStore* store = &plan_.store;
    const ImageInfo* image = &plan_.image;
    if (plan_.bench) {
        const BenchImage* fit = image_for(*plan_.bench, report_.device);
        if (!fit) {
            report_.result = RunResult::Refused;
            report_.detail = no_image_text(report_.device);
            report_.version_after = report_.device.version;
            return;
        }
        store = &fit->store;
        image = &fit->info;
    }
    if (std::u16string mismatch = mismatch_text(*image, report_.device); !mismatch.empty()) {
        report_.result = RunResult::Refused;
        report_.detail = to_utf8(kMismatchCaption) + ": " + to_utf8(mismatch);
        report_.version_after = report_.device.version;
        return;
    }
    if (plan_.skip_same_version && report_.device.version == image->version) {
        report_.result = RunResult::Skipped;
        report_.detail = "already at version " + std::to_string(image->version);
        report_.version_after = report_.device.version;
        return;
    }
    if (plan_.gate && !plan_.gate->enter()) {
        report_.result = RunResult::NotStarted;
        return;
    }
    write(*store, *image);
}

void DeviceRun::write(const ImageStore& store, const ImageInfo& image) {
    DeviceContext context = session_.context_for(list_);
    SilentMessages messages;
    UpgradeFailure failure;
    UpgradeResult result = UpgradeResult::Failed;
    report_.image = &store;
    try {
        result = upgrade_firmware(context, store, progress_, messages, &failure);
    } catch (...) {
        if (plan_.gate) plan_.gate->leave(false);
        throw;
    }
    bool succeeded = result == UpgradeResult::Succeeded;
    if (plan_.gate) plan_.gate->leave(succeeded);
    if (result == UpgradeResult::NoInfoBlock) return fail("start", "the image has no info block");
    if (succeeded) {
        report_.result = RunResult::Success;
        report_.version_after = image.version;
        return;
    }
    report_.block = failure.block;
    std::string where = failure.block >= 0 ? "stopped at block " + std::to_string(failure.block) + " of " +
                                                 std::to_string(failure.blocks) + " (" + phase_name(failure.phase) + ")"
                                           : "stopped at the " + phase_name(failure.phase);
    fail(phase_name(failure.phase), where + ": " + failure.reason);
}

}  // namespace wxr::cli
