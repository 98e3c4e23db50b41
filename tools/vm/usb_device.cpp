// A USB HID device made in user space: a FunctionFS function of a gadget
// behind dummy_hcd, so that usbcore, usbhid and hidraw all lie between the
// tool and this device, as with a real unit. It answers feature report 5
// through the same shared core as its uhid sibling (vm_device.h).
//
//   usb-device --ffs DIR --name NAME [shared options]
//
// DIR is the mounted FunctionFS instance. Prints "NAME: ready" once its
// descriptors are written (bind the gadget to its UDC then), "NAME: started"
// when the host has configured it, and on SIGTERM (or after unplugging
// itself) the summary line "NAME: gets=G sets=S ...".
// A stall halts the request; a silent device stops reading ep0, so every
// request waits for usbcore's control timeout; an unplug closes ep0, which
// unbinds the gadget.
#include <endian.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/vm/vm_device.h"

namespace {

using wxr::vm::Answer;
using wxr::vm::DeviceCore;

constexpr std::uint8_t kHidClass = 3;
constexpr std::uint8_t kHidDescriptorType = 0x21;
constexpr std::uint8_t kReportDescriptorType = 0x22;
constexpr std::uint16_t kHidVersion = 0x0111;
constexpr std::uint8_t kGetReport = 0x01;
constexpr std::uint8_t kSetReport = 0x09;
constexpr std::uint8_t kSetIdle = 0x0A;
constexpr std::uint8_t kInterruptIn = 0x81;
constexpr std::uint16_t kInterruptPacket = 8;
constexpr std::uint8_t kFullSpeedInterval = 10;  // ms
constexpr std::uint8_t kHighSpeedInterval = 7;   // 2^(7-1) microframes, 8 ms
constexpr std::size_t kMaxControlData = 4096;

// The HID class descriptor: FunctionFS takes exactly these 9 bytes.
struct [[gnu::packed]] HidDescriptor {
    std::uint8_t bLength = sizeof(HidDescriptor);
    std::uint8_t bDescriptorType = kHidDescriptorType;
    std::uint16_t bcdHID = htole16(kHidVersion);
    std::uint8_t bCountryCode = 0;
    std::uint8_t bNumDescriptors = 1;
    std::uint8_t bReportType = kReportDescriptorType;
    std::uint16_t wReportLength = 0;
};
static_assert(sizeof(HidDescriptor) == 9);

struct [[gnu::packed]] SpeedDescriptors {
    usb_interface_descriptor interface;
    HidDescriptor hid;
    usb_endpoint_descriptor_no_audio endpoint;
};

struct [[gnu::packed]] DescriptorBlob {
    usb_functionfs_descs_head_v2 head;
    std::uint32_t fs_count;
    std::uint32_t hs_count;
    SpeedDescriptors fs;
    SpeedDescriptors hs;
};

struct [[gnu::packed]] StringBlob {
    usb_functionfs_strings_head head;
    std::uint16_t language;
    char text[sizeof "wxr7305 update"];
};

SpeedDescriptors speed_descriptors(std::size_t report_length, std::uint8_t interval) {
    SpeedDescriptors d{};
    d.interface = {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 1, kHidClass, 0, 0, 1};
    d.hid.wReportLength = htole16(static_cast<std::uint16_t>(report_length));
    d.endpoint = {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, kInterruptIn, USB_ENDPOINT_XFER_INT,
                  htole16(kInterruptPacket), interval};
    return d;
}

bool write_all(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size) == static_cast<ssize_t>(size);
}

class UsbDevice {
public:
    UsbDevice(int ep0, wxr::vm::DeviceOptions options) : ep0_(ep0), core_(std::move(options)) {}

    bool write_descriptors();
    // Serves the host's control requests until a signal arrives or the device unplugs itself.
    void run(int signal_fd);
    void print_summary() const { core_.print_summary(); }
    void print_line(const char* what) const { core_.print_line(what); }

private:
    void on_setup(const usb_ctrlrequest& setup);
    void on_get_report(std::uint16_t value, std::size_t length);
    void on_set_report(const usb_ctrlrequest& setup, std::uint16_t value, std::size_t length);
    void reply(const void* data, std::size_t size) { ::write(ep0_, data, size); }
    void acknowledge() { ::read(ep0_, nullptr, 0); }
    // Reading or writing against the request's direction halts it.
    void stall(const usb_ctrlrequest& setup);
    bool wait_readable(int signal_fd);

    int ep0_;
    DeviceCore core_;
    bool unplugged_ = false;
};

bool UsbDevice::write_descriptors() {
    auto report = wxr::vm::report_descriptor(core_.options());
    DescriptorBlob blob{};
    blob.head.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    blob.head.length = htole32(sizeof blob);
    blob.head.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    blob.fs_count = blob.hs_count = htole32(3);
    blob.fs = speed_descriptors(report.size(), kFullSpeedInterval);
    blob.hs = speed_descriptors(report.size(), kHighSpeedInterval);
    StringBlob strings{};
    strings.head.magic = htole32(FUNCTIONFS_STRINGS_MAGIC);
    strings.head.length = htole32(sizeof strings);
    strings.head.str_count = htole32(1);
    strings.head.lang_count = htole32(1);
    strings.language = htole16(0x0409);
    std::memcpy(strings.text, "wxr7305 update", sizeof strings.text);
    return write_all(ep0_, &blob, sizeof blob) && write_all(ep0_, &strings, sizeof strings);
}

void UsbDevice::stall(const usb_ctrlrequest& setup) {
    core_.note_refused();
    if (setup.bRequestType & USB_DIR_IN) ::read(ep0_, nullptr, 0);
    else ::write(ep0_, nullptr, 0);
}

void UsbDevice::on_get_report(std::uint16_t value, std::size_t length) {
    std::array<std::uint8_t, wxr::sim::kReplyLength> data{};
    auto type = static_cast<std::uint8_t>(value >> 8);
    auto id = static_cast<std::uint8_t>(value & 0xFF);
    if (!core_.on_get(type, id, length, data)) {
        core_.note_refused();
        ::read(ep0_, nullptr, 0);
        return;
    }
    reply(data.data(), std::min(length, data.size()));
}

void UsbDevice::on_set_report(const usb_ctrlrequest& setup, std::uint16_t value,
                              std::size_t length) {
    auto type = static_cast<std::uint8_t>(value >> 8);
    auto id = static_cast<std::uint8_t>(value & 0xFF);
    // Refused before its data is taken: taking it would accept the request.
    if (!core_.accepts(type, id)) return stall(setup);
    std::vector<std::uint8_t> data(std::min(length, kMaxControlData));
    ssize_t got = ::read(ep0_, data.data(), data.size());
    data.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    core_.on_set(type, id, data);
    if (core_.unplug_due()) {
        ::close(ep0_);
        unplugged_ = true;
        core_.note_unplugged();
    }
}

void UsbDevice::on_setup(const usb_ctrlrequest& setup) {
    Answer answer = core_.next_answer();
    if (answer == Answer::silent) return;
    std::uint16_t value = le16toh(setup.wValue);
    std::size_t length = le16toh(setup.wLength);
    auto type = setup.bRequestType & (USB_TYPE_MASK | USB_DIR_IN);
    bool report_request = setup.bRequest == kGetReport || setup.bRequest == kSetReport;
    if (answer == Answer::stall && report_request) return stall(setup);

    if (type == (USB_DIR_IN | USB_TYPE_STANDARD) && setup.bRequest == USB_REQ_GET_DESCRIPTOR &&
        (value >> 8) == kReportDescriptorType) {
        auto report = wxr::vm::report_descriptor(core_.options());
        return reply(report.data(), std::min(length, report.size()));
    }
    if (type == (USB_DIR_IN | USB_TYPE_CLASS) && setup.bRequest == kGetReport)
        return on_get_report(value, length);
    if (type == USB_TYPE_CLASS && setup.bRequest == kSetReport) return on_set_report(setup, value, length);
    if (type == USB_TYPE_CLASS && setup.bRequest == kSetIdle && length == 0) return acknowledge();
    stall(setup);
}

bool UsbDevice::wait_readable(int signal_fd) {
    // A silent device no longer reads ep0: reading would answer the pending request.
    bool silent = core_.next_answer() == Answer::silent;
    pollfd fds[] = {{signal_fd, POLLIN, 0}, {ep0_, POLLIN, 0}};
    while (::poll(fds, silent ? 1 : 2, -1) < 0) {
        if (errno != EINTR) return false;
    }
    return !fds[0].revents && !(fds[1].revents & (POLLHUP | POLLERR));
}

void UsbDevice::run(int signal_fd) {
    while (!unplugged_ && wait_readable(signal_fd)) {
        usb_functionfs_event event{};
        ssize_t got = ::read(ep0_, &event, sizeof event);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got != static_cast<ssize_t>(sizeof event)) return;
        switch (event.type) {
        case FUNCTIONFS_ENABLE: core_.print_line("started"); break;
        case FUNCTIONFS_SETUP: on_setup(event.u.setup); break;
        default: break;  // bind, unbind, disable, suspend and resume need no answer
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string ffs;
    auto extra = [&](const std::string& arg, const std::string& value) {
        if (arg != "--ffs") return false;
        ffs = value;
        return true;
    };
    auto options = wxr::vm::parse_device_options(argc, argv, "usb-device", "--ffs DIR", extra);
    if (ffs.empty()) {
        std::fprintf(stderr, "usb-device: --ffs DIR is required\n");
        return 2;
    }
    int signals = wxr::vm::signal_descriptor();
    int ep0 = ::open((ffs + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    if (ep0 < 0 || signals < 0) {
        std::perror(("usb-device: " + ffs + "/ep0").c_str());
        return 1;
    }
    UsbDevice device(ep0, std::move(options));
    if (!device.write_descriptors()) {
        std::perror("usb-device: descriptors");
        return 1;
    }
    device.print_line("ready");
    device.run(signals);
    device.print_summary();
    return 0;  // ep0 closes with the process: the host sees the unit go
}
