// A simulated platform on the virtual clock with a transcript, shared by the
// device-layer tests.
#pragma once

#include <string>
#include <vector>

#include "device/channel.h"
#include "device/sim/sim_hid.h"
#include "device/sim/virtual_clock.h"
#include "device/transcript.h"

namespace wxr::testing {

struct SimBench {
    VirtualClock clock;
    sim::SimHid hid{clock};
    Transcript transcript;
    DeviceChannel channel{hid, clock, &transcript};

    std::size_t add(sim::SimInterfaceConfig config = {}) {
        if (config.path.empty()) config.path = u"sim" + to_u16(hid.interface_count());
        return hid.add_interface(std::move(config));
    }

    static std::u16string to_u16(std::size_t n) {
        std::string s = std::to_string(n);
        return std::u16string(s.begin(), s.end());
    }
};

// Each transcript line shortened to what a test compares: "get", "get busy",
// "get failed", "set", "set failed", "sleep 20", "open", "close", ...
inline std::vector<std::string> ops(const Transcript& transcript) {
    std::vector<std::string> out;
    for (const auto& text : transcript.lines()) {
        auto line = parse_transcript_line(text);
        if (!line) {
            out.push_back("unparsable: " + text);
            continue;
        }
        std::string op = line->op;
        if (line->failed) op += " failed";
        if (line->op == "sleep") op += " " + line->detail;
        if (line->op == "get" && !line->failed && line->bytes.size() > 1 && (line->bytes[1] & 0x80)) {
            op += " busy";
        }
        out.push_back(op);
    }
    return out;
}

}  // namespace wxr::testing
