#include "app/publish/publish_url.h"

#include <charconv>

namespace wxr::publish {

namespace {

constexpr int kMaxPort = 65535;

std::string wrong(std::string_view text, const std::string& why) {
    return "--publish needs mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not '" + std::string(text) + "': " + why;
}

}  // namespace

std::variant<BrokerUrl, std::string> parse_broker_url(std::string_view text) {
    BrokerUrl url;
    std::string_view rest;
    if (text.starts_with("mqtt://")) {
        rest = text.substr(7);
    } else if (text.starts_with("mqtts://")) {
        rest = text.substr(8);
        url.tls = true;
        url.port = kMqttsPort;
    } else {
        return wrong(text, "the scheme is mqtt or mqtts");
    }
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    std::string_view host = rest, port;
    bool has_port = false;
    if (rest.starts_with('[')) {
        const auto close = rest.find(']');
        if (close == std::string_view::npos) return wrong(text, "an IPv6 address ends with ]");
        host = rest.substr(1, close - 1);
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty() && !after.starts_with(':')) return wrong(text, "what follows the address is not a port");
        has_port = !after.empty();
        if (has_port) port = after.substr(1);
    } else if (const auto colon = rest.rfind(':'); colon != std::string_view::npos) {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        has_port = true;
    }
    if (host.empty()) return wrong(text, "no host");
    if (host.find_first_of("/?#@ ") != std::string_view::npos) {
        return wrong(text, "the host holds a path, user or space");
    }
    if (has_port) {
        int n = 0;
        auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), n);
        if (port.empty() || ec != std::errc{} || end != port.data() + port.size() || n < 1 || n > kMaxPort) {
            return wrong(text, "the port is a number from 1 to 65535");
        }
        url.port = n;
    }
    url.host = std::string(host);
    return url;
}

}  // namespace wxr::publish
