// The bound on a unit's silence over one run on it: its query and the upgrade
// procedure after it. The channel tells the watch of each read and write of
// the run; the exchange itself is never changed by it.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

namespace wxr {

// A unit that leaves a run's requests unanswered this long is gone: over USB
// each unanswered request waits usbcore's 5 s control timeout, so two of them.
inline constexpr std::uint64_t kMaxSilenceMs = 10'000;

enum class Request { Read, Write };

// Silence counts from the first request that got no fresh answer: a write
// that did not reach the unit, a failed read, or a read after such a write
// (it returns what the unit said before). Past the bound the channel fails
// the run's reads and writes at once instead of asking again.
class SilenceWatch {
public:
    SilenceWatch() = default;
    // A fresh watch may be put in place of a finished one.
    SilenceWatch(const SilenceWatch& other) { *this = other; }
    SilenceWatch& operator=(const SilenceWatch& other) {
        last_write_lost_ = other.last_write_lost_;
        unanswered_since_ms_.store(other.unanswered_since_ms_.load());
        cut_.store(other.cut_.load());
        return *this;
    }

    void heard(Request request, bool reached, std::uint64_t asked_ms) {
        if (request == Request::Write) last_write_lost_ = !reached;
        if (reached && !last_write_lost_) {
            unanswered_since_ms_.store(kNone);
        } else if (unanswered_since_ms_.load() == kNone) {
            unanswered_since_ms_.store(asked_ms);
        }
    }
    bool over(std::uint64_t now_ms) const {
        const std::uint64_t since = unanswered_since_ms_.load();
        return cut_.load() || (since != kNone && now_ms - since >= kMaxSilenceMs);
    }
    // Since when the unit has left requests unanswered; read by any thread (a screen shows it).
    std::optional<std::uint64_t> unanswered_since_ms() const {
        const std::uint64_t since = unanswered_since_ms_.load();
        return since == kNone ? std::nullopt : std::optional<std::uint64_t>(since);
    }
    // The run is given up: from now on it is over, as if the unit were gone. Any thread.
    void cut() { cut_.store(true); }

private:
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
    bool last_write_lost_ = false;
    std::atomic<std::uint64_t> unanswered_since_ms_{kNone};
    std::atomic<bool> cut_{false};
};

}  // namespace wxr
