#include "device/sim/sim_hid.h"

#include <algorithm>

namespace wxr::sim {

std::size_t SimHid::add_interface(SimInterfaceConfig config) {
    std::lock_guard lock(mutex_);
    auto iface = std::make_unique<Interface>(
        Interface{config, DeviceModel(config.identity, config.model_faults), {}});
    interfaces_.push_back(std::move(iface));
    return interfaces_.size() - 1;
}

std::size_t SimHid::interface_count() const {
    std::lock_guard lock(mutex_);
    return interfaces_.size();
}

void SimHid::unplug(std::size_t index) {
    std::lock_guard lock(mutex_);
    interfaces_.at(index)->stats.unplugged = true;
}

std::optional<std::size_t> SimHid::index_of(const DevicePath& path) const {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < interfaces_.size(); ++i) {
        if (interfaces_[i]->config.path == path) return i;
    }
    return std::nullopt;
}

bool SimHid::attached(Interface& iface) {
    if (iface.stats.unplugged) return false;
    const Presence& presence = iface.config.presence;
    std::uint64_t now = clock_.now_ms();
    if (now < presence.arrive_ms) return false;
    if (!presence.replug_after_ms) return true;
    std::uint64_t leave = presence.arrive_ms + *presence.replug_after_ms;
    if (now < leave) return true;
    if (!iface.left) {
        // Handles opened before the unit went away stay dead after it is back.
        std::erase_if(handles_, [&](const auto& entry) { return entry.second == &iface; });
        iface.stats.open_handles = 0;
        iface.left = true;
    }
    if (now < leave + kReplugGapMs) return false;
    if (!iface.returned) {
        iface.model.power_cycle();
        iface.returned = true;
    }
    return true;
}

bool SimHid::presence_changes_to_come() const {
    std::lock_guard lock(mutex_);
    std::uint64_t now = clock_.now_ms();
    return std::any_of(interfaces_.begin(), interfaces_.end(), [&](const auto& iface) {
        const Presence& presence = iface->config.presence;
        if (iface->stats.unplugged) return false;
        if (now < presence.arrive_ms) return true;
        return presence.replug_after_ms && now < presence.arrive_ms + *presence.replug_after_ms + kReplugGapMs;
    });
}

InterfaceStats SimHid::stats(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return interfaces_.at(index)->stats;
}

DeviceModel SimHid::model(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return interfaces_.at(index)->model;
}

void SimHid::fail_enumeration(bool fail) {
    std::lock_guard lock(mutex_);
    fail_enumeration_ = fail;
}

std::optional<std::vector<DevicePath>> SimHid::enumerate() {
    std::lock_guard lock(mutex_);
    if (fail_enumeration_) return std::nullopt;
    std::vector<DevicePath> paths;
    for (const auto& iface : interfaces_) {
        if (attached(*iface)) paths.push_back(iface->config.path);
    }
    return paths;
}

SimHid::Interface* SimHid::operate(HidHandle device) {
    auto it = handles_.find(device);
    if (it == handles_.end()) return nullptr;
    Interface* iface = it->second;
    auto& stats = iface->stats;
    ++stats.operations;
    auto limit = iface->config.transport_faults.unplug_after;
    if (limit && stats.operations > *limit) stats.unplugged = true;
    return attached(*iface) ? iface : nullptr;
}

bool SimHid::is_silent(const Interface& iface) {
    const auto& faults = iface.config.transport_faults;
    return faults.silent || (faults.silent_after && iface.stats.operations > *faults.silent_after);
}

bool SimHid::fail_slowly(std::uint32_t ms) {
    if (ms > 0) clock_.sleep_ms(ms);
    return false;
}

HidHandle SimHid::open(const DevicePath& path) {
    std::lock_guard lock(mutex_);
    for (auto& iface : interfaces_) {
        if (iface->config.path != path || !attached(*iface)) continue;
        HidHandle handle = next_handle_++;
        handles_[handle] = iface.get();
        if (!operate(handle)) {
            handles_.erase(handle);
            return kNoHandle;
        }
        ++iface->stats.opens;
        ++iface->stats.open_handles;
        return handle;
    }
    return kNoHandle;
}

bool SimHid::capabilities(HidHandle device, HidCapabilities& caps) {
    std::lock_guard lock(mutex_);
    Interface* iface = operate(device);
    if (!iface) return false;
    caps.feature_report_length = iface->config.feature_report_length;
    return true;
}

bool SimHid::feature_report_length(HidHandle device, std::uint16_t& length) {
    std::lock_guard lock(mutex_);
    // The driver answers from the report descriptor it holds: nothing reaches
    // the device, so nothing is counted.
    auto it = handles_.find(device);
    if (it == handles_.end() || it->second->stats.unplugged) return false;
    length = it->second->config.feature_report_length;
    return true;
}

bool SimHid::attributes(HidHandle device, HidAttributes& attrs) {
    std::lock_guard lock(mutex_);
    Interface* iface = operate(device);
    if (!iface) return false;
    attrs = iface->config.attributes;
    return true;
}

bool SimHid::get_feature(HidHandle device, std::span<std::uint8_t> report) {
    std::uint32_t delay = 0;
    {
        std::lock_guard lock(mutex_);
        Interface* iface = operate(device);
        if (iface) {
            ++iface->stats.reads;
            const auto& faults = iface->config.transport_faults;
            // A read shorter than the interface's report, or of another report ID, fails.
            if (!is_silent(*iface) && !report.empty() && report[0] == kReportId &&
                report.size() >= iface->config.feature_report_length) {
                iface->model.on_get(report.first(iface->config.feature_report_length));
                return true;
            }
            delay = faults.no_answer_ms;
        } else if (auto it = handles_.find(device); it != handles_.end()) {
            delay = it->second->config.transport_faults.no_answer_ms;
        }
    }
    return fail_slowly(delay);
}

bool SimHid::set_feature(HidHandle device, std::span<const std::uint8_t> report) {
    std::uint32_t delay = 0;
    {
        std::lock_guard lock(mutex_);
        Interface* iface = operate(device);
        if (iface) {
            auto& stats = iface->stats;
            ++stats.writes;
            const auto& faults = iface->config.transport_faults;
            // A lost write is a failed control transfer: the host sees it fail.
            if (!is_silent(*iface) && !faults.drop_sets.contains(stats.writes)) {
                iface->model.on_set(report);
                return true;
            }
            delay = faults.no_answer_ms;
        } else if (auto it = handles_.find(device); it != handles_.end()) {
            delay = it->second->config.transport_faults.no_answer_ms;
        }
    }
    return fail_slowly(delay);
}

void SimHid::close(HidHandle device) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(device);
    if (it == handles_.end()) return;
    Interface* iface = it->second;
    ++iface->stats.operations;
    ++iface->stats.closes;
    --iface->stats.open_handles;
    handles_.erase(it);
}

}  // namespace wxr::sim
