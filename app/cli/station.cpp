#include "app/cli/station.h"

#include <algorithm>
#include <map>
#include <ostream>
#include <set>

#include "app/cli/cli.h"
#include "app/cli/json_output.h"
#include "app/cli/output.h"
#include "app/cli/progress.h"
#include "app/cli/run_group.h"
#include "upgrade/compatibility.h"

namespace wxr::cli {

namespace {

// How often an idle station looks for new devices, on the device clock: a
// unit plugged in waits at most this long.
constexpr std::uint32_t kWatchPollMs = 500;

class Station {
public:
    Station(Session& session, RunPlan plan, const StationPlan& station, const Options& options, Console& console,
            LogFile* log)
        : session_(session), plan_(plan), station_(station), options_(options), console_(console), log_(log),
          gate_(console.stop, options.count),
          display_(console.out, console.terminal, /*labelled=*/station.mode != StationMode::One),
          group_(session.clock()) {
        plan_.gate = &gate_;
        plan_.probe = station.probe;
    }

    int run() {
        ArmedStop armed(console_.stop);
        for (const DevicePath& path : station_.paths) start(path);
        while (!console_.stop.leave_now()) {
            notice_stop();
            if (watching()) look_for_devices();
            if (group_.running() == 0) {
                if (!watching() || nothing_more_to_come()) break;
                idle();
                continue;
            }
            collect(group_.wait_for_ended(kRedrawPeriod));
        }
        if (console_.stop.leave_now()) notice_leaving();
        return finish();
    }

private:
    struct Seen {
        std::uint64_t since_ms = 0;
        std::uint64_t tried_ms = 0;  // when its last run started
        bool done = false;      // has its result while attached this time
        bool not_ours = false;  // failed the descriptor probe when last tried
    };

    bool watching() const {
        return station_.mode == StationMode::Watch && !console_.stop.requested() && !gate_.count_reached() &&
               !log_failed_;
    }

    // Simulated units that are all dealt with and will neither arrive nor
    // return: waiting longer cannot bring anything (on the virtual clock it
    // would spin through time for nothing).
    bool nothing_more_to_come() const {
        sim::SimHid* simulation = session_.simulation();
        if (!simulation || simulation->presence_changes_to_come()) return false;
        const std::uint64_t at = session_.clock().now_ms();
        return std::none_of(seen_.begin(), seen_.end(), [&](const auto& entry) {
            const Seen& seen = entry.second;
            return !seen.done && seen.not_ours && at - seen.since_ms < kFirstAnswerMs;
        });
    }

    // The idle poll, in steps short enough for Ctrl-C to be acted on at once.
    void idle() {
        for (std::uint32_t waited = 0; waited < kWatchPollMs && !console_.stop.requested(); waited += kStopCheckMs) {
            session_.clock().sleep_ms(kStopCheckMs);
        }
    }

    void start(const DevicePath& path) {
        running_.insert(path);
        group_.start(std::make_unique<DeviceRun>(session_, path, plan_));
    }

    void look_for_devices() {
        // Without the set of interfaces nothing is known to have gone: look again next time.
        auto listed = session_.channel().enumerate();
        if (!listed) return;
        std::set<DevicePath> now(listed->begin(), listed->end());
        // A unit that went away is new again when it comes back.
        std::erase_if(seen_, [&](const auto& entry) { return !now.contains(entry.first); });
        const std::uint64_t at = session_.clock().now_ms();
        for (const DevicePath& path : *listed) {
            auto [it, fresh] = seen_.try_emplace(path, Seen{at, at});
            Seen& seen = it->second;
            // An interface that is not ours may be one just plugged in: it is tried for a while,
            // a pause apart (a probe that fails at once would otherwise be repeated without end
            // at one instant of a virtual clock, and hammer the interface on the real one).
            bool retry = seen.not_ours && at - seen.since_ms < kFirstAnswerMs && at - seen.tried_ms >= kAnswerRetryMs;
            if (running_.contains(path) || seen.done || (seen.not_ours && !retry)) continue;
            seen.tried_ms = at;
            start(path);
        }
    }

    void collect(std::vector<std::unique_ptr<DeviceRun>> ended) {
        for (auto& run : ended) {
            const RunReport& report = run->report();
            running_.erase(report.path);
            auto seen = seen_.find(report.path);
            if (seen != seen_.end()) {
                seen->second.not_ours = report.result == RunResult::NotOurs;
                seen->second.done = !seen->second.not_ours;
            }
            if (!is_reported(report.result)) continue;
            auto check = check_simulated(session_, report);
            if (report.result == RunResult::Skipped || report.result == RunResult::Refused) check.reset();
            record(report, check);
            show(*run, check);
        }
        if (!options_.json) display_.update(group_.going());
    }

    // The log first: a result is shown only once it is on disk.
    void record(const RunReport& report, const std::optional<SimulationCheck>& check) {
        tally_.add(report.result);
        if (!log_ || log_failed_) return;
        std::string error;
        if (log_->append(log_json(report, check, utc_time_now(), host_name()), error)) return;
        log_failed_ = true;
        gate_.close();
        console_.err << "wxr7305: writing the log file " << log_->path() << " failed: " << error
                     << "; no further unit is started.\n"
                     << std::flush;
    }

    void show(const DeviceRun& run, const std::optional<SimulationCheck>& check) {
        const RunReport& report = run.report();
        if (options_.json) {
            console_.out << report_json(report, check) << std::flush;
            return;
        }
        display_.ended(run);
        if (station_.mode == StationMode::One) return show_dialog_words(report, check);
        std::string lines = result_line(report);
        if (check) lines += "Simulated device " + to_utf8(report.path) + ": " + check_text(*check) + "\n";
        display_.print(lines);
    }

    // One unit: the dialog's words, why it failed, then what the simulated device holds.
    void show_dialog_words(const RunReport& report, const std::optional<SimulationCheck>& check) {
        display_.leave();
        if (report.result == RunResult::Success) {
            console_.out << to_utf8(kUpgradeSuccessText) << "\n";
        } else if (report.result == RunResult::Refused) {
            console_.err << report.detail << "\n";
        } else {
            console_.err << to_utf8(kUpgradeFailText) << "\n"
                         << "wxr7305: " << to_utf8(report.path) << ": " << report.detail << "\n";
        }
        if (check) console_.out << "Simulated device: " << check_text(*check) << "\n";
        console_.out << std::flush;
        console_.err << std::flush;
    }

    int finish() {
        if (options_.json) {
            console_.out << summary_json(tally_, station_.left_alone) << std::flush;
        } else if (station_.mode != StationMode::One) {
            console_.out << count_line(tally_) << std::flush;
        }
        int code = exit_code_for(tally_);
        if (tally_.total() == 0 && station_.mode != StationMode::Watch) code = report_not_found(session_, console_.err);
        return log_failed_ ? worse(code, kExitOther) : code;
    }

    void notice_stop() {
        if (told_ || !console_.stop.requested()) return;
        told_ = true;
        console_.err << "wxr7305: stopping once the devices being written are done; "
                        "Ctrl-C again leaves at once, and a device left half-written may not start.\n"
                     << std::flush;
    }

    void notice_leaving() {
        console_.err << "wxr7305: leaving; nothing was being written.\n" << std::flush;
    }

    Session& session_;
    RunPlan plan_;
    const StationPlan& station_;
    const Options& options_;
    Console& console_;
    LogFile* log_;
    WriteGate gate_;
    ProgressDisplay display_;
    RunGroup group_;
    std::map<DevicePath, Seen> seen_;
    std::set<DevicePath> running_;
    ResultTally tally_;  // not the reports: a day of units costs no memory per unit
    bool log_failed_ = false;
    bool told_ = false;
};

}  // namespace

int run_station(Session& session, RunPlan plan, const StationPlan& station, const Options& options,
                Console& console, LogFile* log) {
    Station running(session, plan, station, options, console, log);
    return running.run();
}

}  // namespace wxr::cli
