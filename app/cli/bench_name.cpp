#include "app/cli/bench_name.h"

#include "app/cli/output.h"

namespace wxr::cli {

BenchName bench_name(const DevicePath& path, const std::string& location, const std::string& serial,
                     const PortNames* ports) {
    if (const std::string* port = ports && !location.empty() ? ports->label_of(location) : nullptr) {
        return {printable(*port), whereabouts("", serial)};  // the port is its location
    }
    if (!serial.empty()) return {printable(serial), whereabouts(location, "")};
    if (!location.empty()) return {printable(location), ""};
    return {printable(to_utf8(path)), ""};
}

}  // namespace wxr::cli
