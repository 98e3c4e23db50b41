// What the guest's test devices share whatever the transport (uhid or a USB
// gadget): their options, the simulated firmware behind feature report 5,
// the faults they show on request, and the summary of what they saw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "device/sim/device_model.h"

namespace wxr::vm {

inline constexpr std::uint16_t kVendorId = 0x1209;
inline constexpr std::uint16_t kProductId = 0x7305;
inline constexpr std::uint16_t kDeviceVersion = 0x0100;
inline constexpr std::uint8_t kFeatureReportType = 3;

struct DeviceOptions {
    std::string name = "wxr-device";
    int feature_bytes = 20;                 // data bytes of feature report 5 (21: the decoy)
    std::optional<long> unplug_after_sets;  // gone after answering that many sets
    std::optional<long> stall_after_sets;   // every later request is refused (a stall)
    std::optional<long> silent_after_sets;  // every later request goes unanswered
    std::string expect;
    std::vector<std::uint8_t> image;  // the --expect file
    std::optional<std::uint8_t> model;
    std::optional<std::uint8_t> sensor;
    std::optional<std::uint8_t> version;
    sim::ModelFaults faults;
};

// Options of one transport's own: returns false when `arg` is not one of them.
using ExtraOption = std::function<bool(const std::string& arg, const std::string& value)>;

// Parses the shared options (and the transport's through `extra`) and reads
// the --expect image; prints the usage and exits on a bad command line.
DeviceOptions parse_device_options(int argc, char** argv, const char* program,
                                   const char* extra_usage, const ExtraOption& extra);

// The report descriptor for the options' feature report length.
std::span<const std::uint8_t> report_descriptor(const DeviceOptions& options);

// How a transport answers the request in hand.
enum class Answer { reply, stall, silent };

class DeviceCore {
public:
    explicit DeviceCore(DeviceOptions options);

    // What to do with the next request, before it is taken: the faults that
    // start after a number of sets decide it.
    Answer next_answer() const;
    // A feature read of report `id`; `length` is what the host asked for, when
    // the transport says. Fills `reply` (kReplyLength bytes); false: refuse it.
    bool on_get(std::uint8_t type, std::uint8_t id, std::optional<std::size_t> length,
                std::span<std::uint8_t, sim::kReplyLength> reply);
    // Whether this device has that report: feature report 5 only.
    static bool accepts(std::uint8_t type, std::uint8_t id) {
        return type == kFeatureReportType && id == sim::kReportId;
    }
    // A feature write of report `id` (report ID in data[0]); false: refuse it.
    bool on_set(std::uint8_t type, std::uint8_t id, std::span<const std::uint8_t> data);
    // True once the device should unplug itself (after answering a set).
    bool unplug_due() const;
    void note_refused() { ++refused_; }
    void note_unplugged();

    const DeviceOptions& options() const { return options_; }
    void print_line(const char* what) const;
    // "NAME: gets=G sets=S ... set-lengths=21 get-lengths=21 refused=R silent=no"
    std::string summary() const;
    void print_summary() const;

private:
    std::string image_verdict() const;
    void note_fault(const char* what) const;

    DeviceOptions options_;
    sim::DeviceModel model_;
    long gets_ = 0;
    long sets_ = 0;
    long refused_ = 0;
    std::set<std::size_t> get_lengths_;
    std::set<std::size_t> set_lengths_;
    bool unplugged_ = false;
};

// SIGTERM and SIGINT as a descriptor to poll: the devices end on either.
int signal_descriptor();

}  // namespace wxr::vm
