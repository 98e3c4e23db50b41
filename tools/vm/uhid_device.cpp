// A HID device made in the kernel through /dev/uhid, answering feature
// report 5 with the simulated device's firmware logic. It runs inside the
// test virtual machine, so the whole kernel HID stack (hid-generic, hidraw)
// lies between the tool and this device.
//
//   uhid-device --name NAME [--feature-bytes 20] [--unplug-after-sets N]
//               [--expect IMAGE] [--model M] [--sensor S] [--version V]
//               [--fail-block-check BLOCK:TIMES] [--refuse-block-report BLOCK:TIMES]
//
// With --expect the device takes the image's model and sensor and, on exit,
// compares its flash with the image.
//
// Prints "NAME: started" once the kernel has bound a driver, and on SIGTERM
// (or after unplugging itself) a summary line:
//   NAME: gets=G sets=S identifications=I blocks=B end=yes|no image=match|differs|none unplugged=yes|no
//         checks=C block-reports=R
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "device/sim/device_model.h"
#include "image/image_info.h"
#include "tools/vm/uhid_descriptors.h"

namespace {

using wxr::sim::DeviceModel;

constexpr std::uint32_t kVendorId = 0x1209;
constexpr std::uint32_t kProductId = 0x7305;
constexpr std::uint32_t kDeviceVersion = 0x0100;
constexpr std::uint16_t kErrIo = EIO;

struct Options {
    std::string name = "wxr-device";
    int feature_bytes = 20;
    std::optional<long> unplug_after_sets;
    std::string expect;
    std::vector<std::uint8_t> image;  // the --expect file
    std::optional<std::uint8_t> model;
    std::optional<std::uint8_t> sensor;
    std::optional<std::uint8_t> version;
    wxr::sim::ModelFaults faults;
};

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: uhid-device --name NAME [--feature-bytes 20|21] [--unplug-after-sets N]\n"
                 "                   [--expect IMAGE] [--model M] [--sensor S] [--version V]\n"
                 "                   [--fail-block-check BLOCK:TIMES] [--refuse-block-report BLOCK:TIMES]\n");
    std::exit(2);
}

Options parse_options(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) usage();
        std::string value = argv[++i];
        auto number = [&] { return std::strtol(value.c_str(), nullptr, 0); };
        // BLOCK:TIMES, a fault of the simulated firmware.
        auto fault = [&](std::map<int, int>& faults) {
            char* rest = nullptr;
            long block = std::strtol(value.c_str(), &rest, 0);
            if (*rest != ':') usage();
            faults[static_cast<int>(block)] = static_cast<int>(std::strtol(rest + 1, nullptr, 0));
        };
        if (arg == "--name") o.name = value;
        else if (arg == "--feature-bytes") o.feature_bytes = static_cast<int>(number());
        else if (arg == "--unplug-after-sets") o.unplug_after_sets = number();
        else if (arg == "--expect") o.expect = value;
        else if (arg == "--model") o.model = static_cast<std::uint8_t>(number());
        else if (arg == "--sensor") o.sensor = static_cast<std::uint8_t>(number());
        else if (arg == "--version") o.version = static_cast<std::uint8_t>(number());
        else if (arg == "--fail-block-check") fault(o.faults.fail_block_check);
        else if (arg == "--refuse-block-report") fault(o.faults.refuse_block_report);
        else usage();
    }
    if (o.feature_bytes != 20 && o.feature_bytes != 21) usage();
    return o;
}

bool read_file(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad() && !bytes.empty() && bytes.size() <= wxr::sim::kFlashBytes;
}

// A device of the expected image's own model and sensor, so that whatever
// firmware the tool embeds fits it; options override.
wxr::sim::Identity identity_for(const Options& o) {
    wxr::sim::Identity identity;
    wxr::ImageInfo info;
    if (!o.image.empty() &&
        wxr::parse_image_info(o.image, static_cast<std::int32_t>(o.image.size()), info) == 1) {
        identity.model = info.model;
        identity.sensor = info.sensor;
    }
    identity.model = o.model.value_or(identity.model);
    identity.sensor = o.sensor.value_or(identity.sensor);
    identity.version = o.version.value_or(identity.version);
    return identity;
}

class UhidDevice {
public:
    UhidDevice(int fd, Options options)
        : fd_(fd), options_(std::move(options)), model_(identity_for(options_), options_.faults) {}

    bool create();
    // Serves the kernel's requests until a signal arrives or the device unplugs itself.
    void run(int signal_fd);
    void print_summary() const;

private:
    bool send(const uhid_event& event);
    bool handle(const uhid_event& event);
    void on_get(const uhid_get_report_req& request);
    void on_set(const uhid_set_report_req& request);
    void unplug();
    std::string image_verdict() const;

    int fd_;
    Options options_;
    DeviceModel model_;
    long gets_ = 0;
    long sets_ = 0;
    bool unplugged_ = false;
};

bool UhidDevice::send(const uhid_event& event) {
    return ::write(fd_, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

bool UhidDevice::create() {
    const auto& descriptor = options_.feature_bytes == 20 ? wxr::vm::kUpgradableDescriptor
                                                          : wxr::vm::kOtherLengthDescriptor;
    uhid_event event{};
    event.type = UHID_CREATE2;
    auto& req = event.u.create2;
    std::snprintf(reinterpret_cast<char*>(req.name), sizeof req.name, "%s", options_.name.c_str());
    req.rd_size = static_cast<std::uint16_t>(descriptor.size());
    std::copy(descriptor.begin(), descriptor.end(), req.rd_data);
    req.bus = BUS_USB;
    req.vendor = kVendorId;
    req.product = kProductId;
    req.version = kDeviceVersion;
    return send(event);
}

void UhidDevice::on_get(const uhid_get_report_req& request) {
    ++gets_;
    uhid_event reply{};
    reply.type = UHID_GET_REPORT_REPLY;
    reply.u.get_report_reply.id = request.id;
    if (request.rtype != UHID_FEATURE_REPORT || request.rnum != wxr::sim::kReportId) {
        reply.u.get_report_reply.err = kErrIo;
    } else {
        std::span<std::uint8_t> data(reply.u.get_report_reply.data, wxr::sim::kReplyLength);
        model_.on_get(data);
        reply.u.get_report_reply.size = static_cast<std::uint16_t>(data.size());
    }
    send(reply);
}

void UhidDevice::on_set(const uhid_set_report_req& request) {
    ++sets_;
    uhid_event reply{};
    reply.type = UHID_SET_REPORT_REPLY;
    reply.u.set_report_reply.id = request.id;
    std::size_t size = std::min<std::size_t>(request.size, UHID_DATA_MAX);
    if (request.rtype != UHID_FEATURE_REPORT || request.rnum != wxr::sim::kReportId) {
        reply.u.set_report_reply.err = kErrIo;
    } else {
        model_.on_set(std::span<const std::uint8_t>(request.data, size));
    }
    send(reply);
    if (options_.unplug_after_sets && sets_ >= *options_.unplug_after_sets) unplug();
}

void UhidDevice::unplug() {
    uhid_event event{};
    event.type = UHID_DESTROY;
    send(event);
    unplugged_ = true;
    std::printf("%s: unplugged after %ld sets\n", options_.name.c_str(), sets_);
    std::fflush(stdout);
}

bool UhidDevice::handle(const uhid_event& event) {
    switch (event.type) {
    case UHID_START:
        std::printf("%s: started\n", options_.name.c_str());
        std::fflush(stdout);
        break;
    case UHID_GET_REPORT: on_get(event.u.get_report); break;
    case UHID_SET_REPORT: on_set(event.u.set_report); break;
    default: break;  // open, close, output and stop need no answer
    }
    return !unplugged_;
}

void UhidDevice::run(int signal_fd) {
    pollfd fds[] = {{fd_, POLLIN, 0}, {signal_fd, POLLIN, 0}};
    while (!unplugged_) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (fds[0].revents & (POLLHUP | POLLERR)) return;
        uhid_event event{};
        ssize_t got = ::read(fd_, &event, sizeof event);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || !handle(event)) return;
    }
}

std::string UhidDevice::image_verdict() const {
    const auto& image = options_.image;
    if (image.empty()) return "none";
    const auto& flash = model_.flash();
    bool same = std::equal(image.begin(), image.end(), flash.begin());
    bool rest_erased = std::all_of(flash.begin() + static_cast<long>(image.size()), flash.end(),
                                   [](std::uint8_t b) { return b == wxr::sim::kErasedByte; });
    return same && rest_erased ? "match" : "differs";
}

void UhidDevice::print_summary() const {
    const auto& c = model_.counters();
    const auto& end = model_.end_report();
    std::printf("%s: gets=%ld sets=%ld identifications=%zu blocks=%zu end=%s image=%s unplugged=%s "
                "checks=%zu block-reports=%zu\n",
                options_.name.c_str(), gets_, sets_, c.identifications, c.blocks_accepted,
                end ? (end->matches_flash ? "yes" : "mismatch") : "no", image_verdict().c_str(),
                unplugged_ ? "yes" : "no", c.block_checks, c.block_reports);
    std::fflush(stdout);
}

int signal_descriptor() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
    return signalfd(-1, &set, SFD_CLOEXEC);
}

}  // namespace

int main(int argc, char** argv) {
    Options options = parse_options(argc, argv);
    if (!options.expect.empty() && !read_file(options.expect, options.image)) {
        std::fprintf(stderr, "uhid-device: %s: unreadable, empty or larger than the flash\n",
                     options.expect.c_str());
        return 1;
    }
    int signals = signal_descriptor();
    int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0 || signals < 0) {
        std::perror("uhid-device: /dev/uhid");
        return 1;
    }
    UhidDevice device(fd, options);
    if (!device.create()) {
        std::perror("uhid-device: create");
        return 1;
    }
    device.run(signals);
    device.print_summary();
    ::close(fd);  // destroys the device unless it unplugged itself already
    return 0;
}
