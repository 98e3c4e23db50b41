#include <chrono>
#include <optional>
#include <ostream>

#include "app/cli/cli.h"
#include "app/cli/commands.h"
#include "app/cli/device_names.h"
#include "station/image_source.h"
#include "app/cli/output.h"
#include "app/cli/program_name.h"
#include "app/page/bench_page.h"
#include "device/host.h"
#include "station/port_names.h"
#include "station/station.h"
#include "station/station_id.h"
#include "app/cli/station_output.h"
#include "app/publish/publish_setup.h"

namespace wxr::cli {

namespace {

// Without --device, --all or --watch: the unit the dialog would write. With
// --device: the units it names, which are written as --all writes them
// unless it names one.
StationPlan plan_for(Session& session, const Options& options, const BenchImages& images, const NamedDevices& named) {
    StationPlan plan;
    plan.count = options.count;
    if (options.watch) {
        plan.mode = StationMode::Watch;
        plan.names = options.devices;
    } else if (!options.devices.empty()) {
        plan.paths = named.paths;
        plan.mode = plan.paths.size() > 1 || options.devices.size() > 1 ? StationMode::All : StationMode::One;
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

// The command that writes the units again: the same images, log and
// simulation; the units follow as --device options.
std::vector<std::string> retry_words(const Options& options) {
    std::vector<std::string> words{program_name(), "upgrade"};
    for (const std::string& image : options.images) words.insert(words.end(), {"--image", image});
    if (options.log) words.insert(words.end(), {"--log", *options.log});
    if (options.simulate_spec) words.push_back(options.simulate_spec->empty() ? "--simulate" : "--simulate=" + *options.simulate_spec);
    if (options.session.virtual_time) words.push_back("--virtual-time");
    return words;
}

// The link as the page's line shows it, its wait on the wall clock: the
// records' times are (a virtual clock only speeds the units).
page::LinkView link_view(const publish::PublishLink& link) {
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
    return {publish::link_text(link, now), link.connected && link.unsent_bytes == 0};
}

}  // namespace

int command_upgrade(Session& session, const Options& options, Console& console) {
    BenchImages images;
    if (!load_bench_images(options.images, images, console.err)) return kExitOther;
    session.expected_model = images.front()->info.model;
    PortNames ports;
    if (options.port_names && !read_port_names(*options.port_names, ports, console.err)) return kExitOther;
    // Before any file is written or unit touched: a port in use ends the command here.
    std::unique_ptr<page::BenchPage> bench_page;
    if (options.serve && !(bench_page = page::BenchPage::start(*options.serve, options.port_names, images, session.clock(),
                                                               console.err))) {
        return kExitOther;
    }
    // The log is opened (never truncated) before the trace is emptied: a log
    // that cannot be opened refuses the command with every file as it was.
    std::optional<LogFile> log_file;
    std::optional<StationLog> log;
    const std::string host = host_name(), started = utc_time_now();
    if (options.log) {
        log_file.emplace(*options.log);
        log.emplace(*log_file, host, started);
    }
    const std::string station = new_station_id(options.session.virtual_time);
    bool publish_failed = false;
    const publish::PublishOptions publishing{options.publish, options.publish_topic, options.publish_auth,
                                             options.publish_ca,  options.log,           options.devices,
                                             station};
    std::shared_ptr<publish::Publisher> publisher =
        publish::publisher_for(publishing, images, host, console.err, publish_failed);
    if (publish_failed) return kExitOther;
    if (bench_page && publisher) {
        bench_page->board().add_metrics([publisher] { return publish::metrics_text(publisher->link()); });
        bench_page->board().add_link([publisher] { return link_view(publisher->link()); });
    }
    session.open_trace();
    // A station's names are for units still to come: none need be present now.
    const NamedDevices named = options.watch ? NamedDevices{} : name_devices(session, options.devices);
    StationPlan plan = plan_for(session, options, images, named);
    plan.station = station;
    // A restart writes no unit twice: what this station wrote, as its log says.
    if (options.watch && options.log) plan.written_before.read_log(*options.log, host);
    RunPlan run_plan{images, options.watch && !options.force};
    // Several names, one wrong: said before any unit is written, not below a count.
    const std::string missing_before = options.devices.size() > 1 ? unmatched_text(named, {}) : std::string();
    if (!missing_before.empty()) console.err << missing_before << std::flush;
    BenchSetup setup{retry_words(options), options.port_names ? &ports : nullptr,
                     [&session] { return session.clock().now_ms(); }, options.log.has_value()};
    auto output = make_station_output(form_for(options, plan), console, std::move(setup));
    AnsweredPaths answered;
    std::vector<StationListener*> listeners{output.get(), &answered};
    if (bench_page) listeners.push_back(&bench_page->board());
    if (publisher) listeners.push_back(publisher.get());
    int code = run_station(session, plan, run_plan, console.stop, log ? &*log : nullptr, listeners);
    if (publisher) publisher->stop();  // what is left is sent while the broker answers, for a bounded time
    if (std::string missing = unmatched_text(named, answered.paths); !missing.empty()) {
        if (missing_before.empty()) console.err << missing << std::flush;
        code = worse(code, kExitNoDevice);
    }
    return code;
}

}  // namespace wxr::cli
