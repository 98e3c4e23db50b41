#include "tools/vm/vm_device.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

#include "image/image_info.h"
#include "tools/vm/uhid_descriptors.h"

namespace wxr::vm {

namespace {

constexpr const char* kSharedUsage =
    "       --name NAME [--feature-bytes 20|21] [--expect IMAGE]\n"
    "       [--model M] [--sensor S] [--version V] [--busy-reads N]\n"
    "       [--fail-block-check BLOCK:TIMES] [--refuse-block-report BLOCK:TIMES]\n"
    "       [--unplug-after-sets N] [--stall-after-sets N] [--silent-after-sets N]\n";

[[noreturn]] void usage(const char* program, const char* extra_usage) {
    std::fprintf(stderr, "usage: %s %s\n%s", program, extra_usage, kSharedUsage);
    std::exit(2);
}

bool read_file(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad() && !bytes.empty() && bytes.size() <= sim::kFlashBytes;
}

// A device of the expected image's own model and sensor, so that whatever
// firmware the tool embeds fits it; options override.
sim::Identity identity_for(const DeviceOptions& o) {
    sim::Identity identity;
    ImageInfo info;
    if (!o.image.empty() &&
        parse_image_info(o.image, static_cast<std::int32_t>(o.image.size()), info) == 1) {
        identity.model = info.model;
        identity.sensor = info.sensor;
    }
    identity.model = o.model.value_or(identity.model);
    identity.sensor = o.sensor.value_or(identity.sensor);
    identity.version = o.version.value_or(identity.version);
    return identity;
}

std::string lengths(const std::set<std::size_t>& seen) {
    if (seen.empty()) return "-";
    std::string text;
    for (std::size_t length : seen) {
        if (!text.empty()) text += ',';
        text += std::to_string(length);
    }
    return text;
}

}  // namespace

DeviceOptions parse_device_options(int argc, char** argv, const char* program,
                                   const char* extra_usage, const ExtraOption& extra) {
    DeviceOptions o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) usage(program, extra_usage);
        std::string value = argv[++i];
        auto number = [&] { return std::strtol(value.c_str(), nullptr, 0); };
        auto byte = [&] { return static_cast<std::uint8_t>(number()); };
        // BLOCK:TIMES, a fault of the simulated firmware.
        auto fault = [&](std::map<int, int>& faults) {
            char* rest = nullptr;
            long block = std::strtol(value.c_str(), &rest, 0);
            if (*rest != ':') usage(program, extra_usage);
            faults[static_cast<int>(block)] = static_cast<int>(std::strtol(rest + 1, nullptr, 0));
        };
        if (arg == "--name") o.name = value;
        else if (arg == "--feature-bytes") o.feature_bytes = static_cast<int>(number());
        else if (arg == "--unplug-after-sets") o.unplug_after_sets = number();
        else if (arg == "--stall-after-sets") o.stall_after_sets = number();
        else if (arg == "--silent-after-sets") o.silent_after_sets = number();
        else if (arg == "--expect") o.expect = value;
        else if (arg == "--model") o.model = byte();
        else if (arg == "--sensor") o.sensor = byte();
        else if (arg == "--version") o.version = byte();
        else if (arg == "--busy-reads") o.faults.busy_reads = static_cast<int>(number());
        else if (arg == "--fail-block-check") fault(o.faults.fail_block_check);
        else if (arg == "--refuse-block-report") fault(o.faults.refuse_block_report);
        else if (!extra || !extra(arg, value)) usage(program, extra_usage);
    }
    if (o.feature_bytes != 20 && o.feature_bytes != 21) usage(program, extra_usage);
    if (!o.expect.empty() && !read_file(o.expect, o.image)) {
        std::fprintf(stderr, "%s: %s: unreadable, empty or larger than the flash\n", program,
                     o.expect.c_str());
        std::exit(1);
    }
    return o;
}

std::span<const std::uint8_t> report_descriptor(const DeviceOptions& options) {
    if (options.feature_bytes == 20) return kUpgradableDescriptor;
    return kOtherLengthDescriptor;
}

DeviceCore::DeviceCore(DeviceOptions options)
    : options_(std::move(options)), model_(identity_for(options_), options_.faults) {}

Answer DeviceCore::next_answer() const {
    if (options_.silent_after_sets && sets_ >= *options_.silent_after_sets) return Answer::silent;
    if (options_.stall_after_sets && sets_ >= *options_.stall_after_sets) return Answer::stall;
    return Answer::reply;
}

bool DeviceCore::on_get(std::uint8_t type, std::uint8_t id, std::optional<std::size_t> length,
                        std::span<std::uint8_t, sim::kReplyLength> reply) {
    ++gets_;
    if (length) get_lengths_.insert(*length);
    if (!accepts(type, id)) return false;
    std::fill(reply.begin(), reply.end(), 0);
    model_.on_get(reply);
    return true;
}

bool DeviceCore::on_set(std::uint8_t type, std::uint8_t id, std::span<const std::uint8_t> data) {
    ++sets_;
    set_lengths_.insert(data.size());
    if (options_.stall_after_sets == sets_) note_fault("stalling");
    if (options_.silent_after_sets == sets_) note_fault("silent");
    if (!accepts(type, id)) return false;
    model_.on_set(data);
    return true;
}

bool DeviceCore::unplug_due() const {
    return options_.unplug_after_sets && sets_ >= *options_.unplug_after_sets;
}

void DeviceCore::note_unplugged() {
    unplugged_ = true;
    note_fault("unplugged");
}

// The guest's uptime clock, so that a test can time the tool from the fault on.
void DeviceCore::note_fault(const char* what) const {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    std::printf("%s: %s after %ld sets at %.2f s\n", options_.name.c_str(), what, sets_,
                static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9);
    std::fflush(stdout);
}

void DeviceCore::print_line(const char* what) const {
    std::printf("%s: %s\n", options_.name.c_str(), what);
    std::fflush(stdout);
}

std::string DeviceCore::image_verdict() const {
    const auto& image = options_.image;
    if (image.empty()) return "none";
    const auto& flash = model_.flash();
    bool same = std::equal(image.begin(), image.end(), flash.begin());
    bool rest_erased = std::all_of(flash.begin() + static_cast<long>(image.size()), flash.end(),
                                   [](std::uint8_t b) { return b == sim::kErasedByte; });
    return same && rest_erased ? "match" : "differs";
}

std::string DeviceCore::summary() const {
    const auto& c = model_.counters();
    const auto& end = model_.end_report();
    char line[512];
    std::snprintf(line, sizeof line,
                  "%s: gets=%ld sets=%ld identifications=%zu blocks=%zu end=%s image=%s "
                  "unplugged=%s checks=%zu block-reports=%zu set-lengths=%s get-lengths=%s "
                  "refused=%ld silent=%s",
                  options_.name.c_str(), gets_, sets_, c.identifications, c.blocks_accepted,
                  end ? (end->matches_flash ? "yes" : "mismatch") : "no", image_verdict().c_str(),
                  unplugged_ ? "yes" : "no", c.block_checks, c.block_reports,
                  lengths(set_lengths_).c_str(), lengths(get_lengths_).c_str(), refused_,
                  next_answer() == Answer::silent ? "yes" : "no");
    return line;
}

void DeviceCore::print_summary() const {
    std::printf("%s\n", summary().c_str());
    std::fflush(stdout);
}

int signal_descriptor() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
    return signalfd(-1, &set, SFD_CLOEXEC);
}

}  // namespace wxr::vm
