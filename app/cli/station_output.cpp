#include "app/cli/station_output.h"

#include <ostream>

#include "app/cli/json_output.h"
#include "app/cli/progress.h"
#include "upgrade/compatibility.h"

namespace wxr::cli {

namespace {

class JsonOutput final : public StationListener {
public:
    explicit JsonOutput(Console& console) : console_(console) {}

    void ended(const StationVisit& visit, const StationStatus&) override {
        console_.out << report_json(*visit.report, visit.check) << std::flush;
    }
    void notice(const std::string& text) override { console_.err << text << std::flush; }
    void finished(const StationStatus& status) override {
        console_.out << summary_json(status.tally, status.left_alone) << std::flush;
    }

private:
    Console& console_;
};

// Bars while units are written, a line per result, the count at the end;
// one unit alone gets the dialog's words.
class TextOutput final : public StationListener {
public:
    TextOutput(OutputForm form, Console& console)
        : form_(form), console_(console),
          display_(console.out, console.terminal, /*labelled=*/form == OutputForm::Bench) {}

    void moved(const StationVisit& visit, const StationStatus& status) override {
        if (form_ != OutputForm::OneUnit || visit.visit.state != VisitState::Querying) return;
        console_.out << "Writing " << printable(to_utf8(visit.visit.path));
        if (std::string where = whereabouts(visit.visit.identity.location, visit.visit.identity.serial);
            !where.empty()) {
            console_.out << " (" << where << ")";
        }
        if (long others = status.left_alone.value_or(0); others > 0) {
            console_.out << "; " << others << " other fitting device" << (others == 1 ? "" : "s")
                         << " left alone (--all writes every one)";
        }
        console_.out << ".\n" << std::flush;
    }

    void ended(const StationVisit& visit, const StationStatus&) override {
        const RunReport& report = *visit.report;
        if (visit.run) display_.ended(*visit.run);
        if (form_ == OutputForm::OneUnit) return dialog_words(report, visit.check);
        std::string lines = result_line(report);
        if (visit.check) lines += "Simulated device " + printable(to_utf8(report.path)) + ": " + check_text(*visit.check) + "\n";
        display_.print(lines);
    }

    void refresh(const VisitTable& visits, const StationStatus&) override {
        std::vector<const DeviceRun*> going;
        for (const auto& [path, entry] : visits) {
            if (entry.visit.state == VisitState::Writing && entry.run) going.push_back(entry.run);
        }
        display_.update(going);
    }

    void notice(const std::string& text) override { console_.err << text << std::flush; }

    void finished(const StationStatus& status) override {
        if (form_ == OutputForm::Bench) console_.out << count_line(status.tally) << std::flush;
    }

private:
    // One unit: the dialog's words, why it failed, then what the simulated device holds.
    void dialog_words(const RunReport& report, const std::optional<SimulationCheck>& check) {
        display_.leave();
        if (report.result == RunResult::Success) {
            console_.out << to_utf8(kUpgradeSuccessText) << "\n";
        } else if (report.result == RunResult::Refused) {
            console_.err << printable(report.detail) << "\n";
        } else if (report.result == RunResult::NotWritten) {
            console_.err << "wxr7305: " << printable(to_utf8(report.path)) << " was not written: " << report.detail
                         << "\n";
        } else {
            console_.err << to_utf8(kUpgradeFailText) << "\n"
                         << "wxr7305: " << printable(to_utf8(report.path)) << ": " << printable(report.detail) << "\n";
        }
        if (!report.recorded) console_.err << "wxr7305: its result is not in the log: the log failed.\n";
        if (check) console_.out << "Simulated device: " << check_text(*check) << "\n";
        console_.out << std::flush;
        console_.err << std::flush;
    }

    OutputForm form_;
    Console& console_;
    ProgressDisplay display_;
};

}  // namespace

std::unique_ptr<StationListener> make_station_output(OutputForm form, Console& console) {
    if (form == OutputForm::Json) return std::make_unique<JsonOutput>(console);
    return std::make_unique<TextOutput>(form, console);
}

}  // namespace wxr::cli
