// The seam between the device channel and the operating system.
// Portable code talks to HID interfaces, time and process-wide locks only
// through these interfaces; a backend per platform (and the simulated
// device) stands behind them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace wxr {

// Interface paths are wide-character strings on Windows; UTF-16 everywhere.
using DevicePath = std::u16string;

// An opened interface as the backend knows it; kNoHandle is never valid.
using HidHandle = std::uintptr_t;
inline constexpr HidHandle kNoHandle = 0;

struct HidCapabilities {
    // Longest feature report of the top-level collection, report ID included.
    std::uint16_t feature_report_length = 0;
};

struct HidAttributes {
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    std::uint16_t version = 0;
};

class HidPlatform {
public:
    virtual ~HidPlatform() = default;

    // Paths of the present HID interfaces; nullopt when the set cannot be had.
    virtual std::optional<std::vector<DevicePath>> enumerate() = 0;
    // kNoHandle when the path cannot be opened.
    virtual HidHandle open(const DevicePath& path) = 0;
    virtual bool capabilities(HidHandle device, HidCapabilities& caps) = 0;
    virtual bool attributes(HidHandle device, HidAttributes& attrs) = 0;
    // report[0] holds the report ID on entry; the whole span is the length asked for.
    virtual bool get_feature(HidHandle device, std::span<std::uint8_t> report) = 0;
    virtual bool set_feature(HidHandle device, std::span<const std::uint8_t> report) = 0;
    virtual void close(HidHandle device) = 0;
    // The feature-report length that writes on this handle are fitted to. A
    // lookup of the channel's own, not a step of the caller's: the simulated
    // device does not count it, so fault positions count what a run does.
    virtual bool feature_report_length(HidHandle device, std::uint16_t& length) {
        HidCapabilities caps;
        if (!capabilities(device, caps)) return false;
        length = caps.feature_report_length;
        return true;
    }

    // One run's worth of opens and closes of `path` is about to follow (a
    // device query and an upgrade). A backend whose open is costly may keep
    // the interface open in between; every open and close still happens as
    // far as callers can tell. Each hold() is ended by one release().
    virtual void hold(const DevicePath& /*path*/) {}
    virtual void release(const DevicePath& /*path*/) {}
    // Where the interface's device is attached (Linux: the HID device's
    // physical path; Windows: its location path) and its serial number; empty
    // when unknown or absent. Records the system keeps, not device operations.
    virtual std::string location(const DevicePath&) { return {}; }
    virtual std::string serial_number(const DevicePath&) { return {}; }
    // What tells this attachment of a unit from an earlier one at the same
    // path, read without opening anything (a look at every unit on a bench
    // must cost nothing); empty when the platform has no such record.
    virtual std::string instance(const DevicePath&) { return {}; }

    // How many interfaces the last enumerate() listed that this user may not
    // open (permissions), so that a front-end can say why nothing was found.
    virtual std::size_t inaccessible_interfaces() const { return 0; }

    // The unit behind an interface, claimed for one run (its probe, query
    // and write) so that no other program writes it meanwhile: a station
    // service, a desktop user's dialog, another command line, across users
    // and sessions. Taken or refused at once, never waited for (UnitClaim
    // waits). While another program has the unit, open() of its interfaces
    // fails as well, so that no probe reaches a unit being written. True when
    // this process has it now, or when nothing can exclude (the run then
    // meets whatever fails on its own); each true is ended by one unclaim().
    virtual bool claim(const DevicePath& /*path*/) { return true; }
    virtual void unclaim(const DevicePath& /*path*/) {}
    // How many interfaces the last enumerate() listed that could not be
    // opened because another program had claimed their unit.
    virtual std::size_t interfaces_in_use() const { return 0; }
};

// Pauses, waits and timestamps. The tests' clock is virtual: it moves to the
// next pause's end once every thread taking part waits on it (see
// VirtualClock), so threads side by side see the same times on every run.
class Clock {
public:
    virtual ~Clock() = default;
    virtual void sleep_ms(std::uint32_t ms) = 0;
    virtual std::uint64_t now_ms() const = 0;

    // Waits until ready() holds or `ms` have passed (no limit without ms) and
    // returns ready(). ready() is asked under the clock's lock: it reads
    // atomics or takes only locks under which nothing calls the clock.
    virtual bool wait_for(std::optional<std::uint32_t> ms, const std::function<bool()>& ready) = 0;
    // What a waiter's ready() reads has changed.
    virtual void notify() = 0;

    // Threads taking part. A starter counts a thread in before starting it,
    // so that time cannot move on before it runs, and out again if it could
    // not start; the thread arrives with the ticket count_in() gave as its
    // first act and departs as its last. Tickets are handed out in the order
    // the starters ask, which a clock may use to order threads.
    virtual std::uint64_t count_in() { return 0; }
    virtual void count_out() {}
    virtual void arrive(std::uint64_t /*ticket*/) {}
    virtual void depart() {}
};

// A lock shared by name between processes, released when its holder dies.
class NamedMutex {
public:
    virtual ~NamedMutex() = default;
    virtual bool lock() = 0;
    virtual void unlock() = 0;
};

// Creates the named mutex; nullptr when the platform refuses.
class NamedMutexFactory {
public:
    virtual ~NamedMutexFactory() = default;
    virtual std::unique_ptr<NamedMutex> create(const std::u16string& name) = 0;
};

// The Shift override: true when Shift was pressed since the previous query.
class ShiftKeyState {
public:
    virtual ~ShiftKeyState() = default;
    virtual bool pressed_since_last_query() = 0;
};

}  // namespace wxr
