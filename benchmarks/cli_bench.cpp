// wxr7305 on simulated devices and the real clock, each figure measured side
// by side with its reference in the same run:
//   - one upgrade against the protocol's pauses (summed from a trace);
//   - list over 200 interfaces against list over 1;
//   - upgrade --all over 20 devices against one device;
//   - when piped progress lines arrive during an upgrade;
//   - upgrade --all over 20 devices with --serve and 20 viewers following
//     its events, against the same without.
//   - upgrade --all over 200 units on a terminal (a pty) against the same piped.
// Prints ratios; asserts nothing (speed is measured, not tested). `cli_bench
// serve` prints the --serve figure alone.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <utility>  // Asio 1.74 uses std::exchange without including it

#include <boost/asio.hpp>
#ifndef _WIN32
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "app/cli/cli.h"
#include "app/page/page_server.h"
#include "device/local_mutex.h"
#include "device/sim/sim_hid.h"
#include "device/steady_clock.h"
#include "device/transcript.h"
#include "upgrade/device_query.h"
#include "upgrade/upgrade.h"

namespace {

using Clock = std::chrono::steady_clock;
// Odd so that the median is one of the runs; enough to smooth a shared machine.
constexpr int kRounds = 5;

struct Timed {
    int code;
    double ms;
    std::string out;
};

Timed wxr7305(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    auto start = Clock::now();
    int code = wxr::cli::run(args, out, err, false);
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return {code, ms, out.str()};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Medians of two commands, run alternately so that both see the same load.
std::pair<double, double> side_by_side(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::vector<double> ta, tb;
    for (int i = 0; i < kRounds; ++i) {
        ta.push_back(wxr7305(a).ms);
        tb.push_back(wxr7305(b).ms);
    }
    return {median(ta), median(tb)};
}

// The pauses a run asks for: the sum of the trace's sleep lines.
double protocol_pauses_ms(const std::vector<std::string>& args) {
    auto trace = std::filesystem::temp_directory_path() / "wxr7305_cli_bench_trace.txt";
    std::vector<std::string> traced = args;
    traced.insert(traced.end(), {"--virtual-time", "--trace", trace.string()});
    wxr7305(traced);
    std::ifstream in(trace);
    double total = 0;
    for (std::string text; std::getline(in, text);) {
        auto line = wxr::parse_transcript_line(text);
        if (line && line->op == "sleep") total += std::stod(line->detail);
    }
    in.close();
    std::filesystem::remove(trace);
    return total;
}

struct Quiet final : wxr::UpgradeMessages {
    void show_upgrade_message(wxr::UpgradeResult, const std::u16string&) override {}
};

struct NoShift final : wxr::ShiftKeyState {
    bool pressed_since_last_query() override { return false; }
};

// What the command does, called directly: discovery, query and upgrade on
// the real clock. What no command line can beat on this machine right now.
double engine_alone_ms() {
    using namespace wxr;
    auto start = Clock::now();
    SteadyClock clock;
    sim::SimHid hid(clock);
    hid.add_interface({.path = u"sim:0", .model_faults = {.busy_reads = 0}});
    DeviceChannel channel(hid, clock);
    LocalNamedMutexFactory mutexes;
    NoShift shift;
    ImageStore store;
    load_embedded_image(store);
    ExpectedModel expected{16};
    DeviceList list;
    DeviceContext context{channel, mutexes, shift, expected, list};
    discover_devices(context);
    ImageInfo device;
    query_device_info(context, device);
    ProgressCounter progress{0};
    Quiet quiet;
    upgrade_firmware(context, store, progress, quiet);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Notes when each progress line reaches the stream's flush, as a pipe would see it.
class ArrivalClock : public std::stringbuf {
public:
    explicit ArrivalClock(Clock::time_point start) : start_(start) {}
    std::vector<double> arrivals;

protected:
    int sync() override {
        if (str().find("progress", seen_) != std::string::npos) {
            arrivals.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start_).count());
        }
        seen_ = str().size();
        return 0;
    }

private:
    Clock::time_point start_;
    std::size_t seen_ = 0;
};

// Per-unit results and seconds of a faulty bench on the real clock and on the
// virtual one: the simulation is only worth its name if they agree.
void print_clock_agreement() {
    const std::vector<std::string> bench = {
        "upgrade", "--all", "--json",
        "--simulate=devices=20,busy=0,3:unplug-after=3000,5:busy=3,7:silent-after=100,9:sensor=1,11:drop=50,"
        "12:fail-block-check=3:2,14:refuse-block-report=20:16"};
    std::vector<std::string> virtual_bench = bench;
    virtual_bench.push_back("--virtual-time");
    auto units = [](const std::string& out) {
        std::vector<std::pair<std::string, double>> found;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            auto result = line.find("\"result\":\"");
            auto seconds = line.find("\"seconds\":");
            if (result == std::string::npos || seconds == std::string::npos) continue;
            std::string name = line.substr(result + 10, line.find('"', result + 10) - result - 10);
            found.emplace_back(name, std::stod(line.substr(seconds + 10)));
        }
        return found;
    };
    auto real = units(wxr7305(bench).out);
    auto simulated = units(wxr7305(virtual_bench).out);
    std::size_t same_results = 0;
    double worst = 0;
    for (std::size_t i = 0; i < real.size() && i < simulated.size(); ++i) {
        if (real[i].first == simulated[i].first) ++same_results;
        if (simulated[i].second > 0) worst = std::max(worst, std::abs(real[i].second / simulated[i].second - 1));
    }
    std::printf("real vs virtual clock, 20 units with faults: %zu of %zu results the same; "
                "seconds differ by at most %.2f %% (target <= 1 %%)\n",
                same_results, real.size(), worst * 100);
}

// Reads the page's events until the stream ends; whether any came.
bool follow(int port) {
    namespace net = boost::asio;
    net::io_context io;
    net::ip::tcp::socket socket(io);
    boost::system::error_code ec;
    socket.connect({net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)}, ec);
    const std::string request = "GET /events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
    if (!ec) net::write(socket, net::buffer(request), ec);
    bool any = false;
    char chunk[4096];
    while (!ec) any = socket.read_some(net::buffer(chunk), ec) > 0 || any;
    return any;
}

// Browsers following the page's events: each connects as soon as the
// server listens and again whenever its stream ends, until told to stop.
class Viewers {
public:
    Viewers(int port, int count) {
        for (int i = 0; i < count; ++i) {
            threads_.emplace_back([this, port] {
                bool followed = false;
                while (!stop_) {
                    followed = follow(port) || followed;
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // not listening yet, or ended
                }
                if (followed) ++followed_;
            });
        }
    }
    // How many got an event.
    int stop() {
        stop_ = true;
        for (auto& thread : threads_) thread.join();
        return followed_;
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> followed_{0};
    std::vector<std::thread> threads_;
};

// A port no one listens on now: one the system gave a server that has ended.
int free_port() {
    wxr::SteadyClock clock;
    std::string why;
    auto board = std::make_shared<wxr::page::BenchBoard>(wxr::station::BenchImages{}, wxr::page::PortNames{}, clock);
    return wxr::page::PageServer::start({"127.0.0.1", 0}, board, why)->port();
}

// The same --all with the page served to 20 viewers and without, alternately.
void print_serve_cost() {
    constexpr int kViewers = 20;
    const int port = free_port();
    const std::vector<std::string> plain = {"upgrade", "--all", "--simulate=devices=20,busy=0"};
    std::vector<std::string> served = plain;
    served.insert(served.end(), {"--serve", std::to_string(port)});
    std::vector<double> with, without;
    int followed = 0;
    for (int i = 0; i < kRounds; ++i) {
        without.push_back(wxr7305(plain).ms);
        Viewers viewers(port, kViewers);
        with.push_back(wxr7305(served).ms);
        followed += viewers.stop();
    }
    std::printf("upgrade --all, 20 devices: with --serve and %d viewers %.1f ms, without %.1f ms; ratio %.3f "
                "(target <= 1.02); %d of %d viewers followed the events\n",
                kViewers, median(with), median(without), median(with) / median(without), followed,
                kViewers * kRounds);
}
#ifndef _WIN32
// The program itself with its output on a terminal of 80 x 24 (a pty) or a
// pipe, read to its end; milliseconds from start to exit.
double program_ms(const std::vector<std::string>& args, bool on_terminal) {
    int reader = -1, writer = -1;
    winsize size{24, 80, 0, 0};
    if (on_terminal) {
        if (openpty(&reader, &writer, nullptr, nullptr, &size) != 0) return -1;
    } else {
        int fds[2];
        if (pipe(fds) != 0) return -1;
        reader = fds[0], writer = fds[1];
    }
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(writer, STDOUT_FILENO);
        dup2(writer, STDERR_FILENO);
        close(reader);
        close(writer);
        std::vector<char*> argv{const_cast<char*>(WXR7305_PROGRAM)};
        for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(writer);
    char buffer[65536];
    while (read(reader, buffer, sizeof buffer) > 0) {
    }
    waitpid(pid, nullptr, 0);
    close(reader);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void print_terminal_against_pipe(const std::vector<std::string>& args, const char* what) {
    std::vector<double> terminal, piped;
    for (int i = 0; i < kRounds; ++i) {
        terminal.push_back(program_ms(args, true));
        piped.push_back(program_ms(args, false));
    }
    std::printf("%s: on a terminal %.1f ms, piped %.1f ms; ratio %.3f (target <= 1.05)\n", what, median(terminal),
                median(piped), median(terminal) / median(piped));
}
#endif

}  // namespace

int main(int argc, char** argv) {
    // "serve": that figure alone, for a change to the page.
    if (argc > 1 && std::string(argv[1]) == "serve") {
        print_serve_cost();
        return 0;
    }
    const std::vector<std::string> one = {"upgrade", "--simulate=busy=0"};
    double pauses = protocol_pauses_ms(one);
    std::vector<double> runs, engine;
    for (int i = 0; i < kRounds; ++i) {
        runs.push_back(wxr7305(one).ms);
        engine.push_back(engine_alone_ms());
    }
    double upgrade = median(runs);
    std::printf("upgrade --simulate=busy=0: %.1f ms; protocol pauses %.1f ms; ratio %.3f (target <= 1.03)\n",
                upgrade, pauses, upgrade / pauses);
    std::printf("  the engine alone, same pauses, same machine: %.1f ms (%.3f x pauses); command / engine %.3f\n",
                median(engine), median(engine) / pauses, upgrade / median(engine));

    auto [list200, list1] = side_by_side({"list", "--simulate=devices=200,busy=0"}, {"list", "--simulate=devices=1,busy=0"});
    std::printf("list: 200 interfaces %.1f ms, 1 interface %.1f ms; ratio %.3f (target <= 1.3)\n", list200, list1,
                list200 / list1);

    const std::vector<std::string> all = {"upgrade", "--all", "--simulate=devices=20,busy=0"};
    auto [all20, single] = side_by_side(all, one);
    Timed checked = wxr7305(all);
    std::printf("upgrade --all: 20 devices %.1f ms, 1 device %.1f ms; ratio %.3f (target <= 1.15); "
                "exit %d, %zu of 20 flashes equal the image\n",
                all20, single, all20 / single, checked.code, count(checked.out, "flash equals the image"));
    Timed unplugged = wxr7305({"upgrade", "--all", "--simulate=devices=20,busy=0,7:unplug-after=3000"});
    std::printf("upgrade --all with sim:7 unplugged part-way: exit %d, %zu succeeded\n", unplugged.code,
                count(unplugged.out, "  success  "));

    print_clock_agreement();
    print_serve_cost();
#ifndef _WIN32
    print_terminal_against_pipe({"upgrade", "--all", "--simulate=devices=200,busy=0"},
                                "upgrade --all over 200 units, real clock");
    print_terminal_against_pipe({"upgrade", "--all", "--virtual-time", "--simulate=devices=200,busy=0"},
                                "upgrade --all over 200 units, virtual clock (the display's own cost)");
#endif

    auto start = Clock::now();
    ArrivalClock buffer(start);
    std::ostream piped(&buffer);
    std::ostringstream err;
    wxr::cli::run(one, piped, err, false);
    double end = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("piped progress lines: %zu, arriving at", buffer.arrivals.size());
    for (double at : buffer.arrivals) std::printf(" %.0f", at);
    std::printf(" ms of a %.0f ms run\n", end);
    return 0;
}
