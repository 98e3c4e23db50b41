// Ctrl-C as the commands see it. While devices are written the command is
// "armed": the first Ctrl-C asks it to start nothing new and let the running
// writes end; the second leaves at once (the platform's handler does that).
// Unarmed, Ctrl-C ends the program as usual.
#pragma once

#include <atomic>

namespace wxr::cli {

class StopRequest {
public:
    bool requested() const { return presses_.load() > 0; }
    bool armed() const { return armed_.load(); }
    // Returns the number of presses so far, this one included.
    int press() { return ++presses_; }
    void arm(bool on) { armed_.store(on); }

private:
    std::atomic<int> presses_{0};
    std::atomic<bool> armed_{false};
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
