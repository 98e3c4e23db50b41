// What --device names: an interface's path, or every interface present at a
// USB location or with a serial number; given several times, all of them.
// A name that matches nothing present is still tried as a path (a link to a
// node, say); when nothing answers there either, the person is told what
// was asked and what is present.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "station/session.h"
#include "station/station_events.h"

namespace wxr::cli {

using namespace wxr::station;

struct NamedDevices {
    std::vector<DevicePath> paths;       // natural path order, each once
    std::vector<std::string> unmatched;  // names that matched nothing present
    std::string present;                 // "sim:0 at usb-1.1, sim:1 at usb-1.2"
};

NamedDevices name_devices(Session& session, const std::vector<std::string>& names);

// "wxr7305: --device X matches no interface present ...; present: ...", for
// the unmatched names not in `answered` (paths where a unit answered).
std::string unmatched_text(const NamedDevices& named, const std::set<DevicePath>& answered);

// Notes the paths at which a unit got a result.
class AnsweredPaths final : public StationListener {
public:
    void ended(const StationVisit& visit, const StationStatus&) override { paths.insert(visit.visit.path); }
    void notice(const std::string&) override {}
    void finished(const StationStatus&) override {}

    std::set<DevicePath> paths;
};

}  // namespace wxr::cli
