#include "app/cli/device_run.h"

#include "device/device_hold.h"
#include "upgrade/compatibility.h"
#include "upgrade/device_query.h"

namespace wxr::cli {

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
    }
    return "failed";
}

DeviceRun::DeviceRun(Session& session, DevicePath path, const RunPlan& plan) : session_(session), plan_(plan) {
    list_.paths[0] = path;
    list_.count = 1;
    report_.path = std::move(path);
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

void DeviceRun::query_check_and_write() {
    DeviceContext context = session_.context_for(list_);
    DeviceHold hold(context.channel, list_.paths[0]);  // the query and the write: one run
    query_device_info(context, report_.device);
    const ImageStore* store = &plan_.store;
    const ImageInfo* image = &plan_.image;
    if (plan_.bench) {
        const BenchImage* fit = image_for(*plan_.bench, report_.device);
        if (!fit) {
            report_.result = RunResult::Refused;
            report_.detail = no_image_text(report_.device);
            return;
        }
        store = &fit->store;
        image = &fit->info;
    }
    if (std::u16string mismatch = mismatch_text(*image, report_.device); !mismatch.empty()) {
        report_.result = RunResult::Refused;
        report_.detail = to_utf8(kMismatchCaption) + ": " + to_utf8(mismatch);
        return;
    }
    if (plan_.skip_same_version && report_.device.version == image->version) {
        report_.result = RunResult::Skipped;
        report_.detail = "already at version " + std::to_string(image->version);
        return;
    }
    SilentMessages messages;
    report_.image = store;
    UpgradeResult result = upgrade_firmware(context, *store, progress_, messages);
    report_.result = result == UpgradeResult::Succeeded ? RunResult::Success : RunResult::Failed;
}

}  // namespace wxr::cli
