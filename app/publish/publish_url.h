// --publish URL: where the line's MQTT broker listens.
#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace wxr::publish {

// The ports MQTT brokers listen on by default (IANA).
inline constexpr int kMqttPort = 1883;
inline constexpr int kMqttsPort = 8883;

struct BrokerUrl {
    std::string host;
    int port = kMqttPort;
    bool tls = false;
};

// "mqtt://HOST[:PORT]" or "mqtts://HOST[:PORT]" (HOST a name, an IPv4
// address or [IPv6]); the text of what is wrong otherwise.
std::variant<BrokerUrl, std::string> parse_broker_url(std::string_view text);

}  // namespace wxr::publish
