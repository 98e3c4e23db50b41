#include "device/output_file.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "device/output_file_os.h"

namespace wxr::output_file {

using os::open_without_blocking;
using os::is_regular;
using os::write_some;

int open_regular(const std::string& path, Mode mode, const std::string& what) {
    int fd = open_without_blocking(path, mode);
    // A FIFO without a reader (or a device node without its device) refuses a non-blocking open so.
    if (fd < 0 && errno == ENXIO) throw std::runtime_error(what + " " + path + " is not a regular file");
    if (fd < 0) throw std::runtime_error("cannot write " + what + " " + path + ": " + std::strerror(errno));
    if (!is_regular(fd)) {
        close(fd);
        throw std::runtime_error(what + " " + path + " is not a regular file");
    }
    return fd;
}

bool write_all(int fd, const char* data, std::size_t size) {
    const char* end = data + size;
    while (data < end) {
        long written = write_some(fd, data, static_cast<std::size_t>(end - data));
        if (written < 0 && errno == EINTR) continue;
        if (written == 0) errno = 0;
        if (written <= 0) return false;
        data += written;
    }
    return true;
}

bool write_whole(int fd, const char* data, std::size_t size) {
    long written = -1;
    do {
        errno = 0;
        written = write_some(fd, data, size);
    } while (written < 0 && errno == EINTR);
    return written >= 0 && static_cast<std::size_t>(written) == size;
}

}  // namespace wxr::output_file
