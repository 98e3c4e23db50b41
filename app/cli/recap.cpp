#include "app/cli/recap.h"

#include <algorithm>

#include "app/cli/output.h"
#include "app/cli/screen_text.h"

namespace wxr::cli {

namespace {

#ifdef _WIN32
// cmd.exe and PowerShell both take a word in double quotes; device paths hold '&'.
std::string quoted(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t&|<>^()%!;,\"'") == std::string::npos) return word;
    std::string out = "\"";
    for (char c : word) out += c == '"' ? std::string("\\\"") : std::string(1, c);
    return out + "\"";
}
#else
std::string quoted(const std::string& word) {
    constexpr char kPlain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-+=./:,@%";
    if (!word.empty() && word.find_first_not_of(kPlain) == std::string::npos) return word;
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}
#endif

}  // namespace

std::string retry_name(const UnwrittenUnit& unit) {
    // A name other units share would retry units already written.
    if (!unit.serial.empty() && !unit.serial_shared) return unit.serial;
    if (!unit.location.empty() && !unit.location_shared) return unit.location;
    return to_utf8(unit.path);
}

std::string shell_command(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) line += (line.empty() ? "" : " ") + quoted(word);
    return line;
}

std::string recap_text(const std::vector<UnwrittenUnit>& units, const std::vector<std::string>& command, bool marks,
                       bool colour) {
    if (units.empty()) return {};
    std::string text = "Not written (" + std::to_string(units.size()) + (units.size() == 1 ? " unit):\n" : " units):\n");
    std::vector<std::string> retry = command;
    for (const UnwrittenUnit& unit : units) {
        text += "  " + result_mark(unit.result, marks, colour) + "  " + printable(to_utf8(unit.path));
        if (std::string where = whereabouts(unit.location, unit.serial); !where.empty()) text += "  " + where;
        if (!unit.reason.empty()) text += "  (" + printable(unit.reason) + ")";
        text += "\n";
        std::string name = retry_name(unit);
        if (std::find(retry.begin() + static_cast<std::ptrdiff_t>(command.size()), retry.end(), name) == retry.end()) {
            retry.insert(retry.end(), {"--device", name});
        }
    }
    return text + "Retry them:\n  " + shell_command(retry) + "\n";
}

}  // namespace wxr::cli
