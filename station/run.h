// A piece of the station's work on one unit, run on a thread of its own
// (see RunGroup): probing it, or querying and writing it.
#pragma once

#include <cstdint>
#include <utility>

#include "device/hid_platform.h"

namespace wxr::station {

class Run {
public:
    Run(std::uint64_t visit, DevicePath path) : visit_(visit), path_(std::move(path)) {}
    virtual ~Run() = default;
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // On its own thread. Never throws.
    virtual void run() noexcept = 0;

    // The station's visit this run works for (0: none).
    std::uint64_t visit() const { return visit_; }
    const DevicePath& path() const { return path_; }

private:
    std::uint64_t visit_;
    DevicePath path_;
};

}  // namespace wxr::station
