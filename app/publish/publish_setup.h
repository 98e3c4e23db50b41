// --publish as the upgrade command starts it: the options, the images and
// the station's identity turned into the publisher's configuration.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/publish/publisher.h"
#include "station/image_choice.h"

namespace wxr::publish {

// What the command line asks of the publisher.
struct PublishOptions {
    std::optional<std::string> url;     // --publish
    std::optional<std::string> topic;   // --publish-topic
    std::optional<std::string> auth;    // --publish-auth
    std::optional<std::string> ca;      // --publish-ca
    std::optional<std::string> log;     // --log: the spool
    std::vector<std::string> devices;   // --device: the ports the station keeps to
    std::string station;                // the station's id
};

// nullptr without --publish; also nullptr, after a message on `err`, when it
// cannot start (`failed` is then set).
std::unique_ptr<Publisher> publisher_for(const PublishOptions& options, const station::BenchImages& images,
                                         const std::string& host, std::ostream& err, bool& failed);

// The default topic prefix: wxr7305/HOST, with what MQTT gives a meaning in
// topics (+ # /) and what is not printable taken out of the host's name.
std::string default_topic_prefix(const std::string& host);

}  // namespace wxr::publish
