// The units being written, named for the second Ctrl-C: the station posts
// the list as it changes; the Ctrl-C handler reads it without a lock (a
// sequence count tells a read that crossed a post), so it never waits on
// the station nor on a run.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace wxr::station {

// A text posted by one thread and read whole by another without a lock.
template <std::size_t Capacity>
class PostedText {
public:
    // Room for the text; a longer one is cut by its poster.
    static constexpr std::size_t kCapacity = Capacity;

    // One poster at a time.
    void post(std::string_view text) {
        const std::size_t length = text.size() < kCapacity ? text.size() : kCapacity;
        sequence_.fetch_add(1, std::memory_order_acq_rel);  // odd: being posted
        // Release: a reader that sees any of this post also sees it begun (odd), and reads again.
        for (std::size_t i = 0; i < length; ++i) text_[i].store(text[i], std::memory_order_release);
        length_.store(length, std::memory_order_release);
        sequence_.fetch_add(1, std::memory_order_release);
    }

    // Copies the text into `out` (room for kCapacity bytes); returns its
    // length, 0 when no whole copy could be had.
    std::size_t read(char* out) const {
        for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
            const std::uint32_t before = sequence_.load(std::memory_order_acquire);
            if (before % 2 != 0) continue;
            const std::size_t length = std::min(length_.load(std::memory_order_acquire), kCapacity);
            for (std::size_t i = 0; i < length; ++i) out[i] = text_[i].load(std::memory_order_acquire);
            if (sequence_.load(std::memory_order_relaxed) == before) return length;
        }
        return 0;
    }

private:
    // A post takes microseconds and comes at most every redraw: a reader
    // crossing this many in a row is not going to get a copy.
    static constexpr int kReadAttempts = 10000;

    std::atomic<std::uint32_t> sequence_{0};
    std::atomic<std::size_t> length_{0};
    std::array<std::atomic<char>, kCapacity> text_{};
};

// Room for the names of many units being written.
using WritingBoard = PostedText<2048>;

}  // namespace wxr::station
