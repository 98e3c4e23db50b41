#include "app/page/serve_address.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

#include <boost/asio/ip/address.hpp>

namespace wxr::page {

namespace {

namespace net = boost::asio::ip;

constexpr int kMaxPort = 65535;
constexpr int kHttpPort = 80;

bool is_ipv4(std::string_view text) {
    int parts = 0;
    while (true) {
        int value = -1;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        std::size_t used = static_cast<std::size_t>(end - text.data());
        // No leading zeros: some read "010" as octal 8, others as 10.
        const bool padded = used > 1 && text.front() == '0';
        if (ec != std::errc{} || used == 0 || used > 3 || value > 255 || padded) return false;
        ++parts;
        text.remove_prefix(used);
        if (text.empty()) return parts == 4;
        if (text.front() != '.' || parts == 4) return false;
        text.remove_prefix(1);
    }
}

bool is_ipv6(std::string_view text) {
    return std::count(text.begin(), text.end(), ':') >= 2 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
           });
}

bool is_ip_literal(std::string_view host) { return is_ipv4(host) || is_ipv6(host); }

// The address however it is spelt ("FE80:0::1" is "fe80::1"); none for what is not one.
std::optional<net::address> address_of(std::string_view text) {
    boost::system::error_code ec;
    net::address address = net::make_address(std::string(text), ec);
    if (ec) return std::nullopt;
    return address;
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::optional<int> port_number(std::string_view text) {
    int port = -1;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || port < 0 || port > kMaxPort) {
        return std::nullopt;
    }
    return port;
}

struct HostPort {
    std::string_view host;  // without brackets
    std::string_view port;  // empty when none was given
    bool ok = true;
};

// "host", "host:port", "[v6]" or "[v6]:port".
HostPort split_host_port(std::string_view text) {
    if (!text.empty() && text.front() == '[') {
        auto close = text.find(']');
        if (close == std::string_view::npos) return {{}, {}, false};
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return {{}, {}, false};
        return {text.substr(1, close - 1), rest.empty() ? rest : rest.substr(1)};
    }
    auto colon = text.rfind(':');
    if (colon == std::string_view::npos) return {text, {}};
    if (text.find(':') != colon) return {text, {}};  // a bare IPv6 address
    return {text.substr(0, colon), text.substr(colon + 1)};
}

}  // namespace

std::variant<ServeAddress, std::string> parse_serve_address(std::string_view text) {
    const std::string wrong = "--serve needs HOST:PORT, [IPV6]:PORT or PORT, not '" + std::string(text) + "'";
    if (auto port = port_number(text)) return ServeAddress{"127.0.0.1", *port};
    HostPort parts = split_host_port(text);
    std::optional<int> port = port_number(parts.port);
    if (!parts.ok || parts.port.empty() || !port) return wrong;
    if (lower(parts.host) == "localhost") return ServeAddress{"127.0.0.1", *port};
    if (!is_ip_literal(parts.host)) return "--serve: '" + std::string(parts.host) + "' is not an IP address";
    return ServeAddress{std::string(parts.host), *port};
}

bool is_loopback(const ServeAddress& address) {
    return address.host.rfind("127.", 0) == 0 || address.host == "::1";
}

bool is_wildcard(const ServeAddress& address) { return address.host == "0.0.0.0" || address.host == "::"; }

bool host_allowed(std::string_view host_header, const ServeAddress& address, int port, const MachineNames& machine) {
    HostPort parts = split_host_port(host_header);
    if (!parts.ok || parts.host.empty()) return false;
    std::optional<int> given = parts.port.empty() ? std::optional<int>(kHttpPort) : port_number(parts.port);
    if (given != port) return false;
    const std::string host = lower(parts.host);
    if (host == lower(address.host)) return true;
    if (host == "localhost") return is_loopback(address) || is_wildcard(address);
    if (!is_wildcard(address)) return false;
    // A name only as it is exactly the machine's own (a longer one may be
    // anyone's domain); an address only as one of its own.
    if (!is_ip_literal(host)) return !machine.name.empty() && host == lower(machine.name);
    const std::optional<net::address> given_address = address_of(host);
    return given_address && std::any_of(machine.addresses.begin(), machine.addresses.end(), [&](const std::string& own) {
               return address_of(own) == given_address;
           });
}

std::string page_url(const ServeAddress& address, int port, std::string_view machine) {
    std::string host = is_wildcard(address) && !machine.empty() ? std::string(machine) : address.host;
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    return "http://" + host + ":" + std::to_string(port) + "/";
}

}  // namespace wxr::page
