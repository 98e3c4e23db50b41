// Text for a terminal: how many columns a UTF-8 text takes, cutting it to a
// width, and how a result looks (a word, a symbol, and colour where wanted).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "station/device_run.h"

namespace wxr::cli {

using namespace wxr::station;

struct TerminalSize {
    int columns = 80;
    int rows = 24;
};

// What the terminal that output goes to can do.
struct TerminalTraits {
    std::function<TerminalSize()> size;  // as it is now (it may be resized); empty: 80 x 24
    bool colour = false;                 // false with NO_COLOR
};

// Columns the text takes: East Asian wide characters two, others one.
std::size_t text_columns(std::string_view utf8);
// The text cut to at most `columns` columns, whole characters only.
std::string cut_to_columns(std::string_view utf8, std::size_t columns);
// The text in exactly `columns` columns: padded with spaces, or its start
// given up for "…" (a path's end is what tells units apart).
std::string fit_columns_keep_end(std::string_view utf8, std::size_t columns);

// The text broken at spaces into lines of at most `first` columns (the first
// line) and `rest` columns (the others); a word wider than a line is cut.
std::vector<std::string> wrap_words(std::string_view utf8, std::size_t first, std::size_t rest);

struct ResultLook {
    const char* symbol;
    const char* colour;  // SGR parameters
};
ResultLook result_look(RunResult result);
// "✓ written" (or "written" without the symbol), padded so that what
// follows lines up; coloured when asked.
std::string result_mark(RunResult result, bool symbol, bool colour);

}  // namespace wxr::cli
