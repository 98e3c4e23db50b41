// The simulated device on the virtual clock with everything discovery, the
// query and the upgrade procedure need.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "device/discovery.h"
#include "device/local_mutex.h"
#include "image/image_store.h"
#include "tests/device/sim_fixture.h"
#include "upgrade/upgrade.h"

namespace wxr::testing {

class RecordingMessages final : public UpgradeMessages {
public:
    void show_upgrade_message(UpgradeResult result, const std::u16string& text) override {
        shown.push_back({result, text});
    }
    std::vector<std::pair<UpgradeResult, std::u16string>> shown;
};

// Answers the Shift query with a fixed value and counts the queries.
class CountingShift final : public ShiftKeyState {
public:
    bool pressed_since_last_query() override {
        ++queries;
        return on;
    }
    bool on = false;
    std::atomic<int> queries{0};
};

struct EngineBench : SimBench {
    LocalNamedMutexFactory mutexes;
    CountingShift shift;
    ExpectedModel expected_model{16};
    DeviceList list;
    ImageStore store;
    ProgressCounter progress{0};
    RecordingMessages messages;

    DeviceContext context() { return {channel, mutexes, shift, expected_model, list}; }

    std::int32_t discover() {
        DeviceContext c = context();
        return discover_devices(c);
    }

    UpgradeResult upgrade() {
        DeviceContext c = context();
        return upgrade_firmware(c, store, progress, messages);
    }

    void set_image(const std::vector<std::uint8_t>& image) {
        store = ImageStore{};
        std::copy(image.begin(), image.end(), store.bytes.begin());
        store.length = static_cast<std::int32_t>(image.size());
    }

    // Parsed transcript lines whose operation is op.
    std::vector<TranscriptLine> lines_of(const std::string& op) const {
        std::vector<TranscriptLine> out;
        for (const auto& text : transcript.lines()) {
            auto line = parse_transcript_line(text);
            if (line && line->op == op) out.push_back(*line);
        }
        return out;
    }

    // Writes whose command code (byte 1) is code.
    std::vector<std::vector<std::uint8_t>> writes_of(std::uint8_t code) const {
        std::vector<std::vector<std::uint8_t>> out;
        for (const auto& line : lines_of("set")) {
            if (line.bytes.size() > 1 && line.bytes[1] == code) out.push_back(line.bytes);
        }
        return out;
    }
};

// An image of the given length with an info block (model 16, sensor 3) near its end.
inline std::vector<std::uint8_t> test_image(std::size_t length, std::uint8_t seed = 1) {
    std::vector<std::uint8_t> image(length);
    for (std::size_t i = 0; i < length; ++i) image[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    std::size_t p = length >= 40 ? length - 20 : 1;
    const std::uint8_t block[] = {0x0C, 0x12, 0x03, 0x05, 16, 57, 3};
    for (std::size_t i = 0; i < sizeof block && p + i < length; ++i) image[p + i] = block[i];
    return image;
}

}  // namespace wxr::testing
