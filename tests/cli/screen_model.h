// Plays a terminal's part for what the station writes to one: text, line
// ends, wrapping at the right edge, the cursor moves and erasures the display
// uses, and the lines that scroll off the top kept as the scrollback.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

namespace wxr::cli {

class ScreenModel {
public:
    ScreenModel(int columns, int rows) : columns_(columns), rows_(rows), screen_(static_cast<std::size_t>(rows)) {}

    void feed(const std::string& bytes) {
        for (std::size_t i = 0; i < bytes.size();) i = step(bytes, i);
    }

    // A height shrunk with the cursor at the bottom pushes the top lines into the scrollback.
    void resize(int columns, int rows) {
        while (row_ >= rows) scroll();
        screen_.resize(static_cast<std::size_t>(rows));
        columns_ = columns;
        rows_ = rows;
    }

    std::vector<std::string> screen() const { return text_of(screen_); }
    std::vector<std::string> scrollback() const { return text_of(scrollback_); }
    std::string everything() const {
        std::string all;
        for (const auto& lines : {scrollback(), screen()}) {
            for (const std::string& line : lines) all += line + "\n";
        }
        return all;
    }
    bool saw_unknown_sequence() const { return unknown_; }

private:
    using Row = std::vector<std::string>;  // a cell per column: one character

    static std::vector<std::string> text_of(const std::vector<Row>& rows) {
        std::vector<std::string> out;
        for (const Row& row : rows) {
            std::string line;
            for (const std::string& cell : row) line += cell.empty() ? " " : cell;
            out.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
        }
        return out;
    }

    void scroll() {
        scrollback_.push_back(screen_.front());
        screen_.erase(screen_.begin());
        screen_.emplace_back();
        --row_;
    }

    void down() {
        if (++row_ >= rows_) scroll();
    }

    std::size_t step(const std::string& bytes, std::size_t i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\x1b') return sequence(bytes, i);
        if (c == '\r') {
            column_ = 0;
            return i + 1;
        }
        if (c == '\n') {  // the terminal's line discipline adds the carriage return
            column_ = 0;
            down();
            return i + 1;
        }
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (column_ >= columns_) {  // the wrap waits for the next character
            column_ = 0;
            down();
        }
        Row& row = screen_[static_cast<std::size_t>(row_)];
        if (row.size() <= static_cast<std::size_t>(column_)) row.resize(static_cast<std::size_t>(column_) + 1);
        row[static_cast<std::size_t>(column_++)] = bytes.substr(i, length);
        return i + length;
    }

    // CSI n A (up), n B (down), 2K (the line), K (to its end), J (below), m (colour).
    std::size_t sequence(const std::string& bytes, std::size_t i) {
        if (i + 1 >= bytes.size() || bytes[i + 1] != '[') return unknown(i + 1);
        std::size_t end = i + 2;
        while (end < bytes.size() && (std::isdigit(static_cast<unsigned char>(bytes[end])) || bytes[end] == ';')) ++end;
        if (end >= bytes.size()) return unknown(end);
        const std::string param = bytes.substr(i + 2, end - i - 2);
        const int n = param.empty() ? 1 : std::atoi(param.c_str());
        Row& row = screen_[static_cast<std::size_t>(row_)];
        switch (bytes[end]) {
            case 'A': row_ = std::max(0, row_ - n); break;
            case 'B': row_ = std::min(rows_ - 1, row_ + n); break;
            case 'K':
                if (param == "2") row.clear();
                else if (row.size() > static_cast<std::size_t>(column_)) row.resize(static_cast<std::size_t>(column_));
                break;
            case 'J':
                if (row.size() > static_cast<std::size_t>(column_)) row.resize(static_cast<std::size_t>(column_));
                for (int r = row_ + 1; r < rows_; ++r) screen_[static_cast<std::size_t>(r)].clear();
                break;
            case 'm': break;
            default: return unknown(end + 1);
        }
        if (bytes[end] == 'A' || bytes[end] == 'B') column_ = std::min(column_, columns_ - 1);
        return end + 1;
    }

    std::size_t unknown(std::size_t next) {
        unknown_ = true;
        return next;
    }

    int columns_, rows_;
    std::vector<Row> screen_;
    std::vector<Row> scrollback_;
    int row_ = 0, column_ = 0;
    bool unknown_ = false;
};

}  // namespace wxr::cli
