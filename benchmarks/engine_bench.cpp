// Discovery probes every interface at once: a pass over many interfaces should
// take about as long as a pass over one. And the cost of a whole upgrade
// through the simulated device, without its pauses.
#include <benchmark/benchmark.h>

#include "device/discovery.h"
#include "device/local_mutex.h"
#include "device/sim/sim_hid.h"
#include "device/sim/virtual_clock.h"
#include "device/steady_clock.h"
#include "image/image_store.h"
#include "upgrade/upgrade.h"

namespace wxr {
namespace {

struct Quiet final : UpgradeMessages {
    void show_upgrade_message(UpgradeResult, const std::u16string&) override {}
};

struct NoShift final : ShiftKeyState {
    bool pressed_since_last_query() override { return false; }
};

// The records discovery and the upgrade work on, over one platform and clock.
struct Records {
    Records(HidPlatform& hid, Clock& clock) : channel(hid, clock) {}
    DeviceChannel channel;
    LocalNamedMutexFactory mutexes;
    NoShift shift;
    ExpectedModel expected{16};
    DeviceList list;
    DeviceContext context{channel, mutexes, shift, expected, list};
};

// Real time: the identification's 50 ms pause really passes in every probe.
void BM_DiscoveryPass(benchmark::State& state) {
    SteadyClock clock;
    sim::SimHid hid(clock);
    for (int i = 0; i < state.range(0); ++i) {
        std::string path = "sim:" + std::to_string(i);
        hid.add_interface({.path = std::u16string(path.begin(), path.end())});
    }
    Records records(hid, clock);
    for (auto _ : state) {
        benchmark::DoNotOptimize(discover_devices(records.context));
    }
    state.counters["listed"] = static_cast<double>(records.list.count);
}
BENCHMARK(BM_DiscoveryPass)->Arg(1)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Virtual time: what the upgrade itself costs, 2,464 chunk reports and all.
void BM_SimulatedUpgrade(benchmark::State& state) {
    ImageStore store;
    load_embedded_image(store);
    for (auto _ : state) {
        VirtualClock clock;
        sim::SimHid hid(clock);
        hid.add_interface({.path = u"sim:0"});
        Records records(hid, clock);
        discover_devices(records.context);
        ProgressCounter progress{0};
        Quiet quiet;
        benchmark::DoNotOptimize(upgrade_firmware(records.context, store, progress, quiet));
        state.counters["virtual_ms"] = static_cast<double>(clock.now_ms());
    }
}
BENCHMARK(BM_SimulatedUpgrade)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace wxr

BENCHMARK_MAIN();
