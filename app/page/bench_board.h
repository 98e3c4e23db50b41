// The station as --serve shows it: a listener that turns each visit's moves
// and results into the tiles of the bench's ports, the last results and the
// counts, and publishes them as a snapshot. Its callbacks run on the
// station's thread and only take the board's own short lock; HTTP threads
// read or wait for snapshots and never hold that lock while they work.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "station/image_choice.h"
#include "app/page/bench_snapshot.h"
#include "station/port_names.h"
#include "station/station_events.h"
#include "device/hid_platform.h"

namespace wxr::page {

using namespace wxr::station;

// The page's list of results.
inline constexpr std::size_t kShownResults = 100;

class BenchBoard final : public StationListener {
public:
    // clock: the session's, read on the station's thread only.
    BenchBoard(const BenchImages& images, const PortNames& names, const Clock& clock);

    void moved(const StationVisit& visit, const StationStatus& status) override;
    void ended(const StationVisit& visit, const StationStatus& status) override;
    void refresh(const VisitTable& visits, const StationStatus& status) override;
    void notice(const std::string& text) override;
    void finished(const StationStatus& status) override;

    // --- Any thread ---
    std::shared_ptr<const BenchSnapshot> snapshot() const;
    // A snapshot newer than `seen`, or the current one after `most` or once closed.
    std::shared_ptr<const BenchSnapshot> wait_newer(std::uint64_t seen, std::chrono::milliseconds most) const;
    // No snapshot follows: waiters return at once.
    void close();
    bool closed() const;
    // The station watched for units at some time (--watch): its end is worth a last scrape.
    bool watched() const { return watched_.load(); }
    // Lines another part of the station adds to /metrics (--publish's link).
    void add_metrics(std::function<std::string()> lines);
    std::string added_metrics() const;
    // The line's record as the page shows it (--publish's link), asked for
    // on the station's thread at each refresh.
    void add_link(std::function<LinkView()> line);

private:
    struct Port {
        std::string key;    // the location, or the path when it has none
        std::string label;
        bool shown = false;  // named, or a unit of ours was there
        std::map<std::uint64_t, PortView> present;  // the visits there now, by number
        std::string last, last_serial, last_why;
    };
    struct Seen {
        std::uint64_t admitted_ms = 0;
        bool identified = false;
    };

    Port& port_of(const StationVisit& visit);
    PortView view_of(const StationVisit& visit);
    void show(const StationVisit& visit);
    void count(const StationVisit& visit);
    void take_status(const StationStatus& status);
    std::optional<LinkView> current_link() const;
    void publish();

    // Station thread only.
    const Clock& clock_;
    std::vector<FirmwareView> firmware_;
    std::uint64_t start_ms_;
    std::map<std::string, Port> ports_;
    std::vector<const Port*> order_;  // ports_ in the bench's order
    std::map<std::uint64_t, Seen> seen_;  // visits still at the station
    std::shared_ptr<const std::vector<ResultView>> results_;
    std::shared_ptr<const BenchCounts> counts_;
    std::set<std::string> failed_serials_;  // a unit seen failing before, for the first-pass yield
    std::uint64_t first_tries_ = 0, first_passes_ = 0;
    std::vector<std::string> notices_;
    StationStatus status_;
    std::optional<LinkView> link_;
    bool changed_ = true;
    std::uint64_t last_publish_ms_ = 0;

    // Shared with the HTTP threads.
    mutable std::mutex mutex_;
    std::function<std::string()> added_metrics_;
    std::function<LinkView()> link_line_;
    mutable std::condition_variable published_;
    std::shared_ptr<const BenchSnapshot> current_;
    std::uint64_t version_ = 0;
    bool closed_ = false;
    std::atomic<bool> watched_{false};
};

}  // namespace wxr::page
