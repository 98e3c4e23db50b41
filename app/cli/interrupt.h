// The platform seam for Ctrl-C: SIGINT on POSIX, the console control handler
// on Windows. Unarmed (see StopRequest), Ctrl-C ends the program as usual;
// armed, the first press is handed to the command and the second leaves at
// once with a warning.
#pragma once

#include "app/cli/stop_request.h"

namespace wxr::cli {

// Call before any other thread is started; `stop` must outlive the process's work.
void install_interrupt_handler(StopRequest& stop);

}  // namespace wxr::cli
