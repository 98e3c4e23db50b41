#include "device/linux/hidraw_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>

#include "device/linux/usb_sysfs.h"

namespace wxr::hidraw {

namespace {

// The kernel keeps both texts in 64 bytes.
constexpr std::size_t kMaxRawTextBytes = 256;

int result_or_errno(int rc) { return rc < 0 ? -errno : rc; }

// The request for a text, 0 where these headers do not know it (serial
// numbers came to hidraw with Linux 5.6).
unsigned long raw_text_request(RawText which) {
    switch (which) {
        case RawText::Phys: return HIDIOCGRAWPHYS(kMaxRawTextBytes);
        case RawText::Uniq:
#ifdef HIDIOCGRAWUNIQ
            return HIDIOCGRAWUNIQ(kMaxRawTextBytes);
#else
            return 0;
#endif
    }
    return 0;
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

int SystemHidrawIo::list_nodes(std::vector<std::string>& names) {
    names.clear();
    std::unique_ptr<DIR, DirCloser> dir(opendir(class_dir_.c_str()));
    if (!dir) {
        // No hidraw class at all: the hidraw driver is not loaded, so no node is present.
        return errno == ENOENT ? 0 : -errno;
    }
    errno = 0;
    while (const dirent* entry = readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name.rfind("hidraw", 0) == 0) names.push_back(std::move(name));
        errno = 0;
    }
    return errno == 0 ? 0 : -errno;
}

int SystemHidrawIo::open(const std::string& path, int flags) {
    return result_or_errno(::open(path.c_str(), flags));
}

int SystemHidrawIo::close(int fd) { return result_or_errno(::close(fd)); }

int SystemHidrawIo::report_descriptor(int fd, std::vector<std::uint8_t>& descriptor) {
    int size = 0;
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) return -errno;
    if (size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) return -EINVAL;
    hidraw_report_descriptor raw{};
    raw.size = static_cast<std::uint32_t>(size);
    if (::ioctl(fd, HIDIOCGRDESC, &raw) < 0) return -errno;
    descriptor.assign(raw.value, raw.value + raw.size);
    return 0;
}

int SystemHidrawIo::raw_info(int fd, RawInfo& info) {
    hidraw_devinfo raw{};
    if (::ioctl(fd, HIDIOCGRAWINFO, &raw) < 0) return -errno;
    info.bus_type = raw.bustype;
    // Declared signed 16-bit by the kernel: ids above 0x7FFF come back negative.
    info.vendor_id = static_cast<std::uint16_t>(raw.vendor);
    info.product_id = static_cast<std::uint16_t>(raw.product);
    return 0;
}

int SystemHidrawIo::get_feature(int fd, std::span<std::uint8_t> report) {
    return result_or_errno(::ioctl(fd, HIDIOCGFEATURE(report.size()), report.data()));
}

int SystemHidrawIo::set_feature(int fd, std::span<const std::uint8_t> report) {
    // The request takes a writable buffer; the caller's report stays untouched.
    std::vector<std::uint8_t> copy(report.begin(), report.end());
    return result_or_errno(::ioctl(fd, HIDIOCSFEATURE(copy.size()), copy.data()));
}

int SystemHidrawIo::raw_text(int fd, RawText which, std::string& text) {
    const unsigned long request = raw_text_request(which);
    if (request == 0) return -ENOTTY;
    char buffer[kMaxRawTextBytes] = {};
    if (::ioctl(fd, request, buffer) < 0) return -errno;
    text.assign(buffer, ::strnlen(buffer, sizeof buffer));
    return 0;
}

int SystemHidrawIo::hid_device_name(const std::string& node_name, std::string& name) {
    std::error_code ec;
    std::filesystem::path target = std::filesystem::read_symlink(class_dir_ + "/" + node_name + "/device", ec);
    if (ec) return -ec.value();
    name = target.filename().string();
    return 0;
}

int SystemHidrawIo::sysfs_text(const std::string& node_name, RawText which, std::string& text) {
    std::error_code ec;
    const std::filesystem::path hid_device = std::filesystem::canonical(class_dir_ + "/" + node_name + "/device", ec);
    if (ec) return -ENOENT;
    std::optional<std::string> found = which == RawText::Phys ? usb_phys(hid_device) : usb_serial(hid_device);
    if (!found) return -ENOENT;
    text = std::move(*found);
    return 0;
}

int SystemHidrawIo::lock(int fd, NodeLock how) {
    const int operation = how == NodeLock::Shared ? LOCK_SH : how == NodeLock::Exclusive ? LOCK_EX : LOCK_UN;
    return result_or_errno(::flock(fd, operation | LOCK_NB));
}

}  // namespace wxr::hidraw
