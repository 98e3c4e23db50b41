#include "app/cli/cli.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <set>
#include <stdexcept>
#include <thread>
#include <variant>

#include "app/cli/progress.h"
#include "app/cli/session.h"
#include "device/sim/sim_spec.h"
#include "image/image_info.h"
#include "upgrade/compatibility.h"
#include "upgrade/device_query.h"
#include "upgrade/upgrade.h"

namespace wxr::cli {

namespace {

constexpr char kVersionText[] = "wxr7305 1.0.0.1";
// The end report carries the image length in 16 bits.
constexpr std::int32_t kMaxImageBytes = 65535;
// Sorts before 73-seat-late.rules, which turns the uaccess tag into access.
constexpr char kUdevRuleFile[] = "70-wxr7305.rules";

struct Options {
    std::string command;
    std::vector<std::string> operands;
    std::optional<std::string> image;
    SessionOptions session;
    bool help = false;
    bool version = false;
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string help_text() {
    return "Usage: wxr7305 COMMAND [OPTIONS]\n"
           "Writes the built-in firmware into an attached device over HID feature reports.\n"
           "\n"
           "Commands:\n"
           "  info [FILE]      print the info block of FILE, or of the built-in firmware\n"
           "  list             find the attached devices and print each one's path, version,\n"
           "                   model and sensor\n"
           "  upgrade          what \"Check and Upgrade\" does: find the device, check that it\n"
           "                   fits the firmware, write it with a progress bar\n"
           "  udev-rule        (Linux, as root) print a udev rule that lets logged-in users\n"
           "                   reach the devices found, for /etc/udev/rules.d/70-wxr7305.rules\n"
           "\n"
           "Options:\n"
           "  --image FILE     (upgrade) write FILE instead of the built-in firmware\n"
           "  --simulate[=SPEC]  use simulated devices instead of real HID; SPEC is a\n"
           "                   comma-separated list of these keys:\n" +
           sim::sim_spec_help() +
           "  --virtual-time   run the simulation on a virtual clock (pauses take no time)\n"
           "  --trace FILE     write every device operation to FILE\n"
           "  --shift          list devices of any model, as holding Shift does in the dialog\n"
           "  --help           show this text\n"
           "  --version        show the version\n"
           "\n"
           "Exit codes: 0 success, 1 bad usage or unreadable file, 2 no device,\n"
           "3 device does not fit the firmware, 4 upgrade failed.\n";
}

std::string option_value(const std::vector<std::string>& args, std::size_t& i, const std::string& name) {
    if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
    return args[++i];
}

void simulate(Options& options, std::string_view spec) {
    auto parsed = sim::parse_sim_spec(spec);
    if (auto* error = std::get_if<sim::SimSpecError>(&parsed)) throw UsageError(error->message);
    options.session.simulated = std::get<std::vector<sim::SimInterfaceConfig>>(std::move(parsed));
}

Options parse_options(const std::vector<std::string>& args) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--simulate") {
            simulate(options, "");
        } else if (arg.starts_with("--simulate=")) {
            simulate(options, std::string_view(arg).substr(11));
        } else if (arg == "--virtual-time") {
            options.session.virtual_time = true;
        } else if (arg == "--shift") {
            options.session.shift = true;
        } else if (arg == "--trace") {
            options.session.trace_file = option_value(args, i, arg);
        } else if (arg == "--image") {
            options.image = option_value(args, i, arg);
        } else if (arg.starts_with("-")) {
            throw UsageError("unknown option " + arg);
        } else if (options.command.empty()) {
            options.command = arg;
        } else {
            options.operands.push_back(arg);
        }
    }
    return options;
}

std::string model_text(const ImageInfo& info) {
    return info.model_name.empty() ? "model " + std::to_string(info.model) : to_utf8(info.model_name);
}

std::string sensor_text(const ImageInfo& info) {
    return info.sensor_name.empty() ? "sensor " + std::to_string(info.sensor) : to_utf8(info.sensor_name);
}

// "Device not found!!", and why, when permissions are the reason.
int report_not_found(Session& session, std::ostream& err) {
    err << to_utf8(kDeviceNotFoundText) << "\n";
    std::size_t locked = session.hid().inaccessible_interfaces();
    if (locked == 0) return kExitNoDevice;
    err << locked << " HID interface" << (locked == 1 ? " was" : "s were")
        << " found but could not be opened: permission denied.\n"
           "To let logged-in users reach the device, run once:\n"
           "  sudo wxr7305 udev-rule | sudo tee /etc/udev/rules.d/" << kUdevRuleFile << "\n"
           "  sudo udevadm control --reload-rules && sudo udevadm trigger\n"
           "or run this command as root.\n";
    return kExitNoDevice;
}

// One discovery pass for devices of the built-in firmware's model.
std::int32_t discover_for_builtin_image(Session& session) {
    load_embedded_image(session.store);
    ImageInfo image;
    parse_image_info(session.store.bytes, session.store.length, image);
    session.expected_model = image.model;
    DeviceContext context = session.context();
    return discover_devices(context);
}

// A rule per vendor and product id of the devices found: TAG+="uaccess" gives
// the logged-in user access to their hidraw nodes.
int command_udev_rule(Session& session, std::ostream& out, std::ostream& err) {
    std::int32_t count = discover_for_builtin_image(session);
    std::set<std::pair<std::uint16_t, std::uint16_t>> ids;
    for (std::int32_t i = 0; i < count; ++i) {
        Device device = open_device(session.channel(), session.list.paths[static_cast<std::size_t>(i)]);
        HidAttributes attributes;
        if (device && session.channel().attributes(device, attributes)) {
            ids.emplace(attributes.vendor_id, attributes.product_id);
        }
        close_device(device);
    }
    if (ids.empty()) return report_not_found(session, err);
    out << "# " << kUdevRuleFile << ": lets the logged-in user reach these devices' hidraw nodes.\n";
    for (auto [vendor, product] : ids) {
        char line[128];
        std::snprintf(line, sizeof line,
                      "KERNEL==\"hidraw*\", ATTRS{idVendor}==\"%04x\", ATTRS{idProduct}==\"%04x\", "
                      "TAG+=\"uaccess\"\n",
                      vendor, product);
        out << line;
    }
    err << "Save this as /etc/udev/rules.d/" << kUdevRuleFile
        << ", then run 'udevadm control --reload-rules && udevadm trigger' or replug the device.\n";
    return kExitSuccess;
}

int command_info(const Options& options, std::ostream& out, std::ostream& err) {
    if (options.operands.size() > 1) throw UsageError("info takes at most one FILE");
    ImageInfo info;
    if (options.operands.empty()) {
        ImageStore store;
        load_embedded_image(store);
        if (parse_image_info(store.bytes, store.length, info) != 1) {
            err << "wxr7305: the built-in firmware has no info block\n";
            return kExitOther;
        }
    } else if (read_image_file_info(file_path_from_utf8(options.operands[0]), info) != 1) {
        err << "wxr7305: " << options.operands[0] << ": cannot be read or holds no info block\n";
        return kExitOther;
    }
    out << to_utf8(format_image_info(info)) << "\n";
    return kExitSuccess;
}

int command_list(Session& session, std::ostream& out, std::ostream& err) {
    std::int32_t count = discover_for_builtin_image(session);
    for (std::int32_t i = 0; i < count; ++i) {
        const DevicePath& path = session.list.paths[static_cast<std::size_t>(i)];
        ImageInfo device;
        query_device_at(session.channel(), path, device);
        out << to_utf8(path) << "  version " << int(device.version) << "  " << model_text(device) << "  "
            << sensor_text(device) << "\n";
    }
    return count > 0 ? kExitSuccess : report_not_found(session, err);
}

// The image to write: the built-in one, or --image after the same checks.
bool load_image(Session& session, const Options& options, ImageInfo& info, std::ostream& err) {
    if (!options.image) {
        load_embedded_image(session.store);
        return parse_image_info(session.store.bytes, session.store.length, info) == 1;
    }
    std::int32_t length = read_file_to_buffer(session.store.bytes, kImageStoreCapacity, file_path_from_utf8(*options.image));
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

int command_upgrade(Session& session, const Options& options, std::ostream& out, std::ostream& err,
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

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal) {
    try {
        Options options = parse_options(args);
        if (options.help) {
            out << help_text();
            return kExitSuccess;
        }
        if (options.version) {
            out << kVersionText << "\n";
            return kExitSuccess;
        }
        if (options.command == "info") return command_info(options, out, err);
        if (options.command != "list" && options.command != "upgrade" && options.command != "udev-rule") {
            throw UsageError(options.command.empty() ? "no command given" : "unknown command " + options.command);
        }
        if (!options.operands.empty()) throw UsageError(options.command + " takes no operands");
        Session session(options.session);
        if (options.command == "list") return command_list(session, out, err);
        if (options.command == "udev-rule") return command_udev_rule(session, out, err);
        int code = command_upgrade(session, options, out, err, terminal);
        report_simulation(session, out);
        return code;
    } catch (const UsageError& e) {
        err << "wxr7305: " << e.what() << "\nTry 'wxr7305 --help'.\n";
    } catch (const std::exception& e) {
        err << "wxr7305: " << e.what() << "\n";
    }
    return kExitOther;
}

}  // namespace wxr::cli
