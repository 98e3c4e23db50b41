#include "app/cli/side_by_side.h"

#include <algorithm>
#include <ostream>

namespace wxr::cli {

void notice_stop(Console& console, bool& told) {
    if (told || !console.stop.requested()) return;
    told = true;
    console.err << "wxr7305: stopping once the devices being written are done; "
                   "Ctrl-C again leaves at once, and a device left half-written may not start.\n"
                << std::flush;
}

std::vector<RunReport> write_side_by_side(Session& session, const std::vector<DevicePath>& paths, const RunPlan& plan,
                                          Console& console, ProgressDisplay* display) {
    std::vector<RunReport> reports;
    RunGroup group(session.clock());
    for (const DevicePath& path : paths) group.start(std::make_unique<DeviceRun>(session, path, plan));
    bool told = false;
    while (group.running() > 0) {
        auto ended = group.wait_for_ended(kRedrawPeriod);
        notice_stop(console, told);
        for (auto& run : ended) {
            if (display) display->ended(*run);
            reports.push_back(run->report());
        }
        if (display) display->update(group.going());
    }
    if (display) display->leave();
    auto rank = [&](const RunReport& r) { return std::find(paths.begin(), paths.end(), r.path) - paths.begin(); };
    std::sort(reports.begin(), reports.end(), [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
    return reports;
}

}  // namespace wxr::cli
