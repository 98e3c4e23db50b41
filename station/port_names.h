// --port-names FILE: what the bench calls each USB port, one line each,
//   LOCATION = LABEL        e.g.  usb-0000:00:14.0-2 = Port 5
// with LOCATION as `wxr7305 list` shows it; blank lines and lines starting
// with # are skipped.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace wxr::station {

struct PortNames {
    std::vector<std::pair<std::string, std::string>> entries;  // location, label; in the file's order

    // nullptr for a location without a name.
    const std::string* label_of(std::string_view location) const;
};

// The names, or what is wrong ("line 3: ...").
std::variant<PortNames, std::string> parse_port_names(std::string_view text);

// False, after a message naming the file, when it cannot be read or is wrong.
bool read_port_names(const std::string& file, PortNames& names, std::ostream& err);

}  // namespace wxr::station
