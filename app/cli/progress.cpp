#include "app/cli/progress.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace wxr::cli {

namespace {

// Without a terminal, a line per tenth of the way.
constexpr int kPlainSteps = 10;
// Each step of the counter is one 16-byte chunk of the image.
constexpr std::int64_t kBytesPerStep = 16;
// VT100: erase to the end of the line.
constexpr char kEraseLine[] = "\x1b[K";

int percent(std::int32_t value, std::int32_t range) {
    if (range <= 0) return 100;
    return static_cast<int>(std::clamp<std::int64_t>(std::int64_t{value} * 100 / range, 0, 100));
}

}  // namespace

std::string progress_amount(std::int32_t value, std::int32_t range, std::int32_t bytes) {
    const std::int64_t done = value >= range ? bytes : std::min<std::int64_t>(value * kBytesPerStep, bytes);
    char text[48];
    std::snprintf(text, sizeof text, "%.1f/%.1f kB", static_cast<double>(done) / 1000.0,
                  static_cast<double>(bytes) / 1000.0);
    return text;
}

std::string progress_bar(std::int32_t value, std::int32_t range, std::int32_t bytes, int width) {
    const int pct = percent(value, range);
    const int filled = pct * width / 100;
    char pct_text[8];
    std::snprintf(pct_text, sizeof pct_text, "%3d%%", pct);
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '.') + "] " + pct_text + "  " +
           progress_amount(value, range, bytes);
}

ProgressDisplay::ProgressDisplay(std::ostream& out, bool terminal, bool labelled)
    : out_(out), terminal_(terminal), labelled_(labelled) {}

ProgressDisplay::Row& ProgressDisplay::row_for(const DeviceRun& run) {
    auto it = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.run == &run; });
    if (it != rows_.end()) return *it;
    rows_.push_back(Row{&run, labelled_ ? to_utf8(run.path()) : std::string()});
    return rows_.back();
}

void ProgressDisplay::show(const DeviceRun& run) {
    if (terminal_) {
        std::string bar = progress_bar(run.progress(), run.range(), run.bytes());
        if (bar == drawn_) return;
        out_ << '\r' << bar << kEraseLine << std::flush;
        drawn_ = std::move(bar);
        return;
    }
    Row& row = row_for(run);
    const int step = percent(run.progress(), run.range()) * kPlainSteps / 100;
    for (; row.shown_step < step; ++row.shown_step) {
        if (labelled_) out_ << row.label << ' ';
        out_ << "progress " << (row.shown_step + 1) * 100 / kPlainSteps << "%\n" << std::flush;
    }
}

void ProgressDisplay::update(const std::vector<const DeviceRun*>& going) {
    for (const DeviceRun* run : going) show(*run);
}

void ProgressDisplay::ended(const DeviceRun& run) {
    show(run);
    if (!terminal_) std::erase_if(rows_, [&](const Row& r) { return r.run == &run; });
    leave();
}

void ProgressDisplay::leave() {
    if (drawn_.empty()) return;
    out_ << '\n' << std::flush;
    drawn_.clear();
}

}  // namespace wxr::cli
