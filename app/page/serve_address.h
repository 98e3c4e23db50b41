// Where --serve listens, and which Host names its requests may carry: a web
// page elsewhere that makes the browser ask a loopback station (by a name of
// its own that resolves there) is refused by name.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace wxr::page {

inline constexpr char kDefaultServeAddress[] = "127.0.0.1:8730";

struct ServeAddress {
    std::string host;  // an IP literal: "127.0.0.1", "0.0.0.0", "::1"
    int port = 0;      // 0: any free port
};

// "HOST:PORT", "[IPV6]:PORT" or "PORT" (on 127.0.0.1); HOST is an IP literal
// or "localhost". The text of what is wrong otherwise.
std::variant<ServeAddress, std::string> parse_serve_address(std::string_view text);

bool is_loopback(const ServeAddress& address);
// 0.0.0.0 or ::: every address of the machine.
bool is_wildcard(const ServeAddress& address);

// What this machine answers to when it serves on every address.
struct MachineNames {
    std::string name;                    // its host name; empty when unknown
    std::vector<std::string> addresses;  // its interfaces' addresses (interface_addresses.h)
};

// Whether a request's Host header names this server listening at `address`
// on `port`: that address, or localhost when it is a loopback address; on
// every address, exactly the machine's own name, localhost or one of its
// addresses in any spelling. Always with the port (or none, for port 80).
bool host_allowed(std::string_view host_header, const ServeAddress& address, int port, const MachineNames& machine);

// The page's address for the person at the bench.
std::string page_url(const ServeAddress& address, int port, std::string_view machine);

}  // namespace wxr::page
