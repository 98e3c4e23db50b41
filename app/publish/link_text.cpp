// The link as the page's line says it to the person at the bench.
#include <algorithm>

#include "app/publish/publisher.h"

namespace wxr::publish {

namespace {

// Up to this long a wait is said in seconds, up to the next in minutes, then in hours.
constexpr long long kSecondsShown = 60;
constexpr long long kMinutesShown = 120 * 60;

std::string span(long long seconds) {
    seconds = std::max(0LL, seconds);
    if (seconds < kSecondsShown) return std::to_string(seconds) + " s";
    if (seconds < kMinutesShown) return std::to_string(seconds / 60) + " min";
    return std::to_string(seconds / 3600) + " h";
}

std::string records(long long n) { return std::to_string(n) + (n == 1 ? " record" : " records"); }

std::string reason(LinkProblem why) {
    switch (why) {
        case LinkProblem::Unreachable: return "broker unreachable";
        case LinkProblem::Refused: return "broker refused the connection";
        case LinkProblem::Auth: return "broker refused (auth)";
        case LinkProblem::Tls: return "TLS failure";
        case LinkProblem::None: break;
    }
    return "connecting";
}

}  // namespace

std::string link_text(const PublishLink& link, long long now) {
    const bool behind = link.unsent_bytes > 0;
    if (link.connected) {
        if (!behind) return "records sent";
        std::string text = "sending: " + records(link.unsent_records) + " left";
        if (link.oldest_unsent && now - *link.oldest_unsent >= kSecondsShown) {
            text += ", the oldest from " + span(now - *link.oldest_unsent) + " ago";
        }
        return text;
    }
    if (!behind) return "records sent; not connected: " + reason(link.why);
    if (!link.oldest_unsent) return records(link.unsent_records) + " not sent: " + reason(link.why);
    return "not sent for " + span(now - *link.oldest_unsent) + ": " + reason(link.why);
}

}  // namespace wxr::publish
