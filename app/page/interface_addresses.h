// The addresses of this machine's network interfaces, as the Host rule of a
// page served on every address takes them (one backend per system).
#pragma once

#include <string>
#include <vector>

namespace wxr::page {

// Each unicast address of each interface, loopback included, as an IP
// literal without brackets or zone ("10.0.0.7", "fe80::1"); empty when the
// system will not tell.
std::vector<std::string> interface_addresses();

}  // namespace wxr::page
