// A station's day on the virtual clock: 10,000 simulated units arrive one
// after another, are written and taken away. Prints the process's memory
// (RSS) and the time per unit after 500 and after 10,000 units, from the
// result lines as they come; asserts nothing (targets: memory after 10,000
// at most 1.2 x memory after 500, time per unit flat).
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli.h"

namespace {

using WallClock = std::chrono::steady_clock;

constexpr int kUnits = 10000;
constexpr int kEarly = 500;
// Arrivals far enough apart that a unit is written before the next comes,
// and taken away a while after: a bench as an operator runs it.
constexpr char kSimulation[] = "--simulate=devices=10000,version=50,arrive-every=2000,leave-after=4000";

// Resident memory in KiB, as the kernel counts it now.
long rss_kib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

struct Sample {
    int units;
    double seconds;
    long rss;
};

// Notes the time and memory when the result lines pass given counts.
class ResultWatch : public std::stringbuf {
public:
    explicit ResultWatch(std::vector<int> marks) : marks_(std::move(marks)), start_(WallClock::now()) {}
    std::vector<Sample> samples;
    int results = 0;

protected:
    int sync() override {
        const std::string text = str();
        for (auto at = text.find("\"result\""); at != std::string::npos; at = text.find("\"result\"", at + 1)) {
            ++results;
            for (int mark : marks_) {
                if (results == mark) {
                    double s = std::chrono::duration<double>(WallClock::now() - start_).count();
                    samples.push_back({results, s, rss_kib()});
                }
            }
        }
        // Counted: the bench keeps none of it.
        str({});
        return 0;
    }

private:
    std::vector<int> marks_;
    WallClock::time_point start_;
};

}  // namespace

int main() {
    ResultWatch watch({1, kEarly, kUnits - kEarly, kUnits});
    std::ostream out(&watch);
    std::ostringstream err;
    int code = wxr::cli::run({"upgrade", "--watch", "--count", std::to_string(kUnits), "--virtual-time", "--json",
                              kSimulation},
                             out, err, false);
    std::printf("station soak: %d results, exit %d\n", watch.results, code);
    if (watch.samples.size() != 4) {
        std::printf("  the station stopped early: %s\n", err.str().c_str());
        return 0;
    }
    const Sample& first = watch.samples[0];
    const Sample& early = watch.samples[1];
    const Sample& late = watch.samples[2];
    const Sample& last = watch.samples[3];
    double early_ms = (early.seconds - first.seconds) * 1000.0 / (kEarly - 1);
    double late_ms = (last.seconds - late.seconds) * 1000.0 / kEarly;
    std::printf("  memory (RSS): %ld KiB after %d units, %ld KiB after %d; ratio %.3f (target <= 1.2)\n", early.rss,
                kEarly, last.rss, kUnits, static_cast<double>(last.rss) / static_cast<double>(early.rss));
    std::printf("  time per unit: %.2f ms over units 2-%d, %.2f ms over units %d-%d; ratio %.3f (target flat)\n",
                early_ms, kEarly, late_ms, kUnits - kEarly + 1, kUnits, late_ms / early_ms);
    std::printf("  whole run: %.1f s wall\n", last.seconds);
    return 0;
}
