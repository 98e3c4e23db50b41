#include "app/cli/progress.h"

#include <algorithm>
#include <chrono>
#include <ostream>
#include <string>
#include <thread>

namespace wxr::cli {

namespace {

// As often as the dialog's timer moves its bar.
constexpr auto kRedrawPeriod = std::chrono::milliseconds(200);
constexpr int kBarWidth = 40;
// Without a terminal, a line per tenth of the way.
constexpr int kPlainSteps = 10;

// The command line prints the outcome itself, once the bar is complete.
class SilentMessages final : public UpgradeMessages {
public:
    void show_upgrade_message(UpgradeResult, const std::u16string&) override {}
};

int percent(std::int32_t value, std::int32_t range) {
    if (range <= 0) return 100;
    return static_cast<int>(std::clamp<std::int64_t>(std::int64_t{value} * 100 / range, 0, 100));
}

class Display {
public:
    Display(std::ostream& out, bool terminal, std::int32_t range) : out_(out), terminal_(terminal), range_(range) {}

    void show(std::int32_t value) {
        if (terminal_) {
            out_ << '\r' << progress_bar(value, range_) << std::flush;
            return;
        }
        int step = percent(value, range_) * kPlainSteps / 100;
        for (; shown_step_ < step; ++shown_step_) out_ << "progress " << (shown_step_ + 1) * 100 / kPlainSteps << "%\n";
    }

    void finish(std::int32_t value) {
        show(value);
        if (terminal_) out_ << '\n';
        out_ << std::flush;
    }

private:
    std::ostream& out_;
    bool terminal_;
    std::int32_t range_;
    int shown_step_ = 0;
};

}  // namespace

std::string progress_bar(std::int32_t value, std::int32_t range) {
    int pct = percent(value, range);
    int filled = pct * kBarWidth / 100;
    std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] ";
    std::string pct_text = std::to_string(pct) + "%";
    bar += std::string(4 - std::min<std::size_t>(4, pct_text.size()), ' ') + pct_text;
    bar += "  " + std::to_string(std::min(value, range)) + "/" + std::to_string(range);
    return bar;
}

UpgradeResult run_upgrade_with_progress(DeviceContext& context, const ImageStore& store, std::int32_t range,
                                        std::ostream& out, bool terminal) {
    ProgressCounter progress{0};
    std::atomic<bool> done{false};
    UpgradeResult result = UpgradeResult::Failed;
    SilentMessages messages;
    std::thread worker([&] {
        try {
            result = upgrade_firmware(context, store, progress, messages);
        } catch (const std::exception&) {
            result = UpgradeResult::Failed;
        }
        done = true;
    });
    Display display(out, terminal, range);
    while (!done) {
        display.show(progress.load());
        std::this_thread::sleep_for(kRedrawPeriod);
    }
    worker.join();
    display.finish(progress.load());
    return result;
}

}  // namespace wxr::cli
