#include "app/publish/publish_setup.h"

#include <fstream>
#include <ostream>

#include <nlohmann/json.hpp>

#include "app/publish/publish_os.h"
#include "app/publish/record_message.h"

namespace wxr::publish {

namespace {

using nlohmann::json;

json firmware_of(const station::BenchImages& images) {
    json list = json::array();
    for (const auto& image : images) {
        list.push_back({{"file", image->name}, {"model", image->info.model}, {"version", image->info.version}});
    }
    return list;
}

std::string state_payload(const char* state, const std::string& station, const std::string& host,
                          const json& firmware, const json& ports) {
    json object = {{"state", state}, {"station", station}, {"host", host}};
    if (!firmware.is_null()) object["firmware"] = firmware;
    if (!ports.is_null()) object["ports"] = ports;
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

std::string metrics_text(const PublishLink& link) {
    return "# HELP wxr7305_publish_connected 1 while the station is connected to its --publish broker.\n"
           "# TYPE wxr7305_publish_connected gauge\n"
           "wxr7305_publish_connected " + std::string(link.connected ? "1" : "0") + "\n"
           "# HELP wxr7305_records_unpublished Records of the log the broker has not acknowledged yet.\n"
           "# TYPE wxr7305_records_unpublished gauge\n"
           "wxr7305_records_unpublished " + std::to_string(link.unsent_records) + "\n";
}

std::string default_topic_prefix(const std::string& host) {
    std::string name;
    for (const char c : host) {
        if (c > ' ' && c < 0x7f && c != '+' && c != '#' && c != '/') name += c;
    }
    return "wxr7305/" + (name.empty() ? std::string("station") : name);
}

bool read_auth_file(const std::string& path, std::string& user, std::string& password, std::string& error) {
    std::ifstream in(os::path_of_text(path), std::ios::binary);
    if (!in) {
        error = "--publish-auth: " + path + " cannot be read";
        return false;
    }
    std::getline(in, user);
    std::getline(in, password);
    for (std::string* line : {&user, &password}) {
        if (!line->empty() && line->back() == '\r') line->pop_back();
    }
    if (user.empty()) {
        error = "--publish-auth: " + path + " holds no user on its first line";
        return false;
    }
    return true;
}

std::unique_ptr<Publisher> publisher_for(const PublishOptions& options, const station::BenchImages& images,
                                         const std::string& host, std::ostream& err, bool& failed) {
    failed = false;
    if (!options.url || !options.log) return nullptr;
    PublishConfig config;
    config.url = *options.url;
    auto parsed = parse_broker_url(config.url);
    if (auto* error = std::get_if<std::string>(&parsed)) {
        err << "wxr7305: " << *error << "\n";
        failed = true;
        return nullptr;
    }
    config.broker = std::get<BrokerUrl>(parsed);
    config.topic_prefix = options.topic.value_or(default_topic_prefix(host));
    config.log_path = *options.log;
    config.ca_file = options.ca;
    std::string error;
    if (options.auth && !read_auth_file(*options.auth, config.user, config.password, error)) {
        err << "wxr7305: " << error << "\n";
        failed = true;
        return nullptr;
    }
    config.station = options.station;
    // The ports: the --device names the station keeps to; none, every port.
    config.online = state_payload("online", config.station, host, firmware_of(images), json(options.devices));
    config.offline = state_payload("offline", config.station, host, nullptr, nullptr);
    auto publisher = start_publisher(std::move(config), err);
    failed = !publisher;
    return publisher;
}

}  // namespace wxr::publish
