#include "app/cli/progress.h"

#include <algorithm>
#include <ostream>

namespace wxr::cli {

namespace {

constexpr int kBarWidth = 40;
// Without a terminal, a line per tenth of the way.
constexpr int kPlainSteps = 10;
// VT100 sequences: cursor up N lines, erase to the end of the screen.
constexpr char kEscape = '\x1b';

int percent(std::int32_t value, std::int32_t range) {
    if (range <= 0) return 100;
    return static_cast<int>(std::clamp<std::int64_t>(std::int64_t{value} * 100 / range, 0, 100));
}

}  // namespace

std::string progress_bar(std::int32_t value, std::int32_t range) {
    int pct = percent(value, range);
    int filled = pct * kBarWidth / 100;
    std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] ";
    std::string pct_text = std::to_string(pct) + "%";
    bar += std::string(4 - std::min<std::size_t>(4, pct_text.size()), ' ') + pct_text;
    bar += "  " + std::to_string(std::min(value, range)) + "/" + std::to_string(range);
    return bar;
}

ProgressDisplay::ProgressDisplay(std::ostream& out, bool terminal, bool labelled)
    : out_(out), terminal_(terminal), labelled_(labelled) {}

ProgressDisplay::Row& ProgressDisplay::row_for(const DeviceRun& run) {
    auto it = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.run == &run; });
    if (it != rows_.end()) return *it;
    rows_.push_back(Row{labelled_ ? to_utf8(run.path()) : std::string(), &run, 0, run.range()});
    return rows_.back();
}

void ProgressDisplay::show(Row& row, std::int32_t value) {
    row.value = value;
    if (terminal_) return;
    int step = percent(value, row.range) * kPlainSteps / 100;
    for (; row.shown_step < step; ++row.shown_step) {
        if (labelled_) out_ << row.label << ' ';
        out_ << "progress " << (row.shown_step + 1) * 100 / kPlainSteps << "%\n" << std::flush;
    }
}

void ProgressDisplay::update(const std::vector<const DeviceRun*>& going) {
    for (const DeviceRun* run : going) show(row_for(*run), run->progress());
    if (terminal_) redraw();
}

void ProgressDisplay::ended(const DeviceRun& run) {
    Row& row = row_for(run);
    show(row, run.progress());
    row.ended = true;
    row.outcome = result_name(run.report().result);
    if (terminal_) redraw();
}

void ProgressDisplay::erase_bars() {
    if (drawn_ > 0) out_ << kEscape << '[' << drawn_ << 'A';
    out_ << '\r' << kEscape << "[J";
    drawn_ = 0;
}

void ProgressDisplay::redraw() {
    erase_bars();
    for (const Row& row : rows_) {
        if (labelled_) out_ << row.label << "  ";
        out_ << progress_bar(row.value, row.range);
        if (row.ended) out_ << "  " << row.outcome;
        out_ << '\n';
    }
    drawn_ = rows_.size();
    out_ << std::flush;
}

void ProgressDisplay::print(const std::string& lines) {
    if (terminal_) erase_bars();
    out_ << lines << std::flush;
    std::erase_if(rows_, [](const Row& r) { return r.ended; });
    if (terminal_ && !rows_.empty()) redraw();
}

void ProgressDisplay::leave() {
    drawn_ = 0;
    rows_.clear();
}

}  // namespace wxr::cli
