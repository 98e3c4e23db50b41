// A HID device made in the kernel through /dev/uhid, answering feature
// report 5 with the simulated device's firmware logic. It runs inside the
// test virtual machine, so the whole kernel HID stack (hid-generic, hidraw)
// lies between the tool and this device. Its USB sibling is usb_device.cpp;
// options and summary are theirs in common (vm_device.h).
//
//   uhid-device --name NAME [shared options]
//
// Prints "NAME: started" once the kernel has bound a driver, and on SIGTERM
// (or after unplugging itself) the summary line "NAME: gets=G sets=S ...".
// A stall is answered as an I/O error; a silent device sends no replies
// (uhid fails each request after about 5 s).
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/vm/vm_device.h"

namespace {

using wxr::vm::Answer;
using wxr::vm::DeviceCore;

constexpr std::uint16_t kErrIo = EIO;

std::uint8_t report_type(std::uint8_t uhid_type) {
    return uhid_type == UHID_FEATURE_REPORT ? wxr::vm::kFeatureReportType : 0;
}

class UhidDevice {
public:
    UhidDevice(int fd, wxr::vm::DeviceOptions options) : fd_(fd), core_(std::move(options)) {}

    bool create();
    // Serves the kernel's requests until a signal arrives or the device unplugs itself.
    void run(int signal_fd);
    void print_summary() const { core_.print_summary(); }

private:
    bool send(const uhid_event& event);
    bool handle(const uhid_event& event);
    void on_get(const uhid_get_report_req& request);
    void on_set(const uhid_set_report_req& request);
    void unplug();

    int fd_;
    DeviceCore core_;
    bool unplugged_ = false;
};

bool UhidDevice::send(const uhid_event& event) {
    return ::write(fd_, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

bool UhidDevice::create() {
    auto descriptor = wxr::vm::report_descriptor(core_.options());
    uhid_event event{};
    event.type = UHID_CREATE2;
    auto& req = event.u.create2;
    std::snprintf(reinterpret_cast<char*>(req.name), sizeof req.name, "%s",
                  core_.options().name.c_str());
    req.rd_size = static_cast<std::uint16_t>(descriptor.size());
    std::copy(descriptor.begin(), descriptor.end(), req.rd_data);
    req.bus = BUS_USB;
    req.vendor = wxr::vm::kVendorId;
    req.product = wxr::vm::kProductId;
    req.version = wxr::vm::kDeviceVersion;
    return send(event);
}

void UhidDevice::on_get(const uhid_get_report_req& request) {
    Answer answer = core_.next_answer();
    if (answer == Answer::silent) return;
    uhid_event reply{};
    reply.type = UHID_GET_REPORT_REPLY;
    reply.u.get_report_reply.id = request.id;
    std::span<std::uint8_t, wxr::sim::kReplyLength> data(reply.u.get_report_reply.data,
                                                         wxr::sim::kReplyLength);
    // uhid does not pass the length the caller asked for.
    bool answered = answer == Answer::reply &&
                    core_.on_get(report_type(request.rtype), request.rnum, std::nullopt, data);
    if (answered) {
        reply.u.get_report_reply.size = static_cast<std::uint16_t>(data.size());
    } else {
        core_.note_refused();
        reply.u.get_report_reply.err = kErrIo;
    }
    send(reply);
}

void UhidDevice::on_set(const uhid_set_report_req& request) {
    Answer answer = core_.next_answer();
    if (answer == Answer::silent) return;
    uhid_event reply{};
    reply.type = UHID_SET_REPORT_REPLY;
    reply.u.set_report_reply.id = request.id;
    std::size_t size = std::min<std::size_t>(request.size, UHID_DATA_MAX);
    bool answered = answer == Answer::reply &&
                    core_.on_set(report_type(request.rtype), request.rnum,
                                 std::span<const std::uint8_t>(request.data, size));
    if (!answered) {
        core_.note_refused();
        reply.u.set_report_reply.err = kErrIo;
    }
    send(reply);
    if (core_.unplug_due()) unplug();
}

void UhidDevice::unplug() {
    uhid_event event{};
    event.type = UHID_DESTROY;
    send(event);
    unplugged_ = true;
    core_.note_unplugged();
}

bool UhidDevice::handle(const uhid_event& event) {
    switch (event.type) {
    case UHID_START: core_.print_line("started"); break;
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

}  // namespace

int main(int argc, char** argv) {
    auto options = wxr::vm::parse_device_options(argc, argv, "uhid-device", "", nullptr);
    int signals = wxr::vm::signal_descriptor();
    int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0 || signals < 0) {
        std::perror("uhid-device: /dev/uhid");
        return 1;
    }
    UhidDevice device(fd, std::move(options));
    if (!device.create()) {
        std::perror("uhid-device: create");
        return 1;
    }
    device.run(signals);
    device.print_summary();
    ::close(fd);  // destroys the device unless it unplugged itself already
    return 0;
}
