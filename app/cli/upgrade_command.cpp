#include <optional>
#include <ostream>

#include "app/cli/cli.h"
#include "app/cli/commands.h"
#include "app/cli/image_source.h"
#include "app/cli/output.h"
#include "app/cli/station.h"

namespace wxr::cli {

namespace {

// Without --device, --all or --watch: the device the dialog would write,
// entry 0 of a pass, named, with how many other fitting units it leaves alone.
StationPlan one_discovered(Session& session, const Options& options, Console& console) {
    StationPlan plan{StationMode::One, {}, false, std::nullopt, nullptr};
    DeviceContext context = session.context();
    DeviceHolds holds = hold_present(session.channel());  // until the run holds its unit
    std::int32_t found = discover_devices(context);
    if (found <= 0) return plan;
    plan.paths.push_back(session.list.paths[0]);
    std::erase_if(holds, [&](const DeviceHold& hold) { return hold.path() != plan.paths[0]; });
    plan.from_discovery = std::make_shared<DeviceHolds>(std::move(holds));
    plan.left_alone = found - 1;
    if (options.json) return plan;
    console.out << "Writing " << to_utf8(plan.paths[0]);
    if (std::string where = whereabouts(session.channel().location(plan.paths[0]),
                                        session.channel().serial_number(plan.paths[0]));
        !where.empty()) {
        console.out << " (" << where << ")";
    }
    if (found > 1) {
        console.out << "; " << found - 1 << " other fitting device" << (found == 2 ? "" : "s")
                    << " left alone (--all writes every one)";
    }
    console.out << ".\n" << std::flush;
    return plan;
}

StationPlan plan_for(Session& session, const Options& options, Console& console) {
    if (options.watch) return {StationMode::Watch, {}, true, std::nullopt};
    if (options.device) return {StationMode::One, device_paths(session, *options.device), true, std::nullopt};
    if (!options.all) return one_discovered(session, options, console);
    auto present = session.channel().enumerate();
    return {StationMode::All, present.value_or(std::vector<DevicePath>{}), true, std::nullopt};
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
    // Only now that the images are read: the trace must never destroy one.
    session.open_trace(options.images);
    std::optional<LogFile> log;
    if (options.log) log.emplace(*options.log);
    session.expected_model = image.model;
    RunPlan plan{bench.empty() ? session.store : bench.front()->store, image, options.watch && !options.force};
    if (!bench.empty()) plan.bench = &bench;
    StationPlan station = plan_for(session, options, console);
    return run_station(session, plan, station, options, console, log ? &*log : nullptr);
}

}  // namespace wxr::cli
