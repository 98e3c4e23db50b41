// A simulated HID platform: any number of interfaces, each answering with a
// DeviceModel, plus transport faults (lost reports, silence, unplugging).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_map>
#include <string>

#include "device/hid_platform.h"
#include "device/sim/device_model.h"

namespace wxr::sim {

struct TransportFaults {
    std::set<std::uint64_t> drop_sets;        // 1-based numbers of writes the device never sees; they fail
    bool silent = false;                      // reads and writes fail: the device stopped answering
    std::optional<std::uint64_t> silent_after;  // operations after which it stops answering (opens still work)
    std::optional<std::uint64_t> unplug_after;  // operations after which the device is gone
    std::uint32_t no_answer_ms = 0;           // how long a silent or vanished device takes to fail
    std::uint64_t answer_after_ms = 0;        // silent until this long after arriving: a unit still starting
};

// When the interface is attached, on the platform's clock.
struct Presence {
    std::uint64_t arrive_ms = 0;                   // absent before
    std::optional<std::uint64_t> replug_after_ms;  // then switched off and on once, this long after arriving
    std::optional<std::uint64_t> leave_after_ms;   // then taken off the bench for good, this long after arriving
};

// How long a replugged interface stays away: a unit switched off and on by hand.
inline constexpr std::uint64_t kReplugGapMs = 1000;

struct SimInterfaceConfig {
    DevicePath path;
    Presence presence{};
    std::uint16_t feature_report_length = 21;
    HidAttributes attributes{0x1209, 0x7305, 0x0100};
    std::string location;  // the USB port the system names; empty: unknown
    std::string serial;    // empty: the unit has none
    // Another program has the unit for this long after it arrives: it can be
    // neither claimed nor opened.
    std::uint64_t in_use_for_ms = 0;
    Identity identity{};
    ModelFaults model_faults{};
    TransportFaults transport_faults{};
};

struct InterfaceStats {
    std::uint64_t operations = 0;
    std::uint64_t opens = 0;
    std::uint64_t closes = 0;
    std::uint64_t reads = 0;
    std::uint64_t writes = 0;  // every set_feature that reached the interface, lost ones too
    std::uint64_t open_handles = 0;
    bool unplugged = false;
};

class SimHid final : public HidPlatform {
public:
    explicit SimHid(Clock& clock) : clock_(clock) {}

    // Returns the interface's index.
    std::size_t add_interface(SimInterfaceConfig config);
    std::size_t interface_count() const;
    // The interface with this path (of several, the one that arrived last by
    // now); nullopt when there is none.
    std::optional<std::size_t> index_of(const DevicePath& path) const;
    void unplug(std::size_t index);

    InterfaceStats stats(std::size_t index) const;
    // A copy of the model's state (flash, counters, end report).
    DeviceModel model(std::size_t index) const;

    std::optional<std::vector<DevicePath>> enumerate() override;
    HidHandle open(const DevicePath& path) override;
    bool capabilities(HidHandle device, HidCapabilities& caps) override;
    bool feature_report_length(HidHandle device, std::uint16_t& length) override;
    bool attributes(HidHandle device, HidAttributes& attrs) override;
    bool get_feature(HidHandle device, std::span<std::uint8_t> report) override;
    bool set_feature(HidHandle device, std::span<const std::uint8_t> report) override;
    void close(HidHandle device) override;
    // The system's records: no operation on the device, so not counted.
    std::string location(const DevicePath& path) override;
    std::string serial_number(const DevicePath& path) override;
    // The index of the interface attached at the path now.
    std::string instance(const DevicePath& path) override;
    // One claim per unit at a time; none while another program has it.
    bool claim(const DevicePath& path) override;
    void unclaim(const DevicePath& path) override;
    std::size_t interfaces_in_use() const override;

    // Whether an interface is still to arrive, leave or return on the clock:
    // without, the set of interfaces stays as it is for good.
    bool presence_changes_to_come() const;

    // Makes enumerate() fail, as when the set of interfaces cannot be had.
    void fail_enumeration(bool fail);

private:
    struct Interface {
        SimInterfaceConfig config;
        std::unique_ptr<DeviceModel> model;  // from its arrival until it is taken away for good
        InterfaceStats stats;
        bool left = false;      // the replug's absence has begun
        bool returned = false;  // and is over: the model was power-cycled
        bool gone = false;      // taken away for good (leave_after_ms)
        bool claimed = false;   // by a run of this process
    };

    // Whether the interface is attached now; carries out an arrival, a
    // replug or a leaving that is due.
    bool attached(Interface& iface);
    bool leaves_now(Interface& iface, std::uint64_t now);
    // The first attached interface with the path (a unit put where another was); nullptr if none.
    Interface* attached_at(const DevicePath& path);
    void drop_handles(Interface& iface);
    // Moves the interfaces whose time has come from the waiting line to the bench.
    void admit_arrivals();
    // Counts one operation on the interface behind a handle; nullptr when the
    // handle is unknown or the interface is gone.
    Interface* operate(HidHandle device);
    // Pauses outside the lock, as a device that does not answer holds the caller.
    bool fail_slowly(std::uint32_t ms);
    bool is_silent(const Interface& iface) const;
    bool in_use_elsewhere(const Interface& iface) const;

    Clock& clock_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Interface>> interfaces_;
    std::unordered_map<DevicePath, std::vector<std::size_t>> by_path_;  // in the order added
    // Interfaces not yet arrived, by arrival time from next_arrival_ on, and
    // those arrived and not gone for good: enumerating looks at these alone,
    // so a bench that sees thousands of units come and go stays fast.
    std::vector<std::size_t> arrivals_;
    std::size_t next_arrival_ = 0;
    bool arrivals_sorted_ = true;
    std::set<std::size_t> on_bench_;
    std::map<HidHandle, Interface*> handles_;
    HidHandle next_handle_ = 1;
    bool fail_enumeration_ = false;
    std::set<DevicePath> in_use_;  // refused since the last enumerate()
};

}  // namespace wxr::sim
