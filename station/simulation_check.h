// For a simulated device that got an end report: whether its flash equals
// the image and the end report matches the flash.
#pragma once

#include <optional>
#include <string>

#include "station/device_run.h"
#include "station/session.h"

namespace wxr::station {

struct SimulationCheck {
    bool flash_equals_image;
    bool end_report_matches;
};
std::optional<SimulationCheck> check_simulated(Session& session, const RunReport& report);
std::string check_text(const SimulationCheck& check);

}  // namespace wxr::station
