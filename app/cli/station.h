// upgrade --watch: a station that writes each fitting device as it appears
// (those attached at the start count as appearing) until Ctrl-C or --count.
#pragma once

#include "app/cli/commands.h"
#include "app/cli/device_run.h"

namespace wxr::cli {

int run_station(Session& session, const RunPlan& plan, const Options& options, Console& console);

}  // namespace wxr::cli
