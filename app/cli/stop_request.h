// Ctrl-C as the commands see it. While devices are written the command is
// "armed": the first Ctrl-C asks it to start nothing new and let the running
// writes end. A second one leaves at once: the platform's handler ends the
// process when a device is being written, and otherwise the command leaves
// with the results so far. Unarmed, Ctrl-C ends the program as usual.
#pragma once

#include <atomic>

#include "app/cli/writing_board.h"

namespace wxr::cli {

class StopRequest {
public:
    bool requested() const { return presses_.load() > 0; }
    // The second press came while nothing was being written.
    bool leave_now() const { return presses_.load() > 1; }
    bool armed() const { return armed_.load(); }
    // Returns the number of presses so far, this one included.
    int press() { return ++presses_; }
    void arm(bool on) { armed_.store(on); }

    // Devices being written now; a write starts only while no stop is asked for.
    bool begin_write() {
        ++writing_;
        if (!requested()) return true;
        --writing_;
        return false;
    }
    void end_write() { --writing_; }
    bool writing() const { return writing_.load() > 0; }

    // Which units are being written, for the second press to name.
    WritingBoard& board() { return board_; }
    const WritingBoard& board() const { return board_; }

private:
    std::atomic<int> presses_{0};
    std::atomic<bool> armed_{false};
    std::atomic<int> writing_{0};
    WritingBoard board_;
};

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

}  // namespace wxr::cli
