#include "station/device_run.h"

#include "station/unit_text.h"
#include "upgrade/compatibility.h"
#include "upgrade/device_query.h"

namespace wxr::station {

namespace {

// The command line prints the outcome itself, from the run's report.
class SilentMessages final : public UpgradeMessages {
public:
    void show_upgrade_message(UpgradeResult, const std::u16string&) override {}
};

}  // namespace

std::string result_name(RunResult result) {
    switch (result) {
        case RunResult::Success: return "success";
        case RunResult::Failed: return "failed";
        case RunResult::Refused: return "refused";
        case RunResult::Skipped: return "skipped";
        case RunResult::NoAnswer: return "no-answer";
        case RunResult::NotWritten: return "not-written";
    }
    return "failed";
}

DeviceRun::DeviceRun(Session& session, const Visit& visit, const RunPlan& plan)
    : Run(visit.number, visit.path), session_(session), plan_(plan) {
    list_.paths[0] = visit.path;
    list_.count = 1;
    report_.visit = visit.number;
    report_.station = plan.station;
    report_.unit = unit_key(visit);
    report_.serial_shared = visit.serial_shared;
    report_.location_shared = visit.location_shared;
    report_.path = visit.path;
    report_.location = visit.identity.location;
    report_.serial = visit.identity.serial;
    // Until the query chooses: right for a bench of one image.
    show_range(plan.images.front()->info);
}

void DeviceRun::show_range(const ImageInfo& image) {
    bytes_ = static_cast<std::int32_t>(image.size);
    range_ = static_cast<std::int32_t>(image.size / kBytesPerStep + 1);
}

void DeviceRun::run() noexcept {
    std::uint64_t start = session_.clock().now_ms();
    try {
        query_check_and_write();
    } catch (const std::exception& e) {
        report_.result = RunResult::Failed;
        report_.detail = e.what();
    }
    report_.ms = session_.clock().now_ms() - start;
}

void DeviceRun::fail(std::string phase, std::string detail) {
    report_.phase = std::move(phase);
    end(RunResult::Failed, std::move(detail));
}

void DeviceRun::end(RunResult result, std::string detail) {
    report_.result = result;
    report_.detail = std::move(detail);
    if (result != RunResult::Failed && result != RunResult::Success) report_.version_after = report_.device.version;
}

void DeviceRun::query_check_and_write() {
    DeviceContext context = session_.context_for(list_);
    context.silence = &silence_;
    report_.answered = query_device_info(context, report_.device);
    if (!report_.answered) return fail("query", "no answer to the query: the device is gone or stopped answering");
    const BenchImage* image = choose_image();
    if (!image) return;
    show_range(image->info);
    if (plan_.skip_same_version && report_.device.version == image->info.version) {
        return end(RunResult::Skipped, "already at version " + std::to_string(image->info.version));
    }
    if (may_write()) write(*image);
}

// One image: the dialog's check and words. Several: the one that fits, if any.
const BenchImage* DeviceRun::choose_image() {
    if (plan_.images.size() > 1) {
        report_.image = image_for(plan_.images, report_.device);
        if (!report_.image) end(RunResult::Refused, no_image_text(report_.device));
        return report_.image;
    }
    const BenchImage& only = *plan_.images.front();
    if (std::u16string mismatch = mismatch_text(only.info, report_.device); !mismatch.empty()) {
        report_.dialog_text = to_utf8(kMismatchCaption) + ": " + to_utf8(mismatch);
        const std::string trimmed = report_.dialog_text.substr(0, report_.dialog_text.find_last_not_of(' ') + 1);
        end(RunResult::Refused, mismatch_words(only.info, report_.device) + "; " + trimmed);
        return nullptr;
    }
    return report_.image = &only;
}

// Not once Ctrl-C came, nor without the log's start record.
bool DeviceRun::may_write() {
    if (plan_.stop && !plan_.stop->begin_write()) {
        end(RunResult::NotWritten, "stopped before its write began");
        return false;
    }
    std::string why;
    if (!plan_.before_write || plan_.before_write(report_, why)) return true;
    if (plan_.stop) plan_.stop->end_write();
    end(RunResult::NotWritten, why);
    return false;
}

void DeviceRun::write(const BenchImage& image) {
    DeviceContext context = session_.context_for(list_);
    context.silence = &silence_;
    SilentMessages messages;
    UpgradeFailure failure;
    UpgradeResult result = UpgradeResult::Failed;
    report_.written = true;
    writing_ = true;
    try {
        result = upgrade_firmware(context, image.store, progress_, messages, &failure);
    } catch (...) {
        if (plan_.stop) plan_.stop->end_write();
        throw;
    }
    if (plan_.stop) plan_.stop->end_write();
    if (result == UpgradeResult::NoInfoBlock) return fail("start", "the image has no info block");
    if (result == UpgradeResult::Succeeded) {
        report_.result = RunResult::Success;
        report_.version_after = image.info.version;
        report_.detail = downgrade_words(report_.device.version, image.info.version);
        return;
    }
    report_.block = failure.block;
    std::string where = failure.block >= 0 ? "stopped at block " + std::to_string(failure.block) + " of " +
                                                 std::to_string(failure.blocks) + " (" + phase_name(failure.phase) + ")"
                                           : "stopped at the " + phase_name(failure.phase);
    fail(phase_name(failure.phase), where + ": " + failure.reason);
}

}  // namespace wxr::station
