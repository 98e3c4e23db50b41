// The whole upgrade procedure against a simulated device whose faults the
// fuzzer picks: lost writes, unplugging, silence, slow failures, busy replies,
// noise, failed block checks and refused block reports. Whatever happens:
// success only when the device's flash holds the image and it got an end
// report with the image's length and checksum; an image without an info block
// sends nothing; every open is closed; the run ends within a bound of virtual
// time; and a device without transport faults whose misbehaviour stays within
// the procedure's bounds gets the image.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/discovery.h"
#include "device/local_mutex.h"
#include "device/sim/sim_hid.h"
#include "device/sim/virtual_clock.h"
#include "image/image_info.h"
#include "tests/fuzz/fuzz_check.h"
#include "upgrade/upgrade.h"

namespace wxr::fuzz {
namespace {

constexpr std::int32_t kBlockBytes = 1792;
constexpr std::int32_t kChunksPerBlock = 112;
// The end report carries the length in 16 bits: callers write at most this.
constexpr std::int32_t kMaxImageBytes = 65535;
// Short images keep runs fast; now and then one fills the store.
constexpr std::int32_t kUsualMaxImageBytes = 2 * kBlockBytes + 64;
constexpr std::uint32_t kMaxNoAnswerMs = 5000;

// Generous bounds on a run, twice the procedure's own: whole-block sends and
// block report tries per block. Every exchange may poll 5 times before and
// after its write, each read failing slowly and followed by a 20 ms pause.
constexpr std::uint64_t kSendsPerBlockBound = 2 * 8;
constexpr std::uint64_t kReportTriesPerBlockBound = 2 * 16;
constexpr std::uint64_t kPlatformCallsPerExchange = 2 * 5 + 1 + 2;
constexpr std::uint64_t kFixedPausesMs = 100 + 300 + 100 + 500;
constexpr std::uint64_t kBusyPauseMs = 20;
constexpr std::uint64_t kLongestWaitMs = 20;

// Misbehaviour the procedure must ride out: busy for fewer reads than a poll
// makes, fewer failed checks or refusals per block than its bounds.
constexpr int kTolerableBusyReads = 4;
constexpr int kTolerableFailedChecks = 7;
constexpr int kTolerableRefusals = 15;

class NoShift final : public ShiftKeyState {
public:
    bool pressed_since_last_query() override { return false; }
};

class Messages final : public UpgradeMessages {
public:
    void show_upgrade_message(UpgradeResult result, const std::u16string& text) override {
        shown.push_back({result, text});
    }
    std::vector<std::pair<UpgradeResult, std::u16string>> shown;
};

struct Scenario {
    std::vector<std::uint8_t> image;
    sim::SimInterfaceConfig device;
    std::int32_t listed = 1;  // device count; 0 now and then
    bool tolerable = true;    // within what the procedure must ride out
};

std::vector<std::uint8_t> make_image(FuzzedDataProvider& in) {
    const bool large = in.ConsumeIntegral<std::uint8_t>() == 0xFF;
    const auto length = in.ConsumeIntegralInRange<std::int32_t>(0, large ? kMaxImageBytes : kUsualMaxImageBytes);
    std::vector<std::uint8_t> image(static_cast<std::size_t>(length));
    std::uint32_t noise = in.ConsumeIntegral<std::uint32_t>() | 1;
    for (auto& byte : image) {
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        byte = static_cast<std::uint8_t>(noise);
    }
    // Mostly an info block somewhere; sometimes none, or the marker at 0.
    if (length > 5 && in.ConsumeIntegralInRange(0, 7) != 0) {
        const auto at = in.ConsumeIntegralInRange<std::int32_t>(0, length - 5);
        const std::uint8_t block[] = {0x0C, 0x12, 0x03, 0x05, 16, 57, 3};
        for (std::size_t i = 0; i < sizeof block && at + i < image.size(); ++i) image[at + i] = block[i];
    }
    return image;
}

void add_model_faults(FuzzedDataProvider& in, Scenario& s, int blocks) {
    auto& faults = s.device.model_faults;
    faults.busy_reads = in.ConsumeIntegralInRange(0, 6);
    const auto flags = in.ConsumeIntegral<std::uint8_t>();
    faults.stay_busy = flags == 0xFE;
    faults.garbage = flags == 0xFF;
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) {
        const int times = in.ConsumeIntegralInRange(0, 10);
        faults.fail_block_check[in.ConsumeIntegralInRange(0, blocks)] = times;
        s.tolerable = s.tolerable && times <= kTolerableFailedChecks;
    }
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) {
        const int times = in.ConsumeIntegralInRange(0, 20);
        faults.refuse_block_report[in.ConsumeIntegralInRange(0, blocks)] = times;
        s.tolerable = s.tolerable && times <= kTolerableRefusals;
    }
    s.tolerable = s.tolerable && !faults.stay_busy && !faults.garbage && faults.busy_reads <= kTolerableBusyReads;
}

void add_transport_faults(FuzzedDataProvider& in, Scenario& s, int blocks) {
    auto& faults = s.device.transport_faults;
    // About as many writes and platform calls as a healthy run makes.
    const auto writes = static_cast<std::uint64_t>(blocks + 1) * (kChunksPerBlock + 4);
    const std::uint64_t calls = writes * 4;
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) {
        faults.drop_sets.insert(in.ConsumeIntegralInRange<std::uint64_t>(1, writes));
    }
    const auto which = in.ConsumeIntegralInRange(0, 7);
    if (which == 1) faults.unplug_after = in.ConsumeIntegralInRange<std::uint64_t>(0, calls);
    if (which == 2) faults.silent_after = in.ConsumeIntegralInRange<std::uint64_t>(0, calls);
    if (which == 3) faults.silent = true;
    if (which != 0) faults.no_answer_ms = in.ConsumeIntegralInRange<std::uint32_t>(0, kMaxNoAnswerMs);
    s.tolerable = s.tolerable && faults.drop_sets.empty() && which == 0;
}

Scenario make_scenario(FuzzedDataProvider& in) {
    Scenario s;
    s.image = make_image(in);
    s.device.path = u"sim:0";
    const int blocks = static_cast<int>((s.image.size() + kBlockBytes - 1) / kBlockBytes);
    if (in.ConsumeIntegralInRange(0, 31) == 0) s.listed = 0;
    s.tolerable = s.listed == 1;
    add_model_faults(in, s, blocks);
    add_transport_faults(in, s, blocks);
    return s;
}

// The scenario as the command line's --simulate keys, for a finding's report.
std::string describe(const Scenario& s) {
    const auto& m = s.device.model_faults;
    const auto& t = s.device.transport_faults;
    std::string out = "image of " + std::to_string(s.image.size()) + " bytes, " + std::to_string(s.listed) +
                      " listed; busy=" + std::to_string(m.busy_reads);
    if (m.stay_busy) out += ",stay-busy";
    if (m.garbage) out += ",garbage";
    for (const auto& [block, times] : m.fail_block_check) {
        out += ",fail-block-check=" + std::to_string(block) + ":" + std::to_string(times);
    }
    for (const auto& [block, times] : m.refuse_block_report) {
        out += ",refuse-block-report=" + std::to_string(block) + ":" + std::to_string(times);
    }
    for (auto write : t.drop_sets) out += ",drop=" + std::to_string(write);
    if (t.unplug_after) out += ",unplug-after=" + std::to_string(*t.unplug_after);
    if (t.silent_after) out += ",silent-after=" + std::to_string(*t.silent_after);
    if (t.silent) out += ",silent";
    if (t.no_answer_ms) out += ",no-answer-ms=" + std::to_string(t.no_answer_ms);
    return out;
}

std::uint64_t exchange_bound(std::size_t image_bytes) {
    const std::uint64_t blocks = (image_bytes + kBlockBytes - 1) / kBlockBytes;
    return 4 + blocks * (kSendsPerBlockBound * (kChunksPerBlock + 1) + kReportTriesPerBlockBound);
}

void check_run(const Scenario& s, const ImageStore& store, UpgradeResult result, const Messages& messages,
               const sim::SimHid& hid, const VirtualClock& clock, std::int32_t progress) {
    const auto length = static_cast<std::int32_t>(s.image.size());
    const std::int32_t blocks = (length + kBlockBytes - 1) / kBlockBytes;
    const sim::InterfaceStats stats = hid.stats(0);
    ImageInfo info;
    const bool has_block = parse_image_info(store.bytes, store.length, info) == 1;

    check(stats.open_handles == 0, "every open is closed");
    check(progress >= 0 && progress <= kChunksPerBlock * blocks, "progress counts first-pass chunks only");
    if (!has_block) {
        check(result == UpgradeResult::NoInfoBlock && messages.shown.empty(), "no info block: a silent end");
        check(stats.operations == 0 && progress == 0, "no info block: nothing sent");
        return;
    }
    check(messages.shown.size() == 1 && messages.shown[0].first == result, "one message, of the outcome");
    check(messages.shown[0].second == (result == UpgradeResult::Succeeded ? kUpgradeSuccessText : kUpgradeFailText),
          "the outcome's text");
    const std::uint64_t no_answer = s.device.transport_faults.no_answer_ms;
    const std::uint64_t exchanges = exchange_bound(s.image.size());
    check(stats.operations <= exchanges * kPlatformCallsPerExchange, "a bounded number of device operations");
    check(clock.now_ms() <= kFixedPausesMs + exchanges * (kPlatformCallsPerExchange * (no_answer + kBusyPauseMs) +
                                                         kLongestWaitMs),
          "a run ends within bounded virtual time");
    if (s.tolerable) check(result == UpgradeResult::Succeeded, "a device that recovers within the bounds is upgraded");
    if (result != UpgradeResult::Succeeded) return;

    const sim::DeviceModel model = hid.model(0);
    check(std::equal(s.image.begin(), s.image.end(), model.flash().begin()), "success: the flash holds the image");
    check(model.end_report().has_value(), "success: the device got the end report");
    check(model.end_report()->length == length && model.end_report()->checksum == info.checksum &&
              model.end_report()->matches_flash,
          "success: the end report carries the image's length and checksum");
    check(progress == kChunksPerBlock * blocks, "success: 112 first-pass chunks per block");
}

}  // namespace
}  // namespace wxr::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wxr;
    using namespace wxr::fuzz;
    FuzzedDataProvider in(data, size);
    const Scenario s = make_scenario(in);
    finding_context() = describe(s);

    VirtualClock clock;
    sim::SimHid hid(clock);
    hid.add_interface(s.device);
    DeviceChannel channel(hid, clock);
    LocalNamedMutexFactory mutexes;
    NoShift shift;
    ExpectedModel expected_model{16};
    DeviceList list;
    list.paths[0] = s.device.path;
    list.count = s.listed;
    DeviceContext context{channel, mutexes, shift, expected_model, list};

    auto store = std::make_unique<ImageStore>();
    std::copy(s.image.begin(), s.image.end(), store->bytes.begin());
    store->length = static_cast<std::int32_t>(s.image.size());
    ProgressCounter progress{-1};
    Messages messages;
    const UpgradeResult result = upgrade_firmware(context, *store, progress, messages);
    check_run(s, *store, result, messages, hid, clock, progress.load());
    return 0;
}
