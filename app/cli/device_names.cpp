#include "app/cli/device_names.h"

#include <algorithm>

#include "station/natural_order.h"
#include "app/cli/output.h"

namespace wxr::cli {

namespace {

// Enough of what is present to see a typing mistake; the rest is counted.
constexpr std::size_t kPresentShown = 8;

#ifdef _WIN32
// Windows compares device paths without regard to case.
bool same_path(const DevicePath& a, const DevicePath& b) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) {
               return lower(x) == lower(y);
           });
}
#else
bool same_path(const DevicePath& a, const DevicePath& b) { return a == b; }
#endif

std::vector<DevicePath> matching(Session& session, const std::vector<DevicePath>& present, const std::string& name) {
    const DevicePath path = from_utf8(name);
    for (const DevicePath& one : present) {
        if (same_path(one, path)) return {one};
    }
    std::vector<DevicePath> found;
    for (const DevicePath& one : present) {
        if (session.channel().location(one) == name) found.push_back(one);
    }
    if (!found.empty()) return found;
    for (const DevicePath& one : present) {
        if (session.channel().serial_number(one) == name) found.push_back(one);
    }
    return found;
}

std::string describe(Session& session, const std::vector<DevicePath>& present) {
    if (present.empty()) return "none";
    std::string text;
    for (std::size_t i = 0; i < present.size() && i < kPresentShown; ++i) {
        text += (i == 0 ? "" : ", ") + printable(to_utf8(present[i]));
        const std::string where = whereabouts(session.channel().location(present[i]), session.channel().serial_number(present[i]));
        if (!where.empty()) text += " " + where;
    }
    if (present.size() > kPresentShown) text += " and " + std::to_string(present.size() - kPresentShown) + " more";
    return text;
}

}  // namespace

NamedDevices name_devices(Session& session, const std::vector<std::string>& names) {
    NamedDevices named;
    const auto present = session.channel().enumerate().value_or(std::vector<DevicePath>{});
    std::set<DevicePath, NaturalLess> paths;
    for (const std::string& name : names) {
        std::vector<DevicePath> found = matching(session, present, name);
        if (found.empty()) {
            named.unmatched.push_back(name);
            found.push_back(from_utf8(name));
        }
        paths.insert(found.begin(), found.end());
    }
    named.paths.assign(paths.begin(), paths.end());
    if (!named.unmatched.empty()) named.present = describe(session, present);
    return named;
}

std::string unmatched_text(const NamedDevices& named, const std::set<DevicePath>& answered) {
    std::string text;
    for (const std::string& name : named.unmatched) {
        if (answered.contains(from_utf8(name))) continue;
        text += "wxr7305: --device " + printable(name) +
                " matches no interface present (by path, USB location or serial number); present: " + named.present +
                ".\n";
    }
    return text;
}

}  // namespace wxr::cli
