#include "app/cli/screen_ending.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>

namespace wxr::cli {

namespace {

// A sequence count tells a read that crossed a post (odd: being posted).
class EndingBoard {
public:
    void post(std::string_view text) {
        const std::size_t length = std::min(text.size(), kEndingCapacity);
        sequence_.fetch_add(1, std::memory_order_acq_rel);
        for (std::size_t i = 0; i < length; ++i) text_[i].store(text[i], std::memory_order_release);
        length_.store(length, std::memory_order_release);
        sequence_.fetch_add(1, std::memory_order_release);
    }

    std::size_t read(char* out) const {
        for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
            const std::uint32_t before = sequence_.load(std::memory_order_acquire);
            if (before % 2 != 0) continue;
            const std::size_t length = std::min(length_.load(std::memory_order_acquire), kEndingCapacity);
            for (std::size_t i = 0; i < length; ++i) out[i] = text_[i].load(std::memory_order_acquire);
            if (sequence_.load(std::memory_order_relaxed) == before) return length;
        }
        return 0;
    }

private:
    // A post comes at most once a redraw: a reader crossing this many in a row gets none.
    static constexpr int kReadAttempts = 10000;
    std::atomic<std::uint32_t> sequence_{0};
    std::atomic<std::size_t> length_{0};
    std::array<std::atomic<char>, kEndingCapacity> text_{};
};

EndingBoard& board() {
    static EndingBoard ending;
    return ending;
}

std::atomic<bool>& hidden_flag() {
    static std::atomic<bool> hidden{false};
    return hidden;
}

}  // namespace

void post_screen_ending(std::string_view text) { board().post(text); }
std::size_t read_screen_ending(char* out) { return board().read(out); }
void post_cursor_hidden(bool hidden) { hidden_flag().store(hidden); }
bool cursor_hidden() { return hidden_flag().load(); }

}  // namespace wxr::cli
