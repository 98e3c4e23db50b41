#include "app/page/bench_board.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "station/unit_text.h"
#include "station/record_json.h"
#include "station/natural_order.h"
#include "device/channel.h"

namespace wxr::page {

namespace {

// Units per hour fall while nothing happens: the page is told at this pace even then.
constexpr std::uint64_t kQuietPublishMs = 5000;
// Failed units remembered to tell a second try from a first one.
constexpr std::size_t kMaxFailedSerials = 10000;
constexpr std::size_t kShownNotices = 5;

// Which of several units at one port its tile shows: the one being worked on first.
int rank(const std::string& state) {
    if (state == "writing") return 0;
    if (state == "checking") return 1;
    if (state == "waiting") return 2;
    if (state == "probing") return 4;
    if (state == "not-ours") return 5;
    return 3;  // a result
}

std::string state_word(const StationStatus& status) {
    if (status.ended) return "ended";
    if (status.stopping) return "stopping";
    if (status.count_reached) return "count reached";
    return status.watching ? "watching" : "running";
}

std::string shown_result(RunResult result) {
    return result == RunResult::NoAnswer ? "failed" : result_name(result);
}

std::string where_of(const RunReport& report) {
    std::string where = report.phase;
    if (report.block >= 0) where += (where.empty() ? "" : ", ") + std::string("block ") + std::to_string(report.block);
    return where;
}

std::string model_of(std::uint8_t model) {
    std::u16string name = model_name_of(model);
    return name.empty() ? "model " + std::to_string(model) : to_utf8(name);
}

void apply_report(const RunReport& report, PortView& view) {
    view.state = shown_result(report.result);
    view.result = result_name(report.result);
    view.percent.reset();
    view.seconds.reset();
    if (report.result != RunResult::NotWritten) view.seconds = static_cast<double>(report.ms) / 1000.0;
    if (report.answered) view.model = model_text(report.device);
    view.where = where_of(report);
    view.why = report.detail;
}

bool same_status(const StationStatus& a, const StationStatus& b) {
    return a.watching == b.watching && a.stopping == b.stopping && a.count_reached == b.count_reached &&
           a.log_failed == b.log_failed && a.ended == b.ended && a.tally.total() == b.tally.total();
}

bool same_view(const PortView& a, const PortView& b) {
    return a.state == b.state && a.percent == b.percent && a.seconds == b.seconds && a.model == b.model;
}

}  // namespace

BenchBoard::BenchBoard(const BenchImages& images, const PortNames& names, const Clock& clock)
    : clock_(clock), start_ms_(clock.now_ms()),
      results_(std::make_shared<std::vector<ResultView>>()), counts_(std::make_shared<BenchCounts>()) {
    for (const auto& image : images) {
        firmware_.push_back({image->name, model_text(image->info), sensor_text(image->info),
                             image_checksum_text(image->info), image->info.version, image->info.size});
    }
    for (const auto& [location, label] : names.entries) {
        Port& port = ports_[location];
        port = {location, label, true};
        order_.push_back(&port);
    }
    std::sort(order_.begin(), order_.end(),
              [](const Port* a, const Port* b) { return natural_less(from_utf8(a->label), from_utf8(b->label)); });
    publish();
}

BenchBoard::Port& BenchBoard::port_of(const StationVisit& visit) {
    const std::string& location = visit.visit.identity.location;
    std::string key = location.empty() ? to_utf8(visit.visit.path) : location;
    auto [it, added] = ports_.try_emplace(key);
    if (!added) return it->second;
    // Named ports are there from the start; another is called by its location.
    it->second = {key, key};
    auto at = std::lower_bound(order_.begin(), order_.end(), &it->second, [](const Port* a, const Port* b) {
        return natural_less(from_utf8(a->label), from_utf8(b->label));
    });
    order_.insert(at, &it->second);
    return it->second;
}

PortView BenchBoard::view_of(const StationVisit& entry) {
    const Visit& visit = entry.visit;
    const Seen& seen = seen_[visit.number];
    PortView view;
    view.serial = visit.identity.serial;
    if (seen.identified) view.model = model_of(entry.reply.model);
    const double since_admitted = static_cast<double>(clock_.now_ms() - seen.admitted_ms) / 1000.0;
    switch (visit.state) {
        case VisitState::Seen:
        case VisitState::Probing: view.state = "probing"; break;
        case VisitState::NotOurs: view.state = "not-ours"; break;
        case VisitState::Waiting: view.state = "waiting"; break;
        case VisitState::Querying:
            view.state = "checking";
            view.seconds = since_admitted;
            break;
        case VisitState::Writing:
            view.state = "writing";
            view.seconds = since_admitted;
            if (entry.run && entry.run->range() > 0) {
                view.percent = std::clamp(entry.run->progress() * 100 / entry.run->range(), 0, 100);
            }
            break;
        case VisitState::Ended:
        case VisitState::Departed:
            if (entry.report) apply_report(*entry.report, view);
            break;
    }
    // Whole tenths, rounded as the list rounds: a tile changes when what it shows does.
    if (view.seconds) view.seconds = std::round(*view.seconds * 10) / 10.0;
    return view;
}

void BenchBoard::show(const StationVisit& entry) {
    Port& port = port_of(entry);
    const std::uint64_t number = entry.visit.number;
    if (entry.visit.state == VisitState::Departed) {
        port.present.erase(number);
        seen_.erase(number);
    } else {
        port.present[number] = view_of(entry);
        if (seen_[number].identified || entry.report) port.shown = true;
    }
    changed_ = true;
}

void BenchBoard::moved(const StationVisit& visit, const StationStatus& status) {
    take_status(status);
    if (visit.visit.state == VisitState::Waiting) seen_[visit.visit.number].identified = true;
    if (visit.visit.state == VisitState::Querying) seen_[visit.visit.number].admitted_ms = clock_.now_ms();
    show(visit);
    publish();
}

void BenchBoard::ended(const StationVisit& visit, const StationStatus& status) {
    take_status(status);
    count(visit);  // its tile follows with its move to Ended
    changed_ = true;
    publish();
}

// The list of results, the metrics' counts, the yield and the port's last result.
void BenchBoard::count(const StationVisit& entry) {
    const RunReport& report = *entry.report;
    Port& port = port_of(entry);
    PortView view = view_of(entry);
    apply_report(report, view);
    ResultView result{entry.visit.number,
                      std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch()).count(),
                      port.label, report.serial, view.model.empty() ? "unknown" : view.model,
                      result_name(report.result), view.where, report.detail,
                      report.image ? report.image->name : "", static_cast<double>(report.ms) / 1000.0};
    auto results = std::make_shared<std::vector<ResultView>>();
    results->push_back(result);
    results->insert(results->end(), results_->begin(),
                    results_->begin() + static_cast<std::ptrdiff_t>(std::min(results_->size(), kShownResults - 1)));
    results_ = std::move(results);

    auto counts = std::make_shared<BenchCounts>(*counts_);
    ++counts->units[{result.result, result.model, result.port}];
    if (report.result == RunResult::Success) {
        auto bucket = std::lower_bound(kSecondsBuckets.begin(), kSecondsBuckets.end(), result.seconds);
        if (bucket != kSecondsBuckets.end()) ++counts->seconds_buckets[static_cast<std::size_t>(bucket - kSecondsBuckets.begin())];
        ++counts->seconds_count;
        counts->seconds_sum += result.seconds;
    }
    counts_ = std::move(counts);

    const bool tried = report.result == RunResult::Success || report.result == RunResult::Failed ||
                       report.result == RunResult::NoAnswer;
    const bool again = !report.serial.empty() && failed_serials_.contains(report.serial);
    if (tried && !again) {
        ++first_tries_;
        if (report.result == RunResult::Success) ++first_passes_;
    }
    if (tried && report.result != RunResult::Success && !report.serial.empty() &&
        failed_serials_.size() < kMaxFailedSerials) {
        failed_serials_.insert(report.serial);
    }
    port.last = view.state;
    port.last_serial = report.serial;
    port.last_why = view.why;
}

void BenchBoard::refresh(const VisitTable& visits, const StationStatus& status) {
    take_status(status);
    for (const auto& [path, entry] : visits) {
        if (entry.visit.state != VisitState::Querying && entry.visit.state != VisitState::Writing) continue;
        PortView& shown = port_of(entry).present[entry.visit.number];
        PortView now = view_of(entry);
        if (!same_view(shown, now)) {
            shown = std::move(now);
            changed_ = true;
        }
    }
    publish();
}

void BenchBoard::notice(const std::string& text) {
    std::string line = text;
    if (line.rfind("wxr7305: ", 0) == 0) line.erase(0, 9);
    while (!line.empty() && line.back() == '\n') line.pop_back();
    notices_.push_back(line);
    if (notices_.size() > kShownNotices) notices_.erase(notices_.begin());
    changed_ = true;
    publish();
}

void BenchBoard::finished(const StationStatus& status) {
    take_status(status);
    publish();
}

void BenchBoard::take_status(const StationStatus& status) {
    StationStatus now = status;
    // A log that failed stays shown as failed until the end: a scrape between must not miss it.
    now.log_failed = now.log_failed || status_.log_failed;
    if (now.watching) watched_ = true;
    if (!same_status(now, status_)) changed_ = true;
    status_ = std::move(now);
}

void BenchBoard::publish() {
    if (auto link = current_link(); link != link_) {
        link_ = std::move(link);
        changed_ = true;
    }
    const std::uint64_t now = clock_.now_ms();
    if (!changed_ && now - last_publish_ms_ < kQuietPublishMs) return;
    changed_ = false;
    last_publish_ms_ = now;
    auto snapshot = std::make_shared<BenchSnapshot>();
    snapshot->state = state_word(status_);
    snapshot->station = status_.station;
    snapshot->log_failed = status_.log_failed;
    snapshot->ended = status_.ended;
    snapshot->notices = notices_;
    snapshot->link = link_;
    snapshot->firmware = firmware_;
    snapshot->tally = status_.tally;
    snapshot->count = status_.count;
    const std::size_t written = status_.tally.of(RunResult::Success);
    if (written > 0 && now > start_ms_) {
        snapshot->units_per_hour = static_cast<double>(written) * 3'600'000.0 / static_cast<double>(now - start_ms_);
    }
    if (first_tries_ > 0) snapshot->first_pass_yield = static_cast<double>(first_passes_) / static_cast<double>(first_tries_);
    for (const Port* port : order_) {
        if (!port->shown) continue;
        PortView view;
        for (const auto& [number, present] : port->present) {
            if (view.state == "empty" || rank(present.state) <= rank(view.state)) view = present;
        }
        if (view.state == "writing") ++snapshot->writing;
        view.label = port->label;
        view.location = port->key;
        view.last = port->last;
        view.last_serial = port->last_serial;
        view.last_why = port->last_why;
        snapshot->ports.push_back(std::move(view));
    }
    snapshot->results = results_;
    snapshot->counts = counts_;
    {
        std::lock_guard lock(mutex_);
        snapshot->version = ++version_;
        current_ = std::move(snapshot);
    }
    published_.notify_all();
}

std::shared_ptr<const BenchSnapshot> BenchBoard::snapshot() const {
    std::lock_guard lock(mutex_);
    return current_;
}

std::shared_ptr<const BenchSnapshot> BenchBoard::wait_newer(std::uint64_t seen, std::chrono::milliseconds most) const {
    std::unique_lock lock(mutex_);
    published_.wait_for(lock, most, [&] { return closed_ || current_->version > seen; });
    return current_;
}

void BenchBoard::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    published_.notify_all();
}

bool BenchBoard::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

void BenchBoard::add_metrics(std::function<std::string()> lines) {
    std::lock_guard lock(mutex_);
    added_metrics_ = std::move(lines);
}

void BenchBoard::add_link(std::function<LinkView()> line) {
    std::lock_guard lock(mutex_);
    link_line_ = std::move(line);
}

std::optional<LinkView> BenchBoard::current_link() const {
    std::function<LinkView()> line;
    {
        std::lock_guard lock(mutex_);
        line = link_line_;
    }
    return line ? std::optional<LinkView>(line()) : std::nullopt;
}

std::string BenchBoard::added_metrics() const {
    std::function<std::string()> lines;
    {
        std::lock_guard lock(mutex_);
        lines = added_metrics_;
    }
    return lines ? lines() : std::string();
}

}  // namespace wxr::page
