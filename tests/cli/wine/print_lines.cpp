// Prints the lines the retry would print on Windows for the words given
// (one line each), so that they can be run through cmd.exe.
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/shell_words.h"

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    for (const std::string& line : wxr::cli::shell_lines(words, wxr::cli::Shell::Windows)) std::printf("%s\n", line.c_str());
}
