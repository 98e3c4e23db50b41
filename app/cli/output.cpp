#include "app/cli/output.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "app/cli/cli.h"
#include "upgrade/compatibility.h"

namespace wxr::cli {

std::string result_details(const RunReport& report, bool where_first) {
    std::string detail = report.detail.substr(0, report.detail.find_last_not_of(' ') + 1);
    if (!report.recorded) detail += std::string(detail.empty() ? "" : "; ") + "not recorded: the log failed";
    const std::string why = detail.empty() ? "" : "  (" + printable(detail) + ")";
    const std::string where = whereabouts(report.location, report.serial);
    const std::string at = where.empty() ? "" : "  " + where;
    return where_first ? at + why : why + at;
}

std::string result_line(const RunReport& report) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", static_cast<double>(report.ms) / 1000.0);
    return printable(to_utf8(report.path)) + "  " + result_name(report.result) + "  " + seconds +
           result_details(report, false) + "\n";
}

std::string standing_word(RunResult result) {
    switch (result) {
        case RunResult::Success: return "written";
        case RunResult::Failed: return "failed";
        case RunResult::Refused: return "refused";
        case RunResult::Skipped: return "skipped";
        case RunResult::NoAnswer: return "no answer";
        case RunResult::NotWritten: return "not written";
    }
    return "failed";
}

std::string standing_counts(const ResultTally& tally) {
    std::string text;
    for (std::size_t i = 0; i < kRunResults; ++i) {
        const auto result = static_cast<RunResult>(i);
        if (tally.of(result) == 0) continue;
        text += (text.empty() ? "" : ", ") + std::to_string(tally.of(result)) + " " + standing_word(result);
    }
    return text;
}

std::string count_line(const ResultTally& tally) {
    const std::string counts = standing_counts(tally);
    return std::to_string(tally.total()) + (tally.total() == 1 ? " unit" : " units") + (counts.empty() ? "" : ": ") +
           counts + " (" + std::to_string(tally.attempts()) + (tally.attempts() == 1 ? " visit)\n" : " visits)\n");
}

}  // namespace wxr::cli
