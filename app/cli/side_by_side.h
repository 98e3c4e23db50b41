// Writing several devices at once: one run per device on its own thread,
// the calling thread showing their progress until every run has ended.
#pragma once

#include <chrono>
#include <vector>

#include "app/cli/commands.h"
#include "app/cli/progress.h"
#include "app/cli/run_group.h"

namespace wxr::cli {

// As often as the dialog's timer moves its bar; a run's end wakes the wait at once.
inline constexpr std::chrono::milliseconds kRedrawPeriod{200};

// Says once, on the first Ctrl-C, what happens now.
void notice_stop(Console& console, bool& told);

// Runs the plan on every path side by side; the reports in the paths' order.
// display is nullptr when nothing is to be shown (--json).
std::vector<RunReport> write_side_by_side(Session& session, const std::vector<DevicePath>& paths, const RunPlan& plan,
                                          Console& console, ProgressDisplay* display);

}  // namespace wxr::cli
