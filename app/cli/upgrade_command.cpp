#include <optional>
#include <ostream>

#include "app/cli/cli.h"
#include "app/cli/commands.h"
#include "app/cli/image_source.h"
#include "app/cli/output.h"
#include "app/cli/serve/bench_page.h"
#include "app/cli/station.h"
#include "app/cli/station_output.h"

namespace wxr::cli {

namespace {

// Without --device, --all or --watch: the unit the dialog would write. With
// --device: the unit it names, or every unit at the location it names, which
// are then written as --all writes them.
StationPlan plan_for(Session& session, const Options& options, const BenchImages& images) {
    StationPlan plan;
    plan.count = options.count;
    if (options.watch) {
        plan.mode = StationMode::Watch;
    } else if (options.device) {
        plan.paths = device_paths(session, *options.device);
        plan.mode = plan.paths.size() > 1 ? StationMode::All : StationMode::One;
    } else {
        plan.paths = session.channel().enumerate().value_or(std::vector<DevicePath>{});
        plan.mode = options.all ? StationMode::All : StationMode::One;
        if (!options.all) {
            plan.choose_one = true;
            plan.retry_probes = false;
            if (!options.session.shift && images.size() == 1) plan.model = images.front()->info.model;
        }
    }
    return plan;
}

OutputForm form_for(const Options& options, const StationPlan& plan) {
    if (options.json) return OutputForm::Json;
    return plan.mode == StationMode::One ? OutputForm::OneUnit : OutputForm::Bench;
}

}  // namespace

int command_upgrade(Session& session, const Options& options, Console& console) {
    BenchImages images;
    if (!load_bench_images(options.images, images, console.err)) return kExitOther;
    session.expected_model = images.front()->info.model;
    // Before any file is written or unit touched: a port in use ends the command here.
    std::unique_ptr<BenchPage> page;
    if (options.serve && !(page = BenchPage::start(options, images, session.clock(), console.err))) return kExitOther;
    session.open_trace();
    std::optional<LogFile> log_file;
    std::optional<StationLog> log;
    if (options.log) {
        log_file.emplace(*options.log);
        log.emplace(*log_file, host_name(), utc_time_now());
    }
    StationPlan plan = plan_for(session, options, images);
    RunPlan run_plan{images, options.watch && !options.force};
    auto output = make_station_output(form_for(options, plan), console);
    std::vector<StationListener*> listeners{output.get()};
    if (page) listeners.push_back(&page->board());
    return run_station(session, plan, run_plan, console.stop, log ? &*log : nullptr, listeners);
}

}  // namespace wxr::cli
