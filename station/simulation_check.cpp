#include "station/simulation_check.h"

#include <algorithm>

namespace wxr::station {

std::optional<SimulationCheck> check_simulated(Session& session, const RunReport& report) {
    sim::SimHid* sim = session.simulation();
    if (!sim || !report.image || !report.written) return std::nullopt;
    const ImageStore& image = report.image->store;
    auto index = sim->index_of(report.path);
    if (!index) return std::nullopt;
    sim::DeviceModel model = sim->model(*index);
    if (!model.end_report()) return std::nullopt;
    bool equal = std::equal(image.bytes.begin(), image.bytes.begin() + image.length, model.flash().begin());
    return SimulationCheck{equal, model.end_report()->matches_flash};
}

std::string check_text(const SimulationCheck& check) {
    return std::string("flash ") + (check.flash_equals_image ? "equals" : "differs from") + " the image; end report " +
           (check.end_report_matches ? "matches" : "does not match") + " the flash.";
}

}  // namespace wxr::station
