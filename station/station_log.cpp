#include "station/station_log.h"

#include "device/host.h"

#include "station/record_json.h"

namespace wxr::station {

StationLog::StationLog(LogFile& file, std::string host, std::string started)
    : file_(file), host_(std::move(host)), started_(std::move(started)) {}

bool StationLog::start(const RunReport& report) {
    return append(log_json(report, std::nullopt, {utc_time_now(), host_, started_, LogRecord::Start}));
}

bool StationLog::result(const RunReport& report, const std::optional<SimulationCheck>& check) {
    return append(log_json(report, check, {utc_time_now(), host_, started_, LogRecord::Result}));
}

bool StationLog::append(const std::string& record) {
    std::lock_guard lock(mutex_);
    if (failed_) return false;
    std::string error;
    if (file_.append(record, error)) return true;
    error_ = error;
    failed_ = true;
    return false;
}

std::string StationLog::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

}  // namespace wxr::station
