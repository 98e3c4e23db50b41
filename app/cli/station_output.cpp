#include "app/cli/station_output.h"

#include <ostream>

#include "station/record_json.h"
#include "app/cli/output.h"
#include "app/cli/progress.h"
#include "app/cli/recap.h"
#include "app/cli/station_screen.h"
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

// A refusal's words without the dialog's text at their end, which is printed on its own line.
std::string without_dialog_text(const RunReport& report) {
    std::string text = report.detail;
    const std::string dialog = report.dialog_text.substr(0, report.dialog_text.find_last_not_of(' ') + 1);
    if (!dialog.empty() && text.ends_with("; " + dialog)) text.resize(text.size() - dialog.size() - 2);
    return text;
}

// Plain lines, each flushed as it comes: progress by tenths, a line per
// result, the count and the recap at the end; one unit alone gets the
// dialog's words (and its bar on a terminal).
class TextOutput final : public StationListener {
public:
    TextOutput(OutputForm form, Console& console, std::vector<std::string> retry)
        : form_(form), console_(console), retry_(std::move(retry)),
          display_(console.out, console.terminal && form == OutputForm::OneUnit, /*labelled=*/form == OutputForm::Bench) {}

    void moved(const StationVisit& visit, const StationStatus& status) override {
        if (form_ == OutputForm::OneUnit && visit.visit.state == VisitState::Writing && visit.run) writing(visit, status);
    }

    void ended(const StationVisit& visit, const StationStatus&) override {
        const RunReport& report = *visit.report;
        if (visit.run) display_.ended(*visit.run);
        if (form_ == OutputForm::OneUnit) return dialog_words(report, visit.check);
        console_.out << result_line(report);
        if (visit.check) console_.out << "Simulated device " << printable(to_utf8(report.path)) << ": " << check_text(*visit.check) << "\n";
        console_.out << std::flush;
    }

    void refresh(const VisitTable& visits, const StationStatus& status) override {
        if (status.watching && !told_watching_) {
            told_watching_ = true;
            console_.err << "wxr7305: waiting for units (Ctrl-C to stop).\n" << std::flush;
        }
        std::vector<const DeviceRun*> going;
        for (const auto& [path, entry] : visits) {
            if (entry.visit.state == VisitState::Writing && entry.run) going.push_back(entry.run);
        }
        display_.update(going);
    }

    void notice(const std::string& text) override {
        display_.leave();
        console_.err << text << std::flush;
    }

    void finished(const StationStatus& status) override {
        if (form_ != OutputForm::Bench) return;
        console_.out << recap_text(status.unwritten, retry_, RecapStyle{}) << count_line(status.tally) << std::flush;
    }

private:
    // "; 2 other fitting devices left alone (--all writes every one)": only
    // units an image fits are called fitting, and --all writes only those.
    static std::string left_alone_words(long others, long unfit) {
        const long fitting = others - unfit;
        const auto plural = [](long n) { return n == 1 ? "" : "s"; };
        std::string words;
        if (fitting > 0) {
            words = "; " + std::to_string(fitting) + " other fitting device" + plural(fitting) +
                    " left alone (--all writes every one)";
        }
        if (unfit == 0) return words;
        if (fitting > 0) return words + ", and " + std::to_string(unfit) + " unit" + plural(unfit) + " the firmware does not fit";
        return "; left " + std::to_string(unfit) + " other unit" + plural(unfit) +
               " alone: the firmware does not fit " + (unfit == 1 ? "it" : "them");
    }

    // "Writing sim:0 (at usb-1.1): version 60 → 57, an older firmware." once the query says it fits.
    void writing(const StationVisit& visit, const StationStatus& status) {
        console_.out << "Writing " << printable(to_utf8(visit.visit.path));
        if (std::string where = whereabouts(visit.visit.identity.location, visit.visit.identity.serial); !where.empty()) {
            console_.out << " (" << where << ")";
        }
        if (std::string older = downgrade_words(visit.run->device().version, visit.run->image().info.version);
            !older.empty()) {
            console_.out << ": " << older;
        }
        console_.out << left_alone_words(status.left_alone.value_or(0), status.left_alone_unfit) << ".\n"
                     << std::flush;
    }

    // One unit: the dialog's words, why it failed, then what the simulated device holds.
    void dialog_words(const RunReport& report, const std::optional<SimulationCheck>& check) {
        display_.leave();
        const std::string path = printable(to_utf8(report.path));
        if (report.result == RunResult::Success) {
            console_.out << to_utf8(kUpgradeSuccessText) << "\n";
        } else if (report.result == RunResult::Refused) {
            if (!report.dialog_text.empty()) console_.err << printable(report.dialog_text) << "\n";
            console_.err << "wxr7305: " << path << " refused: " << printable(without_dialog_text(report)) << "\n";
        } else if (report.result == RunResult::NotWritten) {
            console_.err << "wxr7305: " << path << " was not written: " << report.detail << "\n";
        } else {
            console_.err << to_utf8(kUpgradeFailText) << "\n"
                         << "wxr7305: " << path << ": " << printable(report.detail) << "\n";
        }
        if (!report.recorded) console_.err << "wxr7305: its result is not in the log: the log failed.\n";
        if (check) console_.out << "Simulated device: " << check_text(*check) << "\n";
        console_.out << std::flush;
        console_.err << std::flush;
    }

    OutputForm form_;
    Console& console_;
    std::vector<std::string> retry_;
    ProgressDisplay display_;
    bool told_watching_ = false;
};

}  // namespace

std::unique_ptr<StationListener> make_station_output(OutputForm form, Console& console, BenchSetup setup) {
    if (form == OutputForm::Json) return std::make_unique<JsonOutput>(console);
    if (form == OutputForm::Bench && console.terminal) return make_station_screen(console, std::move(setup));
    return std::make_unique<TextOutput>(form, console, std::move(setup.retry_command));
}

}  // namespace wxr::cli
