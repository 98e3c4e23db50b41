// udev-rule (Linux): the rule for the ids this release knows and for the
// devices found, printed, or with --install written into place.
#include "app/cli/commands.h"
#include "app/cli/output.h"
#include "app/cli/udev_install.h"
#include "app/cli/udev_rule.h"

namespace wxr::cli {

namespace {

// The vendor's ids, from the build (WXR7305_USB_IDS); empty when it names none.
#ifdef WXR7305_USB_IDS
constexpr char kReleaseUsbIds[] = WXR7305_USB_IDS;
#else
constexpr char kReleaseUsbIds[] = "";
#endif

// The ids of the devices discovery lists: another model is not the user's device.
UsbIds ids_found(Session& session) {
    UsbIds ids;
    for (const DevicePath& path : find_devices(session, Options{})) {
        Device device = open_device(session.channel(), path);
        HidAttributes attributes;
        if (device && session.channel().attributes(device, attributes)) {
            ids.emplace(attributes.vendor_id, attributes.product_id);
        }
        close_device(device);
    }
    return ids;
}

}  // namespace

int command_udev_rule(Session& session, const Options& options, Console& console) {
    expect_builtin_image(session);
    const std::uint8_t model = session.expected_model.load();
    const RuleInstaller install = [&](const std::string& name, const std::string& text) {
        if (auto failed = retire_old_rule(kUdevRulesDir, udev_rule_file_name(model), console.out, console.err)) {
            return *failed;
        }
        return install_udev_rule(kUdevRulesDir, name, text, reload_udev_rules, console.out, console.err);
    };
    auto code = emit_udev_rule(model, parse_usb_ids(kReleaseUsbIds).value_or(UsbIds{}),
                               ids_found(session), options.install ? &install : nullptr, console.out, console.err);
    return code ? *code : report_not_found(session, console.err);
}

}  // namespace wxr::cli
