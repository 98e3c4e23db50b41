// Transport faults the simulated device has no key for: chosen reads and
// writes lost on the way (failing at once), and every request answered late.
#pragma once

#include <set>

#include "device/forwarding_hid.h"

namespace wxr::testing {

struct Script {
    std::set<int> lost_gets;  // counted from 1 over the platform's life
    std::set<int> lost_sets;
    std::uint32_t answer_ms = 0;  // each read and write takes this long first
};

class ScriptedHid final : public ForwardingHid {
public:
    ScriptedHid(HidPlatform& inner, Clock& clock, Script script)
        : ForwardingHid(inner), clock_(clock), script_(std::move(script)) {}
    bool get_feature(HidHandle h, std::span<std::uint8_t> r) override {
        return answers(script_.lost_gets, ++gets_) && inner_.get_feature(h, r);
    }
    bool set_feature(HidHandle h, std::span<const std::uint8_t> r) override {
        return answers(script_.lost_sets, ++sets_) && inner_.set_feature(h, r);
    }

private:
    bool answers(const std::set<int>& lost, int n) {
        if (script_.answer_ms > 0) clock_.sleep_ms(script_.answer_ms);
        return !lost.contains(n);
    }
    Clock& clock_;
    Script script_;
    int gets_ = 0;
    int sets_ = 0;
};

}  // namespace wxr::testing
