// --publish as the upgrade command starts it: the options, the images and
// the station's identity turned into the publisher's configuration.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "app/cli/arguments.h"
#include "app/cli/image_choice.h"
#include "app/publish/publisher.h"

namespace wxr::publish {

// nullptr without --publish; also nullptr, after a message on `err`, when it
// cannot start (`failed` is then set).
std::unique_ptr<Publisher> publisher_for(const cli::Options& options, const cli::BenchImages& images,
                                         const std::string& host, const std::string& started, std::ostream& err,
                                         bool& failed);

// The default topic prefix: wxr7305/HOST, with what MQTT gives a meaning in
// topics (+ # /) and what is not printable taken out of the host's name.
std::string default_topic_prefix(const std::string& host);

}  // namespace wxr::publish
