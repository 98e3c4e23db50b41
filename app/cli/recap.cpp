#include "app/cli/recap.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "app/cli/bench_name.h"
#include "app/cli/output.h"
#include "app/cli/screen_text.h"

namespace wxr::cli {

namespace {

// How many of the units each name (serial, location or path) could retry.
using NameCounts = std::unordered_map<std::string, std::size_t>;

std::vector<std::string> names_of(const UnwrittenUnit& unit) {
    std::vector<std::string> names{unit.serial, unit.location, to_utf8(unit.path)};
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    std::erase(names, std::string());
    return names;
}

NameCounts name_counts(const std::vector<UnwrittenUnit>& units) {
    NameCounts counts;
    for (const UnwrittenUnit& unit : units) {
        for (std::string& name : names_of(unit)) ++counts[std::move(name)];
    }
    return counts;
}

std::string retry_name_among(const UnwrittenUnit& unit, const NameCounts& counts, Shell shell) {
    // A serial or location that other units present report names units already written too.
    const std::string path = to_utf8(unit.path);
    const std::string candidates[] = {unit.serial_shared ? "" : unit.serial, unit.location_shared ? "" : unit.location,
                                      path};
    for (const std::string& name : candidates) {
        if (name.empty() || !pastes_safely(name, shell)) continue;
        if (auto it = counts.find(name); it != counts.end() && it->second == 1) return name;
    }
    return {};
}

// What the unit's entry says: its name and where it is, why it was not written.
std::string entry_text(const UnwrittenUnit& unit, const RecapStyle& style) {
    std::string text = "  ";
    text += result_mark(unit.result, style.marks, style.colour);
    text += "  ";
    if (style.bench_names) {
        const BenchName name = bench_name(unit.path, unit.location, unit.serial, style.ports);
        text += name.label;
        if (!name.rest.empty()) text += "  " + name.rest;
    } else {
        text += printable(to_utf8(unit.path));
        if (std::string where = whereabouts(unit.location, unit.serial); !where.empty()) text += "  " + where;
    }
    if (!unit.reason.empty()) text += "  (" + printable(unit.reason) + ")";
    return text + "\n";
}

std::string unit_label(const UnwrittenUnit& unit, const RecapStyle& style) {
    if (style.bench_names) return bench_name(unit.path, unit.location, unit.serial, style.ports).label;
    return printable(to_utf8(unit.path));
}

}  // namespace

std::string retry_name(const UnwrittenUnit& unit, const std::vector<UnwrittenUnit>& units, Shell shell) {
    return retry_name_among(unit, name_counts(units), shell);
}

std::string recap_text(const std::vector<UnwrittenUnit>& units, const std::vector<std::string>& command,
                       const RecapStyle& style) {
    if (units.empty()) return {};
    std::string text = "Not written (" + std::to_string(units.size()) + (units.size() == 1 ? " unit):\n" : " units):\n");
    std::vector<std::string> retry = command;
    std::unordered_set<std::string> named;
    const NameCounts counts = name_counts(units);
    std::string refused, by_hand;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const UnwrittenUnit& unit = units[i];
        if (i < style.most) text += entry_text(unit, style);
        if (unit.result == RunResult::Refused) {
            refused += "Needs another firmware: " + unit_label(unit, style) + " (" + printable(unit.reason) + ")\n";
            continue;
        }
        const std::string name = retry_name_among(unit, counts, style.shell);
        if (name.empty()) {
            by_hand += "Retry by hand (no name a shell takes back): " + printable(to_utf8(unit.path)) + "\n";
        } else if (named.insert(name).second) {
            retry.insert(retry.end(), {"--device", name});
        }
    }
    if (units.size() > style.most) {
        text += "  \u2026 and " + std::to_string(units.size() - style.most) + " more" + style.more_hint + "\n";
    }
    if (retry.size() > command.size()) {
        text += "Retry them:\n";
        for (const std::string& line : shell_lines(retry, style.shell)) text += "  " + line + "\n";
    }
    return text + by_hand + refused;
}

}  // namespace wxr::cli
