// The bench as the page and the metrics show it at one moment: made on the
// station's thread from its visits and results, then never changed, so that
// any number of HTTP threads read it without a lock.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "station/unit_tally.h"

namespace wxr::page {

using namespace wxr::station;

// A port's tile: the unit there now, or "empty" with what the last one ended as.
struct PortView {
    std::string label;     // from --port-names, else the location (or the path)
    std::string location;
    // empty, probing, not-ours, waiting, checking, writing, success, failed,
    // refused, skipped, not-written
    std::string state = "empty";
    std::string result;    // the run's own word once ended (no-answer is shown as failed)
    std::optional<int> percent;      // writing
    std::optional<double> seconds;   // checking, writing, ended
    std::string serial;
    std::string model;     // as the unit named itself; empty before it did
    std::string where;     // failed: the step ("chunks, block 7")
    std::string why;       // failed, refused, skipped, not written
    std::string last;      // empty: how the last unit there ended
    std::string last_serial;
    std::string last_why;  // ... and why, when it failed
};

struct ResultView {
    std::uint64_t visit = 0;
    std::int64_t at_unix_ms = 0;
    std::string port, serial, model, result, where, why, image;
    double seconds = 0;
};

struct FirmwareView {
    std::string file, model, sensor, checksum;
    int version = 0;
    std::int32_t size = 0;
};

// The line's record (--publish) as the page shows it: made by the command
// line, which knows the publisher; the page only shows it.
struct LinkView {
    std::string text;   // "records sent", "not sent for 12 min: broker unreachable"
    bool sent = false;  // connected, nothing left to send
    bool operator==(const LinkView&) const = default;
};

// Upper bounds of the histogram of a write's seconds; +Inf follows.
inline constexpr std::array<double, 11> kSecondsBuckets{1, 2, 3, 5, 10, 15, 20, 30, 60, 120, 300};

// What the metrics count over the station's whole run.
struct BenchCounts {
    std::map<std::tuple<std::string, std::string, std::string>, std::uint64_t> units;  // result, model, port
    std::array<std::uint64_t, kSecondsBuckets.size()> seconds_buckets{};  // each bucket alone, not summed
    std::uint64_t seconds_count = 0;
    double seconds_sum = 0;
};

struct BenchSnapshot {
    std::uint64_t version = 0;  // grows with every change
    std::string state;          // running, watching, stopping, count reached, ended
    std::string station;        // this run's id: the log's records and the page's visits pair by it
    bool log_failed = false;
    bool ended = false;         // the station's last state
    std::vector<std::string> notices;  // for the person at the bench, oldest first
    std::optional<LinkView> link;      // with --publish only
    std::vector<FirmwareView> firmware;
    ResultTally tally;
    std::optional<long> count;
    std::optional<double> units_per_hour;
    std::optional<double> first_pass_yield;  // 0..1
    int writing = 0;
    std::vector<PortView> ports;  // in the bench's order
    std::shared_ptr<const std::vector<ResultView>> results;  // newest first
    std::shared_ptr<const BenchCounts> counts;

    // status.json, made once by whichever reader asks first.
    const std::string& as_json() const;

private:
    // Made on first use, under a lock rather than std::call_once: the mingw
    // build's call_once crashed under wine while viewers asked for it.
    mutable std::mutex json_mutex_;
    mutable std::string json_;
    mutable bool json_made_ = false;
};

// The snapshot as /status.json and each server-sent event carry it.
std::string status_json(const BenchSnapshot& snapshot);
// The snapshot in Prometheus' text format.
std::string metrics_text(const BenchSnapshot& snapshot);

}  // namespace wxr::page
