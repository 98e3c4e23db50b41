#include "station/port_names.h"

#include <algorithm>
#include <fstream>
#include <ostream>
#include <set>

#include "station/utf8_text.h"
#include "image/image_store.h"

namespace wxr::station {

namespace {

// A bench has tens of ports; more is the wrong file.
constexpr std::size_t kMaxFileBytes = 256 * 1024;
constexpr std::size_t kMaxPorts = 1000;
// A label is read from two metres away.
constexpr std::size_t kMaxLabelBytes = 40;

std::string_view trimmed(std::string_view text) {
    const char* blank = " \t\r";
    auto first = text.find_first_not_of(blank);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blank) - first + 1);
}

bool has_control(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// What is wrong with one line, else empty.
std::string take_line(std::string_view line, PortNames& names, std::set<std::string>& labels) {
    auto eq = line.find('=');
    if (eq == std::string_view::npos) return "expected LOCATION = LABEL";
    std::string location(trimmed(line.substr(0, eq)));
    std::string label(trimmed(line.substr(eq + 1)));
    if (location.empty() || label.empty()) return "expected LOCATION = LABEL";
    if (has_control(location) || has_control(label)) return "control characters are not allowed";
    if (!is_utf8(label) || !is_utf8(location)) return "not UTF-8 text (save the file as UTF-8)";
    if (label.size() > kMaxLabelBytes) return "the label is longer than " + std::to_string(kMaxLabelBytes) + " bytes";
    if (names.label_of(location)) return "location " + location + " is named twice";
    if (!labels.insert(label).second) return "label " + label + " is given twice";
    if (names.entries.size() == kMaxPorts) return "more than " + std::to_string(kMaxPorts) + " ports";
    names.entries.emplace_back(std::move(location), std::move(label));
    return {};
}

}  // namespace

const std::string* PortNames::label_of(std::string_view location) const {
    for (const auto& [where, label] : entries) {
        if (where == location) return &label;
    }
    return nullptr;
}

std::variant<PortNames, std::string> parse_port_names(std::string_view text) {
    PortNames names;
    std::set<std::string> labels;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        auto end = text.find('\n');
        std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (std::string why = take_line(line, names, labels); !why.empty()) {
            return "line " + std::to_string(number) + ": " + why;
        }
    }
    return names;
}

bool read_port_names(const std::string& file, PortNames& names, std::ostream& err) {
    std::ifstream in(file_path_from_utf8(file), std::ios::binary);
    std::string text(kMaxFileBytes + 1, '\0');
    if (in) in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (!in && !in.eof()) {
        err << "wxr7305: cannot read the port names file " << file << "\n";
        return false;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileBytes) {
        err << "wxr7305: the port names file " << file << " is longer than " << kMaxFileBytes << " bytes\n";
        return false;
    }
    auto parsed = parse_port_names(text);
    if (auto* why = std::get_if<std::string>(&parsed)) {
        err << "wxr7305: " << file << ": " << *why << "\n";
        return false;
    }
    names = std::get<PortNames>(std::move(parsed));
    return true;
}

}  // namespace wxr::station
