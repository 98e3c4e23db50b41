#include <clocale>
#include <iostream>

#include "app/cli/cli.h"
#include "app/cli/interrupt.h"
#include "app/cli/program_name.h"
#include "app/cli/terminal.h"

int main(int argc, char** argv) {
    // The customer text of an image is in the user's multibyte charset.
    std::setlocale(LC_CTYPE, "");
    wxr::cli::prepare_output();
    wxr::cli::route_console_output();
    wxr::cli::set_program_name(wxr::cli::program_name_as_run(argc, argv));
    static wxr::cli::StopRequest stop;  // reached by the Ctrl-C handler until the process ends
    wxr::cli::install_interrupt_handler(stop);
    const wxr::cli::TerminalTraits traits = wxr::cli::terminal_traits();
    return wxr::cli::run(wxr::cli::utf8_arguments(argc, argv), std::cout, std::cerr,
                         wxr::cli::stdout_is_terminal(), &stop, &traits);
}
