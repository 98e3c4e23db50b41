#include "app/cli/screen_ending.h"

#include <atomic>

#include "station/writing_board.h"

namespace wxr::cli {

using station::PostedText;

namespace {

using EndingBoard = PostedText<kEndingCapacity>;

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
