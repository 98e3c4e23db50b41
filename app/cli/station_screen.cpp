#include "app/cli/station_screen.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "app/cli/output.h"
#include "app/cli/progress.h"
#include "app/cli/recap.h"
#include "station/station_book.h"

namespace wxr::cli {

namespace {

// Rows of the screen the region leaves to the lines above it: the last
// results stay in sight.
constexpr int kRowsKeptAbove = 4;
// The label column takes at most this share of the width: the bar needs the rest.
constexpr std::size_t kLabelShare = 3;
constexpr std::size_t kMinLabel = 8;
constexpr int kMaxBar = 40;
constexpr int kMinBar = 8;
// A row is ranked by tenths of the way: finer would reorder rows on every redraw.
constexpr int kRankSteps = 10;
constexpr char kDot[] = " \u00b7 ";

int rank(const RunRow& row) {
    if (!row.writing) return -1;
    if (row.range <= 0) return kRankSteps;
    return static_cast<int>(std::min<std::int64_t>(std::int64_t{row.value} * kRankSteps / row.range, kRankSteps));
}

std::string row_line(const RunRow& row, std::size_t label_columns, std::size_t columns) {
    std::string line = fit_columns_keep_end(row.label, label_columns) + "  ";
    if (!row.writing) return line + "asking its version, model and sensor";
    const int fixed = static_cast<int>(text_columns(progress_bar(row.value, row.range, row.bytes, 0)));
    const int room = static_cast<int>(columns) - 1 - static_cast<int>(text_columns(line)) - fixed;
    if (room < kMinBar) return line + progress_amount(row.value, row.range, row.bytes);
    return line + progress_bar(row.value, row.range, row.bytes, std::min(room, kMaxBar));
}

}  // namespace

std::string status_line(const StationStatus& status) {
    std::string line;
    if (status.stopping) {
        line = stopping_text(status.writing);
    } else if (status.writing > 0) {
        line = "writing " + std::to_string(status.writing) +
               (status.watching ? ", waiting for more units (Ctrl-C to stop)" : " (Ctrl-C to stop)");
    } else {
        line = status.watching ? "waiting for units (Ctrl-C to stop)" : "looking at the units";
    }
    if (status.count) line += kDot + std::string("count ") + std::to_string(status.count_written) + " of " + std::to_string(*status.count);
    if (std::string sums = standing_counts(status.tally); !sums.empty()) line += kDot + sums;
    return line;
}

std::vector<std::string> station_frame(std::vector<RunRow> rows, const StationStatus& status, TerminalSize size) {
    const std::size_t columns = static_cast<std::size_t>(std::max(size.columns, 2));
    const std::size_t height = static_cast<std::size_t>(std::max(size.rows - kRowsKeptAbove, 1));
    std::stable_sort(rows.begin(), rows.end(), [](const RunRow& a, const RunRow& b) { return rank(a) > rank(b); });
    std::size_t shown = std::min(rows.size(), height - 1);
    if (shown < rows.size() && shown > 0) --shown;  // room for "+N more"
    std::size_t label = kMinLabel;
    for (std::size_t i = 0; i < shown; ++i) label = std::max(label, text_columns(rows[i].label));
    label = std::min(label, std::max(kMinLabel, columns / kLabelShare));
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < shown; ++i) lines.push_back(row_line(rows[i], label, columns));
    if (shown < rows.size() && height > 1) lines.push_back("+" + std::to_string(rows.size() - shown) + " more");
    lines.push_back(status_line(status));
    for (std::string& line : lines) line = cut_to_columns(line, columns - 1);
    return lines;
}

namespace {

constexpr char kEscape = '\x1b';

class StationScreen final : public StationListener {
public:
    StationScreen(Console& console, std::vector<std::string> retry)
        : console_(console), retry_(std::move(retry)) {}

    void ended(const StationVisit& visit, const StationStatus&) override {
        const RunReport& report = *visit.report;
        std::string lines = result_mark(report.result, true, colour()) + "  " + seconds(report) + "  " +
                            printable(to_utf8(report.path)) + result_details(report, true) + "\n";
        if (visit.check) lines += "  simulated: " + check_text(*visit.check) + "\n";
        above(lines, console_.out);
    }

    void refresh(const VisitTable& visits, const StationStatus& status) override {
        std::vector<RunRow> rows;
        for (const auto& [path, entry] : visits) {
            if (!entry.run) continue;
            const DeviceRun& run = *entry.run;
            rows.push_back({printable(to_utf8(path)), entry.visit.state == VisitState::Writing, run.progress(),
                            run.range(), run.bytes()});
        }
        const TerminalSize size = screen_size();
        std::vector<std::string> frame = station_frame(std::move(rows), status, size);
        if (frame == frame_ && size.columns == size_.columns && size.rows == size_.rows) return;
        erase(size);
        frame_ = std::move(frame);
        draw();
    }

    void notice(const std::string& text) override { above(text, console_.err); }

    void finished(const StationStatus& status) override {
        erase(screen_size());
        frame_.clear();
        console_.out << count_line(status.tally) << recap_text(status.unwritten, retry_, true, colour()) << std::flush;
    }

private:
    bool colour() const { return console_.traits && console_.traits->colour; }

    TerminalSize screen_size() const {
        if (console_.traits && console_.traits->size) return console_.traits->size();
        return {};
    }

    static std::string seconds(const RunReport& report) {
        char text[32];
        std::snprintf(text, sizeof text, "%6.2f s", static_cast<double>(report.ms) / 1000.0);
        return text;
    }

    // Lines that stay, above the region, which comes back below them.
    void above(const std::string& lines, std::ostream& stream) {
        erase(screen_size());
        console_.out << std::flush;
        stream << lines << std::flush;
        draw();
    }

    // The region's lines as the screen holds them now (a narrower screen
    // wraps them), the cursor left at the start of its first line. Line by
    // line: a terminal may keep a screen cleared from its top (tmux does).
    void erase(TerminalSize size) {
        std::size_t rows = 0;
        const std::size_t columns = static_cast<std::size_t>(std::max(size.columns, 1));
        for (std::size_t width : drawn_) rows += std::max<std::size_t>(1, (width + columns - 1) / columns);
        if (rows == 0) return;
        console_.out << '\r';
        if (rows > 1) console_.out << kEscape << '[' << rows - 1 << 'A';
        for (std::size_t i = 0; i < rows; ++i) console_.out << kEscape << "[2K" << (i + 1 < rows ? "\x1b[B" : "");
        if (rows > 1) console_.out << kEscape << '[' << rows - 1 << 'A';
        drawn_.clear();
        size_ = size;
    }

    // The cursor stays at the end of the last line: no line is spent below it.
    void draw() {
        for (std::size_t i = 0; i < frame_.size(); ++i) {
            console_.out << (i == 0 ? "" : "\n") << frame_[i];
            drawn_.push_back(text_columns(frame_[i]));
        }
        size_ = screen_size();
        console_.out << std::flush;
    }

    Console& console_;
    std::vector<std::string> retry_;
    std::vector<std::string> frame_;
    std::vector<std::size_t> drawn_;  // columns of each line of the region on the screen
    TerminalSize size_;
};

}  // namespace

std::unique_ptr<StationListener> make_station_screen(Console& console, std::vector<std::string> retry_command) {
    return std::make_unique<StationScreen>(console, std::move(retry_command));
}

}  // namespace wxr::cli
