// The station's records in the --log file: a `start` record before a unit's
// first write to the device and a result record once its visit ends, both
// carrying the visit's id (the station's id and the visit number) so that a
// collector can pair them. A `start` without its result means the write was
// cut off (the tool killed, the power lost): the unit must be written again.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "station/device_run.h"
#include "station/log_file.h"
#include "station/simulation_check.h"

namespace wxr::station {

class StationLog {
public:
    // started: when the station started, as the records give it.
    StationLog(LogFile& file, std::string host, std::string started);

    // Each false, after the first failure of either, without writing: then no
    // unit may start. Safe to call from a run's thread.
    bool start(const RunReport& report);
    bool result(const RunReport& report, const std::optional<SimulationCheck>& check);

    // Logrotate renamed the file: records go to a new one by its name (log_file.h).
    bool reopen(std::string& error) { return file_.reopen(error); }

    bool failed() const { return failed_.load(); }
    // Why it failed, for the message.
    std::string error() const;
    const std::string& path() const { return file_.path(); }

private:
    bool append(const std::string& record);

    LogFile& file_;
    std::string host_;
    std::string started_;
    std::atomic<bool> failed_{false};
    mutable std::mutex mutex_;
    std::string error_;
};

}  // namespace wxr::station
