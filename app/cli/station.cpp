#include "app/cli/station.h"

#include <algorithm>
#include <map>
#include <ostream>
#include <set>

#include "app/cli/cli.h"
#include "app/cli/json_output.h"
#include "app/cli/output.h"
#include "app/cli/side_by_side.h"

namespace wxr::cli {

namespace {

// How often an idle station looks for new devices, on the device clock: a
// unit plugged in waits at most this long.
constexpr std::uint32_t kWatchPollMs = 500;
// A unit just plugged in may not answer its first probe: it is probed on
// this many polls before it counts as another kind of interface.
constexpr int kProbeTries = 3;

class Station {
public:
    Station(Session& session, const RunPlan& plan, const Options& options, Console& console)
        : session_(session), plan_(plan), options_(options), console_(console),
          display_(console.out, console.terminal, /*labelled=*/true), group_(session.clock()) {}

    int run() {
        ArmedStop armed(console_.stop);
        while (true) {
            notice_stop(console_, told_);
            if (!finishing()) look_for_devices();
            if (group_.running() == 0) {
                if (finishing() || nothing_more_to_come()) break;
                session_.clock().wait_for(kWatchPollMs, [this] { return console_.stop.requested(); });
                continue;
            }
            collect(group_.wait_for_ended(kRedrawPeriod));
        }
        if (!options_.json) console_.out << count_line(tally_) << std::flush;
        return tally_.total() == 0 ? kExitSuccess : exit_code_for(tally_);
    }

private:
    struct Seen {
        int failed_probes = 0;
        bool taken = false;  // written (or skipped) while attached this time
    };

    bool finishing() const { return console_.stop.requested() || (options_.count && written_ >= *options_.count); }
    // Simulated units that are all dealt with and will neither arrive nor
    // return: waiting longer cannot bring anything.
    bool nothing_more_to_come() const {
        sim::SimHid* simulation = session_.simulation();
        if (!simulation || simulation->presence_changes_to_come()) return false;
        return std::none_of(seen_.begin(), seen_.end(), [](const auto& entry) {
            return !entry.second.taken && entry.second.failed_probes < kProbeTries;
        });
    }
    bool room_for_another() const {
        return !options_.count || written_ + static_cast<long>(group_.running()) < *options_.count;
    }

    void look_for_devices() {
        // Without the set of interfaces nothing is known to have gone: look again next time.
        auto listed = session_.channel().enumerate();
        if (!listed) return;
        const std::vector<DevicePath>& present = *listed;
        std::set<DevicePath> now(present.begin(), present.end());
        // A unit that went away is new again when it comes back.
        std::erase_if(seen_, [&](const auto& entry) { return !now.contains(entry.first); });
        std::vector<DevicePath> fresh;
        for (const DevicePath& path : present) {
            Seen& seen = seen_[path];
            if (!seen.taken && seen.failed_probes < kProbeTries && !writing_.contains(path)) fresh.push_back(path);
        }
        if (fresh.empty()) return;
        DeviceContext context = session_.context();
        std::vector<DevicePath> fitting = probe_paths(context, fresh);
        for (const DevicePath& path : fresh) {
            if (std::find(fitting.begin(), fitting.end(), path) == fitting.end()) ++seen_[path].failed_probes;
        }
        for (const DevicePath& path : fitting) {
            if (!room_for_another()) break;
            seen_[path].taken = true;
            writing_.insert(path);
            group_.start(std::make_unique<DeviceRun>(session_, path, plan_));
        }
    }

    void collect(std::vector<std::unique_ptr<DeviceRun>> ended) {
        for (auto& run : ended) {
            const RunReport& report = run->report();
            writing_.erase(report.path);
            if (report.result != RunResult::Skipped) ++written_;
            tally_.add(report.result);
            auto check = check_simulated(session_, report.path);
            if (options_.json) {
                console_.out << report_json(report, check) << std::flush;
                continue;
            }
            display_.ended(*run);
            std::string lines = result_line(report);
            if (check && report.result != RunResult::Skipped) {
                lines += "Simulated device " + to_utf8(report.path) + ": " + check_text(*check) + "\n";
            }
            display_.print(lines);
        }
        if (!options_.json) display_.update(group_.going());
    }

    Session& session_;
    const RunPlan& plan_;
    const Options& options_;
    Console& console_;
    ProgressDisplay display_;
    RunGroup group_;
    std::map<DevicePath, Seen> seen_;
    std::set<DevicePath> writing_;
    ResultTally tally_;
    long written_ = 0;
    bool told_ = false;
};

}  // namespace

int run_station(Session& session, const RunPlan& plan, const Options& options, Console& console) {
    Station station(session, plan, options, console);
    return station.run();
}

}  // namespace wxr::cli
