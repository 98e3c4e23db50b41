// The simulated devices a command line asks for, e.g.
//   model=16,sensor=3,version=50,busy=2,devices=3,report-length=21,
//   fail-block-check=4:2,refuse-block-report=7:3,unplug-after=900,silent,
//   arrive-every=5000,replug-after=3000,leave-after=9000,2:unplug-after=900
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "device/sim/sim_hid.h"

namespace wxr::sim {

struct SimSpecError {
    std::string message;
};

// A request to stop at a moment of the clock: Ctrl-C pressed by the person
// at the bench, or the system's request (SIGTERM, a console close).
struct SimStop {
    std::uint64_t at_ms = 0;
    bool from_system = false;
};

// The simulated bench: its interfaces, and what the person at it does.
struct SimBench {
    std::vector<SimInterfaceConfig> interfaces;
    std::vector<SimStop> stops;  // in the order of the clock
};

// One config per simulated interface, or what is wrong with the text. An
// interface is `defaults` unless the text says otherwise: the caller passes
// what the firmware it writes fits, so that a plain simulation fits it.
std::variant<SimBench, SimSpecError> parse_sim_spec(std::string_view spec, const Identity& defaults = {});

// The keys, one per line, for --help.
std::string sim_spec_help();

}  // namespace wxr::sim
