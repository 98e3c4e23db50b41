#include <ostream>

#include "app/cli/cli.h"
#include "app/cli/commands.h"
#include "app/cli/image_source.h"
#include "app/cli/json_output.h"
#include "app/cli/output.h"
#include "app/cli/side_by_side.h"
#include "app/cli/station.h"
#include "upgrade/compatibility.h"

namespace wxr::cli {

namespace {

// Without --device or --all: the device the dialog would write, entry 0 of a pass.
std::vector<DevicePath> devices_to_write(Session& session, const Options& options) {
    if (options.device || options.all) return find_devices(session, options);
    DeviceContext context = session.context();
    if (discover_devices(context) <= 0) return {};
    return {session.list.paths[0]};
}

// One device: the dialog's words, then what the simulated device holds.
int finish_one(Session& session, const RunReport& report, const Options& options, Console& console) {
    auto check = check_simulated(session, report);
    if (options.json) {
        console.out << report_json(report, check) << std::flush;
    } else if (report.result == RunResult::Success) {
        console.out << to_utf8(kUpgradeSuccessText) << "\n";
    } else if (report.result == RunResult::Refused) {
        console.err << report.detail << "\n";
    } else {
        console.err << to_utf8(kUpgradeFailText) << "\n";
    }
    if (check && !options.json) console.out << "Simulated device: " << check_text(*check) << "\n";
    console.out << std::flush;
    return exit_code_for({report});
}

// Several devices: a result line each (with its check when simulated) and a count.
int finish_many(Session& session, const std::vector<RunReport>& reports, const Options& options, Console& console) {
    for (const RunReport& report : reports) {
        auto check = check_simulated(session, report);
        if (options.json) {
            console.out << report_json(report, check);
            continue;
        }
        console.out << result_line(report);
        if (check) console.out << "Simulated device " << to_utf8(report.path) << ": " << check_text(*check) << "\n";
    }
    if (!options.json) console.out << count_line(reports);
    console.out << std::flush;
    return exit_code_for(reports);
}

}  // namespace

int command_upgrade(Session& session, const Options& options, Console& console) {
    ImageInfo image;
    BenchImages bench;
    if (options.images.size() > 1) {
        if (!load_bench_images(options.images, bench, console.err)) return kExitOther;
        image = bench.front()->info;  // discovery lists every model: see run_device_command
    } else {
        std::optional<std::string> file;
        if (!options.images.empty()) file = options.images.front();
        if (!load_image(session, file, image, console.err)) return kExitOther;
    }
    session.expected_model = image.model;
    RunPlan plan{bench.empty() ? session.store : bench.front()->store, image, options.watch && !options.force,
                 bench.empty() ? nullptr : &bench};
    if (options.watch) return run_station(session, plan, options, console);

    std::vector<DevicePath> paths = devices_to_write(session, options);
    if (paths.empty()) return report_not_found(session, console.err);
    ArmedStop armed(console.stop);
    ProgressDisplay display(console.out, console.terminal, options.all);
    auto reports = write_side_by_side(session, paths, plan, console, options.json ? nullptr : &display);
    if (!options.all) return finish_one(session, reports.front(), options, console);
    return finish_many(session, reports, options, console);
}

}  // namespace wxr::cli
