// What the screen leaves for an exit that does not pass through it: the
// second Ctrl-C ends the process from the signal's thread at once, and a
// stop signal with nothing to finish ends it by default. The screen posts
// here, as it draws, the ending such an exit writes to stdout (the region
// erased, the recap, the retry, the count); the exit reads it without a lock.
#pragma once

#include <cstddef>
#include <string_view>

namespace wxr::cli {

// Room for a recap cut to a large screen.
inline constexpr std::size_t kEndingCapacity = 16 * 1024;

// Posted by the screen's thread only; empty: nothing drawn, nothing to end.
void post_screen_ending(std::string_view text);
// Copies the ending into `out` (room for kEndingCapacity bytes); returns its length, 0 for none.
std::size_t read_screen_ending(char* out);

// Posted while the screen keeps the cursor hidden: an exit shows it again.
void post_cursor_hidden(bool hidden);
bool cursor_hidden();

}  // namespace wxr::cli
