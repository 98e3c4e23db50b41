// The platform seam for the requests to stop: Ctrl-C (SIGINT; the console's
// Ctrl-C and Ctrl-Break on Windows) and the system's requests (SIGTERM and
// SIGHUP; a console close, log-off or shutdown on Windows). Unarmed (see
// StopRequest), each ends the program as usual; armed, the first is handed to
// the command, and a second Ctrl-C leaves at once with a warning. SIGUSR1
// (logrotate's postrotate) asks a station to open its log anew and never ends
// the program; Windows has no such signal (its logs are not rotated under it).
#pragma once

#include "station/stop_request.h"

namespace wxr::cli {

using namespace wxr::station;

// Call before any other thread is started; `stop` must outlive the process's work.
void install_interrupt_handler(StopRequest& stop);

}  // namespace wxr::cli
