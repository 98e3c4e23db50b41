#include "app/cli/station_screen.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <ostream>

#include "app/cli/bench_name.h"
#include "app/cli/output.h"
#include "app/cli/progress.h"
#include "app/cli/recap.h"
#include "app/cli/screen_ending.h"
#include "station/station_book.h"
#include "device/silence_watch.h"

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
// A result line's continuation lines start under its name.
constexpr std::size_t kWrapIndent = 4;
constexpr char kDot[] = " \u00b7 ";
constexpr std::size_t kEchoColumns = 2;
constexpr std::uint64_t kMsPerSecond = 1000;
constexpr std::uint64_t kSecondsPerMinute = 60;
// An age past this many seconds is said in minutes.
constexpr std::uint64_t kAgeInSecondsUpTo = 120;

std::string bar_text(std::int32_t value, std::int32_t range, int width) {
    const std::int64_t filled = range <= 0 ? width : std::clamp<std::int64_t>(std::int64_t{value} * width / range, 0, width);
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '.') + "]";
}

std::string padded(const std::string& text, std::size_t columns) {
    const std::size_t width = text_columns(text);
    return width >= columns ? text : text + std::string(columns - width, ' ');
}

std::string row_line(const RunRow& row, std::size_t label, std::size_t state, std::size_t columns) {
    std::string line = fit_columns_keep_end(row.label, label) + "  ";
    if (!row.bar) return line + row.state;
    line += padded(row.state, state);
    const int room = static_cast<int>(columns) - 1 - static_cast<int>(text_columns(line)) - 4;
    if (room < kMinBar) return line;
    return line + "  " + bar_text(row.value, row.range, std::min(room, kMaxBar));
}

std::string age_text(std::uint64_t ms) {
    const std::uint64_t seconds = ms / kMsPerSecond;
    if (seconds <= kAgeInSecondsUpTo) return std::to_string(seconds) + " s";
    return std::to_string(seconds / kSecondsPerMinute) + " min";
}

}  // namespace

std::string row_state(VisitState state, const DeviceRun* run, std::uint64_t now_ms) {
    switch (state) {
        case VisitState::Seen:
        case VisitState::Probing: return "probing";
        case VisitState::Waiting: return "waiting for a slot";
        default: break;
    }
    if (!run) return "querying";
    if (auto since = run->unanswered_since_ms(); since && now_ms > *since) {
        return "no answer for " + std::to_string((now_ms - *since) / kMsPerSecond) + " s (gives up at " +
               std::to_string(kMaxSilenceMs / kMsPerSecond) + " s)";
    }
    if (state != VisitState::Writing) return "querying";
    if (run->range() > 0 && run->progress() >= run->range()) return "finishing";
    const std::int64_t percent = run->range() <= 0 ? 0 : std::int64_t{run->progress()} * 100 / run->range();
    return "writing " + std::to_string(std::clamp<std::int64_t>(percent, 0, 100)) + " %";
}

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
    if (status.count) {
        line = "count " + std::to_string(status.count_written) + " of " + std::to_string(*status.count) + kDot + line;
    }
    if (std::string sums = standing_counts(status.tally); !sums.empty()) line = sums + kDot + line;
    return line;
}

std::string pinned_line(RunResult result, const std::string& name, std::uint64_t ago_ms, bool colour) {
    const ResultLook look = result_look(result);
    std::string symbol = look.symbol;
    if (colour) symbol = "\x1b[" + std::string(look.colour) + "m" + symbol + "\x1b[0m";
    const char* what = result == RunResult::Refused ? ": needs another firmware" : ": replug to retry";
    return symbol + " " + name + " " + standing_word(result) + " " + age_text(ago_ms) + " ago" + what;
}

std::vector<std::string> station_frame(const std::vector<RunRow>& rows, const std::vector<std::string>& pinned,
                                       const StationStatus& status, TerminalSize size) {
    const std::size_t columns = static_cast<std::size_t>(std::max(size.columns, 2));
    const std::size_t height = static_cast<std::size_t>(std::max(size.rows - kRowsKeptAbove, 1));
    const std::size_t room = height - 1;  // the status line's is kept
    // Units that need a hand first, but running units keep at least half the room.
    const std::size_t pins = std::min(pinned.size(), rows.empty() ? room : room - room / 2);
    std::size_t shown = std::min(rows.size(), room - pins);
    if (shown < rows.size() && shown > 0) --shown;  // room for "+N more"
    std::size_t label = kMinLabel, state = 0;
    for (std::size_t i = 0; i < shown; ++i) {
        label = std::max(label, text_columns(rows[i].label));
        if (rows[i].bar) state = std::max(state, text_columns(rows[i].state));
    }
    label = std::min(label, std::max(kMinLabel, columns / kLabelShare));
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < shown; ++i) lines.push_back(row_line(rows[i], label, state, columns));
    if (shown < rows.size() && room > pins) lines.push_back("+" + std::to_string(rows.size() - shown) + " more");
    lines.insert(lines.end(), pinned.end() - static_cast<std::ptrdiff_t>(pins), pinned.end());
    lines.push_back(status_line(status));
    for (std::string& line : lines) {
        if (text_columns(line) >= columns) line = cut_to_columns(line, columns - 1);
    }
    // The terminal echoes Ctrl-C as "^C" after the status line: it must not wrap.
    const std::size_t status_room = columns > kEchoColumns + 1 ? columns - 1 - kEchoColumns : 1;
    if (text_columns(lines.back()) > status_room) lines.back() = cut_to_columns(lines.back(), status_room);
    return lines;
}

namespace {

constexpr char kEscape = '\x1b';
constexpr char kEraseToLineEnd[] = "\x1b[K";
constexpr char kEraseLine[] = "\x1b[2K";
constexpr char kHideCursor[] = "\x1b[?25l";
constexpr char kShowCursor[] = "\x1b[?25h";
// Without port names a pinned unit goes after this long, or when this many are newer.
constexpr std::uint64_t kPinUnnamedMs = 10 * 60 * 1000;
constexpr std::size_t kMostPinned = 8;
// The final recap leaves this many rows of an ending screen for its head, the retry and the count.
constexpr int kRecapRowsKept = 8;
constexpr std::size_t kMinRecapEntries = 3;
// The second Ctrl-C's ending is made again at most once a redraw period while
// writes start and end (a unit's result makes it again at once): it costs a
// recap, and is then as current as the bars on the screen.
constexpr std::uint64_t kEndingRebuildMs = 100;

// A unit that needs a hand, kept in sight in --watch.
struct Pin {
    std::string location;  // its port; empty when unknown
    std::string unit;
    std::string name;      // "Port 3 (serial A0017)"
    RunResult result;
    std::uint64_t ended_ms;
};

bool needs_a_hand(RunResult result) {
    return result == RunResult::Failed || result == RunResult::NoAnswer || result == RunResult::Refused;
}

bool shows_a_row(VisitState state) {
    return state == VisitState::Probing || state == VisitState::Waiting || state == VisitState::Querying ||
           state == VisitState::Writing;
}

class StationScreen final : public StationListener {
public:
    StationScreen(Console& console, BenchSetup setup) : console_(console), setup_(std::move(setup)) {}

    ~StationScreen() override {
        if (!cursor_hidden_) return;
        console_.out << kShowCursor << std::flush;
        end_posts();
    }

    void ended(const StationVisit& visit, const StationStatus& status) override {
        const RunReport& report = *visit.report;
        if (status.watching && needs_a_hand(report.result)) pin(report);
        if (report.result == RunResult::Success) unpin_location(report.location);
        remember(report);
        above(result_lines(report, visit.check));
    }

    void refresh(const VisitTable& visits, const StationStatus& status) override {
        const std::uint64_t now = now_ms();
        std::map<std::uint64_t, RunRow> rows;
        part_written_.clear();
        for (const auto& [path, entry] : visits) {
            const Visit& v = entry.visit;
            if (!shows_a_row(v.state)) continue;
            if (v.state == VisitState::Querying || v.state == VisitState::Writing) unpin_location(v.identity.location);
            RunRow row;
            row.label = bench_name(v.path, v.identity.location, v.identity.serial, setup_.ports).label;
            row.state = row_state(v.state, entry.run, now);
            if (v.state == VisitState::Writing && entry.run) {
                row.bar = true;
                row.value = entry.run->progress();
                row.range = entry.run->range();
                part_written_.push_back({v.path, v.identity.location, v.identity.serial, RunResult::Failed,
                                         "left part-written: it may not start until written again", v.serial_shared,
                                         v.location_shared});
            }
            rows.emplace(v.number, std::move(row));
        }
        std::erase_if(order_, [&](std::uint64_t number) { return !rows.contains(number); });
        for (const auto& [path, entry] : visits) {  // newcomers below, in path order
            if (rows.contains(entry.visit.number) &&
                std::find(order_.begin(), order_.end(), entry.visit.number) == order_.end()) {
                order_.push_back(entry.visit.number);
            }
        }
        std::vector<RunRow> ordered;
        for (std::uint64_t number : order_) ordered.push_back(std::move(rows[number]));
        tally_ = status.tally;
        const TerminalSize size = screen_size();
        std::vector<std::string> frame = station_frame(ordered, pinned_lines(now), status, size);
        if (frame == frame_ && size.columns == size_.columns && size.rows == size_.rows) return;
        frame_ = std::move(frame);
        console_.out << to_region_top(size) << region_text(0) << std::flush;
        post_ending();
    }

    void notice(const std::string& text) override {
        console_.out << to_region_top(screen_size()) << erase_rows(old_rows_) << std::flush;
        old_rows_ = 0;
        console_.err << text << std::flush;
        console_.out << region_text(0) << std::flush;
    }

    void finished(const StationStatus& status) override {
        std::string text = to_region_top(screen_size());
        text += erase_rows(old_rows_) + kShowCursor;
        cursor_hidden_ = false;
        frame_.clear();
        old_rows_ = 0;
        RecapStyle style = recap_style();
        text += recap_text(status.unwritten, setup_.retry_command, style) + count_line(status.tally);
        console_.out << text << std::flush;
        end_posts();
    }

private:
    bool colour() const { return console_.traits && console_.traits->colour; }

    TerminalSize screen_size() const {
        if (console_.traits && console_.traits->size) return console_.traits->size();
        return {};
    }

    std::uint64_t now_ms() const { return setup_.now_ms ? setup_.now_ms() : 0; }

    RecapStyle recap_style() const {
        RecapStyle style;
        style.marks = true;
        style.colour = colour();
        style.bench_names = true;
        style.ports = setup_.ports;
        style.most = std::max<std::size_t>(kMinRecapEntries,
                                           static_cast<std::size_t>(std::max(screen_size().rows - kRecapRowsKept, 0)));
        if (setup_.logged) style.more_hint = ", see --log";
        return style;
    }

    // "✓ written    1.56 s  Port 3  serial A0017  (why)", wrapped at words under its name.
    std::string result_lines(const RunReport& report, const std::optional<SimulationCheck>& check) const {
        const BenchName name = bench_name(report.path, report.location, report.serial, setup_.ports);
        RunReport why = report;
        why.location.clear();
        why.serial.clear();
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%6.2f s", static_cast<double>(report.ms) / 1000.0);
        std::string rest = std::string(seconds) + "  " + name.label;
        if (!name.rest.empty()) rest += "  " + name.rest;
        rest += result_details(why, true);
        // A simulated unit is said only when its flash is not what it should be.
        if (check && !(check->flash_equals_image && check->end_report_matches)) {
            rest += "  (simulated: " + check_text(*check) + ")";
        }
        const std::string mark = result_mark(report.result, true, colour());
        const std::size_t mark_columns = text_columns(result_mark(report.result, true, false)) + 2;
        const std::size_t columns = static_cast<std::size_t>(std::max(screen_size().columns, 2)) - 1;
        const std::size_t first = columns > mark_columns ? columns - mark_columns : 1;
        std::string text;
        const auto lines = wrap_words(rest, first, columns > kWrapIndent ? columns - kWrapIndent : 1);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            text += (i == 0 ? mark + "  " : std::string(kWrapIndent, ' ')) + lines[i] + kEraseToLineEnd + "\n";
        }
        return text;
    }

    // Lines that stay, above the region, which follows them: one write, each line overwriting what was there.
    void above(const std::string& lines) {
        const std::size_t rows = static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n'));
        console_.out << to_region_top(screen_size()) << lines << region_text(rows) << std::flush;
        post_ending();
    }

    // The cursor to the start of the region's first line, as the screen holds
    // it now (a narrower screen wraps its lines); old_rows_: the rows it holds.
    std::string to_region_top(TerminalSize size) {
        old_rows_ = region_rows(size);
        drawn_.clear();
        return up_to_top(old_rows_);
    }

    std::size_t region_rows(TerminalSize size) const {
        std::size_t rows = 0;
        const std::size_t columns = static_cast<std::size_t>(std::max(size.columns, 1));
        for (std::size_t width : drawn_) rows += std::max<std::size_t>(1, (width + columns - 1) / columns);
        return rows;
    }

    static std::string up_to_top(std::size_t rows) {
        if (rows == 0) return {};
        std::string text = "\r";
        if (rows > 1) text += std::string(1, kEscape) + "[" + std::to_string(rows - 1) + "A";
        return text;
    }

    // Blanks `rows` rows from the cursor's down, line by line, and comes back:
    // erasing the display from the top of a screen makes tmux keep the old
    // screen in its scrollback.
    static std::string erase_rows(std::size_t rows) {
        std::string text;
        for (std::size_t i = 0; i < rows; ++i) {
            if (i > 0) text += '\n';
            text += kEraseLine;
        }
        return text + up_to_top(rows);
    }

    // The region from the cursor on: each line overwrites the one below it;
    // the rows of the last frame below the new one are blanked. The cursor
    // ends on the last line, spending no line below it. used: rows already
    // written from the region's top (result lines).
    std::string region_text(std::size_t used) {
        std::string text;
        if (!cursor_hidden_ && !frame_.empty()) {
            text += kHideCursor;
            cursor_hidden_ = true;
            post_cursor_hidden(true);
        }
        for (std::size_t i = 0; i < frame_.size(); ++i) {
            if (i > 0) text += '\n';
            text += frame_[i];
            text += kEraseToLineEnd;
            drawn_.push_back(text_columns(frame_[i]));
        }
        size_ = screen_size();
        used += region_rows(size_);
        if (old_rows_ > used) {
            const std::size_t extra = old_rows_ - used;
            for (std::size_t i = 0; i < extra; ++i) {
                text += '\n';
                text += kEraseLine;
            }
            text += std::string(1, kEscape) + "[" + std::to_string(extra) + "A";
        }
        old_rows_ = 0;
        return text;
    }

    std::vector<std::string> pinned_lines(std::uint64_t now) {
        if (!setup_.ports) {
            std::erase_if(pinned_, [&](const Pin& pin) { return now - pin.ended_ms > kPinUnnamedMs; });
        }
        while (pinned_.size() > kMostPinned) pinned_.pop_front();
        std::vector<std::string> lines;
        for (const Pin& pin : pinned_) {
            lines.push_back(pinned_line(pin.result, pin.name, now > pin.ended_ms ? now - pin.ended_ms : 0, colour()));
        }
        return lines;
    }

    void pin(const RunReport& report) {
        std::erase_if(pinned_, [&](const Pin& pin) { return pin.unit == report.unit; });
        const BenchName name = bench_name(report.path, report.location, report.serial, setup_.ports);
        pinned_.push_back({report.location, report.unit, name.rest.empty() ? name.label : name.label + " (" + name.rest + ")",
                           report.result, now_ms()});
    }

    void unpin_location(const std::string& location) {
        if (location.empty()) return;
        std::erase_if(pinned_, [&](const Pin& pin) { return pin.location == location; });
    }

    // The units not written so far, for an ending that comes before finished().
    void remember(const RunReport& report) {
        if (is_written(report.result)) {
            unwritten_.erase(report.unit);
        } else {
            unwritten_[report.unit] = {report.path, report.location, report.serial, report.result,
                                       report.detail, report.serial_shared, report.location_shared};
        }
        ending_body_.clear();
    }

    // What the second Ctrl-C writes: the region erased, the units left
    // part-written first, the recap, the retry, and the count last.
    void post_ending() {
        std::vector<DevicePath> paths;
        for (const UnwrittenUnit& unit : part_written_) paths.push_back(unit.path);
        const std::uint64_t now = now_ms();
        const bool due = now - ending_built_ms_ >= kEndingRebuildMs || now < ending_built_ms_;
        if (ending_body_.empty() || (paths != ending_part_written_ && due)) {
            ending_built_ms_ = now;
            std::vector<UnwrittenUnit> units = part_written_;
            for (const auto& [unit, entry] : unwritten_) units.push_back(entry);
            ending_body_ = recap_text(units, setup_.retry_command, recap_style());
            if (!part_written_.empty()) {
                ending_body_ += "Interrupted: " + std::to_string(part_written_.size()) +
                                (part_written_.size() == 1 ? " unit" : " units") + " left part-written; ";
            }
            ending_body_ += count_line(tally_);
            ending_part_written_ = std::move(paths);
        }
        const std::size_t rows = region_rows(screen_size());
        post_screen_ending(up_to_top(rows) + erase_rows(rows) + kShowCursor + ending_body_);
    }

    void end_posts() {
        post_screen_ending({});
        post_cursor_hidden(false);
    }

    Console& console_;
    BenchSetup setup_;
    std::vector<std::string> frame_;
    std::vector<std::size_t> drawn_;  // columns of each line of the region on the screen
    std::size_t old_rows_ = 0;        // rows of the region being overwritten
    TerminalSize size_;
    std::vector<std::uint64_t> order_;  // visit numbers, in the order their rows keep
    std::deque<Pin> pinned_;
    bool cursor_hidden_ = false;
    ResultTally tally_;
    std::map<std::string, UnwrittenUnit> unwritten_;
    std::vector<UnwrittenUnit> part_written_;
    std::vector<DevicePath> ending_part_written_;  // whose ending_body_ is
    std::string ending_body_;
    std::uint64_t ending_built_ms_ = 0;
};

}  // namespace

std::unique_ptr<StationListener> make_station_screen(Console& console, BenchSetup setup) {
    return std::make_unique<StationScreen>(console, std::move(setup));
}

}  // namespace wxr::cli
