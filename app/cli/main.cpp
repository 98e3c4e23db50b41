#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "app/cli/terminal.h"

int main(int argc, char** argv) {
    // The customer text of an image is in the user's multibyte charset.
    std::setlocale(LC_CTYPE, "");
    std::vector<std::string> args(argv + 1, argv + argc);
    return wxr::cli::run(args, std::cout, std::cerr, wxr::cli::stdout_is_terminal());
}
