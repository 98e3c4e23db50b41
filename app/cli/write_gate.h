// Whether a unit that is ready may be written now: not after Ctrl-C, not once
// --count units are written or being written, not after the log failed.
#pragma once

#include <mutex>
#include <optional>

#include "app/cli/stop_request.h"

namespace wxr::cli {

class WriteGate {
public:
    WriteGate(StopRequest& stop, std::optional<long> count) : stop_(stop), count_(count) {}

    // True: the caller writes its unit and then calls leave().
    bool enter() {
        std::lock_guard lock(mutex_);
        if (closed_ || (count_ && reserved_ >= *count_) || !stop_.begin_write()) return false;
        ++reserved_;
        return true;
    }
    void leave(bool succeeded) {
        std::lock_guard lock(mutex_);
        if (succeeded) ++succeeded_;
        else --reserved_;
        stop_.end_write();
    }
    // No unit starts from now on.
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    // Units not yet being written should give up.
    bool stopped() const {
        std::lock_guard lock(mutex_);
        return closed_ || stop_.requested() || (count_ && reserved_ >= *count_);
    }
    bool count_reached() const {
        std::lock_guard lock(mutex_);
        return count_ && succeeded_ >= *count_;
    }

private:
    StopRequest& stop_;
    std::optional<long> count_;
    mutable std::mutex mutex_;
    long reserved_ = 0;  // written successfully or being written
    long succeeded_ = 0;
    bool closed_ = false;
};

}  // namespace wxr::cli
