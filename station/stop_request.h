// Ctrl-C as the commands see it. While devices are written the command is
// "armed": the first Ctrl-C asks it to start nothing new and let the running
// writes end. A second one leaves at once: the platform's handler ends the
// process when a device is being written, and otherwise the command leaves
// with the results so far. Unarmed, Ctrl-C ends the program as usual.
//
// The system's requests to stop (SIGTERM, SIGHUP; a console close, log-off or
// shutdown on Windows) act as the first Ctrl-C and never as a second: they
// come from a service manager or a shutdown that cannot see the warning a
// second press gives, and leaving then would leave a unit half-written.
//
// SIGUSR1 stops nothing: logrotate has renamed the log, and the station opens
// it anew at its next turn.
#pragma once

#include <atomic>
#include <functional>
#include <utility>

#include "station/writing_board.h"

namespace wxr::station {

class StopRequest {
public:
    bool requested() const { return presses_.load() > 0; }
    // The second press came while nothing was being written.
    bool leave_now() const { return presses_.load() > 1; }
    bool armed() const { return armed_.load(); }
    // Returns the number of presses so far, this one included.
    int press() { return ++presses_; }
    // A request from the system: the first press when none came yet, else nothing.
    void request() {
        int none = 0;
        presses_.compare_exchange_strong(none, 1);
    }
    void arm(bool on) {
        armed_.store(on);
        if (on && first_arm_ && !armed_before_.exchange(true)) first_arm_();
    }
    // Called on the first arm(true), on the arming thread: what a platform's
    // handler needs only for a command that writes. Set before any arm().
    void on_first_arm(std::function<void()> start) { first_arm_ = std::move(start); }

    // Devices being written now; a write starts only while no stop is asked for.
    bool begin_write() {
        ++writing_;
        if (!requested()) return true;
        --writing_;
        return false;
    }
    void end_write() { --writing_; }
    bool writing() const { return writing_.load() > 0; }

    // SIGUSR1: the log is to be opened anew (once for any number of asks before it is).
    void ask_reopen() { reopen_.store(true); }
    bool take_reopen() { return reopen_.exchange(false); }

    // Which units are being written, for the second press to name.
    WritingBoard& board() { return board_; }
    const WritingBoard& board() const { return board_; }

private:
    std::atomic<int> presses_{0};
    std::atomic<bool> armed_{false};
    std::atomic<int> writing_{0};
    std::function<void()> first_arm_;
    std::atomic<bool> armed_before_{false};
    std::atomic<bool> reopen_{false};
    WritingBoard board_;
};

// How a stop reaches the process, and what its handler then does.
enum class StopSignal { Interrupt, Terminate };  // Ctrl-C; SIGTERM, SIGHUP, a console close
enum class StopAction {
    Default,      // unarmed: the platform's default, which ends the process
    Handled,      // the command stops by itself
    LeaveAtOnce,  // a second Ctrl-C while a device is being written
};

inline StopAction on_stop_signal(StopRequest& stop, StopSignal signal) {
    if (!stop.armed()) return StopAction::Default;
    if (signal == StopSignal::Terminate) {
        stop.request();
        return StopAction::Handled;
    }
    // With nothing being written, the command itself leaves with its results.
    return stop.press() >= 2 && stop.writing() ? StopAction::LeaveAtOnce : StopAction::Handled;
}

// Armed for as long as it lives.
class ArmedStop {
public:
    explicit ArmedStop(StopRequest& stop) : stop_(stop) { stop_.arm(true); }
    ~ArmedStop() { stop_.arm(false); }
    ArmedStop(const ArmedStop&) = delete;
    ArmedStop& operator=(const ArmedStop&) = delete;

private:
    StopRequest& stop_;
};

}  // namespace wxr::station
