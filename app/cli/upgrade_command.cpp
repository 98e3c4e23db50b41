#include <algorithm>
#include <ostream>

#include "app/cli/cli.h"
#include "app/cli/commands.h"
#include "app/cli/output.h"
#include "app/cli/progress.h"
#include "upgrade/compatibility.h"
#include "upgrade/device_query.h"
#include "upgrade/upgrade.h"

namespace wxr::cli {

namespace {

// The end report carries the image length in 16 bits.
constexpr std::int32_t kMaxImageBytes = 65535;

// The image to write: the built-in one, or --image after the same checks.
bool load_image(Session& session, const Options& options, ImageInfo& info, std::ostream& err) {
    if (!options.image) {
        load_embedded_image(session.store);
        return parse_image_info(session.store.bytes, session.store.length, info) == 1;
    }
    std::int32_t length = read_file_to_buffer(session.store.bytes, kImageStoreCapacity, from_utf8(*options.image));
    if (length <= 0 || length > kMaxImageBytes) {
        err << "wxr7305: " << *options.image << ": missing, empty or longer than " << kMaxImageBytes << " bytes\n";
        session.store.length = 0;
        return false;
    }
    session.store.length = length;
    if (parse_image_info(session.store.bytes, length, info) == 1) return true;
    err << "wxr7305: " << *options.image << ": holds no info block\n";
    return false;
}

// After a simulated run, say what the simulated device holds.
void report_simulation(Session& session, std::ostream& out) {
    sim::SimHid* sim = session.simulation();
    if (!sim || sim->interface_count() == 0 || session.store.length <= 0) return;
    sim::DeviceModel model = sim->model(0);
    if (!model.end_report()) return;
    bool equal = std::equal(session.store.bytes.begin(), session.store.bytes.begin() + session.store.length,
                            model.flash().begin());
    out << "Simulated device: flash " << (equal ? "equals" : "differs from") << " the image; end report "
        << (model.end_report()->matches_flash ? "matches" : "does not match") << " the flash.\n";
}

int upgrade_listed_device(Session& session, const Options& options, std::ostream& out, std::ostream& err,
                          bool terminal) {
    ImageInfo image;
    if (!load_image(session, options, image, err)) {
        if (!options.image) err << "wxr7305: the built-in firmware has no info block\n";
        return kExitOther;
    }
    session.expected_model = image.model;
    DeviceContext context = session.context();
    if (discover_devices(context) <= 0) return report_not_found(session, err);
    ImageInfo device;
    query_device_info(context, device);
    if (std::u16string mismatch = mismatch_text(image, device); !mismatch.empty()) {
        err << to_utf8(kMismatchCaption) << ": " << to_utf8(mismatch) << "\n";
        return kExitMismatch;
    }
    UpgradeResult result = run_upgrade_with_progress(context, session.store, image.size / 16 + 1, out, terminal);
    if (result == UpgradeResult::Succeeded) {
        out << to_utf8(kUpgradeSuccessText) << "\n";
        return kExitSuccess;
    }
    err << to_utf8(kUpgradeFailText) << "\n";
    return result == UpgradeResult::Failed ? kExitUpgradeFailed : kExitOther;
}

}  // namespace

int command_upgrade(Session& session, const Options& options, std::ostream& out, std::ostream& err,
                    bool terminal) {
    int code = upgrade_listed_device(session, options, out, err, terminal);
    report_simulation(session, out);
    return code;
}

}  // namespace wxr::cli
