// --publish: the station's log sent on to the line's MQTT broker. The log is
// the spool: a thread of its own reads it from the cursor (LOG.sent),
// publishes each record at QoS 1 in log order and moves the cursor on as the
// broker acknowledges. The station's writes never wait for it; a broker that
// is down only leaves more of the file to send.
#pragma once

#include <atomic>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "station/station_events.h"
#include "app/publish/publish_url.h"

namespace wxr::publish {

struct PublishConfig {
    BrokerUrl broker;
    std::string url;           // as given, for messages
    std::string topic_prefix;  // PREFIX/record, PREFIX/state
    std::string log_path;
    std::string user, password;          // from --publish-auth; empty: none
    std::optional<std::string> ca_file;  // --publish-ca
    std::string station;       // the station's id, as its records carry it
    std::string online;        // the retained state payload at connect
    std::string offline;       // the will, and the state at a clean stop
};

// Why the link is down, as far as the client library tells.
enum class LinkProblem { None, Unreachable, Refused, Auth, Tls };

// How the link stands, for the page and /metrics.
struct PublishLink {
    bool connected = false;
    long long unsent_bytes = 0;    // of the log past the cursor
    long long unsent_records = 0;  // lines of the file being sent past the cursor
    std::string problem;         // why it is not connected, when known
    LinkProblem why = LinkProblem::None;
    // The `time` of the oldest record not acknowledged (Unix seconds); none
    // when all are, or when that line carries no time.
    std::optional<long long> oldest_unsent;
};

class Publisher : public station::StationListener {
public:
    virtual ~Publisher() = default;
    // Any thread; also after stop().
    virtual PublishLink link() const = 0;
    // Sends what is left for a bounded time, says `offline` and ends the thread.
    virtual void stop() = 0;
};

// The link as Prometheus text: wxr7305_publish_connected, wxr7305_records_unpublished.
std::string metrics_text(const PublishLink& link);

// The link as the page's line says it at `now` (Unix seconds): "records
// sent", or "not sent for 12 min: broker unreachable".
std::string link_text(const PublishLink& link, long long now);

// Starts the publisher's thread; nullptr (after a message on `err`) when the
// build has no MQTT client or the log cannot be read. Records still unsent at
// the end are sent by the next start.
std::unique_ptr<Publisher> start_publisher(PublishConfig config, std::ostream& err);

// Reads --publish-auth FILE: the user on its first line, the password on the
// second. false, with the reason, when it cannot be read.
bool read_auth_file(const std::string& path, std::string& user, std::string& password, std::string& error);

}  // namespace wxr::publish
