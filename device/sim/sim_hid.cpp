#include "device/sim/sim_hid.h"

#include <algorithm>

namespace wxr::sim {

std::size_t SimHid::add_interface(SimInterfaceConfig config) {
    std::lock_guard lock(mutex_);
    std::size_t index = interfaces_.size();
    by_path_[config.path].push_back(index);
    interfaces_.push_back(std::make_unique<Interface>(Interface{std::move(config), nullptr, {}}));
    arrivals_.push_back(index);
    arrivals_sorted_ = false;
    return index;
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
    auto it = by_path_.find(path);
    if (it == by_path_.end()) return std::nullopt;
    // Of units put one after another at the path, the one that came last by now.
    const std::uint64_t now = clock_.now_ms();
    std::size_t latest = it->second.front();
    for (std::size_t index : it->second) {
        std::uint64_t arrived = interfaces_[index]->config.presence.arrive_ms;
        if (arrived <= now && arrived >= interfaces_[latest]->config.presence.arrive_ms) latest = index;
    }
    return latest;
}

void SimHid::admit_arrivals() {
    auto arrive = [&](std::size_t i) { return interfaces_[i]->config.presence.arrive_ms; };
    if (!arrivals_sorted_) {
        std::stable_sort(arrivals_.begin() + static_cast<std::ptrdiff_t>(next_arrival_), arrivals_.end(),
                         [&](std::size_t a, std::size_t b) { return arrive(a) < arrive(b); });
        arrivals_sorted_ = true;
    }
    std::uint64_t now = clock_.now_ms();
    for (; next_arrival_ < arrivals_.size() && arrive(arrivals_[next_arrival_]) <= now; ++next_arrival_) {
        on_bench_.insert(arrivals_[next_arrival_]);
    }
    // The waiting line's front is gone for good: its room goes back.
    if (next_arrival_ == arrivals_.size()) {
        arrivals_.clear();
        arrivals_.shrink_to_fit();
        next_arrival_ = 0;
    }
}

void SimHid::drop_handles(Interface& iface) {
    // Handles opened before the unit went away stay dead after it is back.
    std::erase_if(handles_, [&](const auto& entry) { return entry.second == &iface; });
    iface.stats.open_handles = 0;
}

bool SimHid::leaves_now(Interface& iface, std::uint64_t now) {
    const Presence& presence = iface.config.presence;
    if (!presence.leave_after_ms || now < presence.arrive_ms + *presence.leave_after_ms) return false;
    drop_handles(iface);
    iface.model.reset();  // what it held went with it
    iface.gone = true;
    return true;
}

bool SimHid::attached(Interface& iface) {
    if (iface.stats.unplugged || iface.gone) return false;
    const Presence& presence = iface.config.presence;
    std::uint64_t now = clock_.now_ms();
    if (now < presence.arrive_ms) return false;
    if (leaves_now(iface, now)) return false;
    if (!iface.model) iface.model = std::make_unique<DeviceModel>(iface.config.identity, iface.config.model_faults);
    if (!presence.replug_after_ms) return true;
    std::uint64_t leave = presence.arrive_ms + *presence.replug_after_ms;
    if (now < leave) return true;
    if (!iface.left) {
        drop_handles(iface);
        iface.left = true;
    }
    if (now < leave + kReplugGapMs) return false;
    if (!iface.returned) {
        iface.model->power_cycle();
        iface.returned = true;
    }
    return true;
}

bool SimHid::presence_changes_to_come() const {
    std::lock_guard lock(mutex_);
    std::uint64_t now = clock_.now_ms();
    auto changes = [&](std::size_t index) {
        const Interface& iface = *interfaces_[index];
        const Presence& presence = iface.config.presence;
        if (iface.stats.unplugged || iface.gone) return false;
        if (now < presence.arrive_ms) return true;
        if (presence.leave_after_ms) return true;
        return presence.replug_after_ms && now < presence.arrive_ms + *presence.replug_after_ms + kReplugGapMs;
    };
    return next_arrival_ < arrivals_.size() || std::any_of(on_bench_.begin(), on_bench_.end(), changes);
}

InterfaceStats SimHid::stats(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return interfaces_.at(index)->stats;
}

DeviceModel SimHid::model(std::size_t index) const {
    std::lock_guard lock(mutex_);
    const Interface& iface = *interfaces_.at(index);
    // Before it arrives (or once it is gone for good) a unit is as it was made.
    if (!iface.model) return DeviceModel(iface.config.identity, iface.config.model_faults);
    return *iface.model;
}

void SimHid::fail_enumeration(bool fail) {
    std::lock_guard lock(mutex_);
    fail_enumeration_ = fail;
}

std::optional<std::vector<DevicePath>> SimHid::enumerate() {
    std::lock_guard lock(mutex_);
    if (fail_enumeration_) return std::nullopt;
    in_use_.clear();
    admit_arrivals();
    std::vector<DevicePath> paths;
    for (auto it = on_bench_.begin(); it != on_bench_.end();) {
        Interface& iface = *interfaces_[*it];
        if (attached(iface)) paths.push_back(iface.config.path);
        // Gone for good: never looked at again.
        if (iface.stats.unplugged || iface.gone) {
            it = on_bench_.erase(it);
        } else {
            ++it;
        }
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

bool SimHid::is_silent(const Interface& iface) const {
    const auto& faults = iface.config.transport_faults;
    if (clock_.now_ms() < iface.config.presence.arrive_ms + faults.answer_after_ms) return true;
    return faults.silent || (faults.silent_after && iface.stats.operations > *faults.silent_after);
}

bool SimHid::fail_slowly(std::uint32_t ms) {
    if (ms > 0) clock_.sleep_ms(ms);
    return false;
}

HidHandle SimHid::open(const DevicePath& path) {
    std::lock_guard lock(mutex_);
    Interface* iface = attached_at(path);
    if (!iface) return kNoHandle;
    if (in_use_elsewhere(*iface)) {
        in_use_.insert(path);
        return kNoHandle;
    }
    HidHandle handle = next_handle_++;
    handles_[handle] = iface;
    if (!operate(handle)) {
        handles_.erase(handle);
        return kNoHandle;
    }
    ++iface->stats.opens;
    ++iface->stats.open_handles;
    return handle;
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
                iface->model->on_get(report.first(iface->config.feature_report_length));
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
                iface->model->on_set(report);
                return true;
            }
            delay = faults.no_answer_ms;
        } else if (auto it = handles_.find(device); it != handles_.end()) {
            delay = it->second->config.transport_faults.no_answer_ms;
        }
    }
    return fail_slowly(delay);
}

SimHid::Interface* SimHid::attached_at(const DevicePath& path) {
    // The first attached interface with the path: a unit put where another was.
    auto same_path = by_path_.find(path);
    if (same_path == by_path_.end()) return nullptr;
    for (std::size_t i : same_path->second) {
        if (attached(*interfaces_[i])) return interfaces_[i].get();
    }
    return nullptr;
}

std::string SimHid::location(const DevicePath& path) {
    std::lock_guard lock(mutex_);
    Interface* iface = attached_at(path);
    return iface ? iface->config.location : std::string{};
}

std::string SimHid::serial_number(const DevicePath& path) {
    std::lock_guard lock(mutex_);
    Interface* iface = attached_at(path);
    return iface ? iface->config.serial : std::string{};
}

std::string SimHid::instance(const DevicePath& path) {
    std::lock_guard lock(mutex_);
    Interface* iface = attached_at(path);
    if (!iface) return {};
    for (std::size_t index : by_path_.at(path)) {
        if (interfaces_[index].get() == iface) return std::to_string(index);
    }
    return {};
}

bool SimHid::in_use_elsewhere(const Interface& iface) const {
    return clock_.now_ms() < iface.config.presence.arrive_ms + iface.config.in_use_for_ms;
}

bool SimHid::claim(const DevicePath& path) {
    std::lock_guard lock(mutex_);
    Interface* iface = attached_at(path);
    if (!iface) return true;  // nothing there: the run's opens fail and say so
    if (in_use_elsewhere(*iface)) {
        in_use_.insert(path);  // another program has it: "not found" says so
        return false;
    }
    if (iface->claimed) return false;
    iface->claimed = true;
    return true;
}

void SimHid::unclaim(const DevicePath& path) {
    std::lock_guard lock(mutex_);
    auto same_path = by_path_.find(path);
    if (same_path == by_path_.end()) return;
    for (std::size_t i : same_path->second) interfaces_[i]->claimed = false;
}

std::size_t SimHid::interfaces_in_use() const {
    std::lock_guard lock(mutex_);
    return in_use_.size();
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
