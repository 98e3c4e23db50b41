#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/device/scripted_hid.h"
#include "tests/upgrade/engine_fixture.h"

namespace wxr {
namespace {

using testing::EngineBench;
using testing::test_image;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kChunk = 0x0B;
constexpr std::uint8_t kBlock = 0x0C;
constexpr std::uint8_t kEnd = 0x0D;

Bytes prefix(const Bytes& bytes, std::size_t n) { return Bytes(bytes.begin(), bytes.begin() + n); }

// A write as it reaches the 21-byte interface.
Bytes padded(Bytes head) {
    head.resize(21, 0);
    return head;
}

bool flash_equals(EngineBench& bench, const Bytes& image) {
    auto model = bench.hid.model(0);
    return std::equal(image.begin(), image.end(), model.flash().begin());
}

// Every report goes out in its own open and close.
void expect_framed(const EngineBench& bench) {
    bool open = false;
    for (const auto& text : bench.transcript.lines()) {
        auto line = parse_transcript_line(text);
        ASSERT_TRUE(line) << text;
        if (line->op == "open" && !line->failed) {
            EXPECT_FALSE(open) << "second open before close: " << text;
            open = true;
        } else if (line->op == "close") {
            EXPECT_TRUE(open) << text;
            open = false;
        } else if (line->op == "set" || line->op == "get") {
            EXPECT_TRUE(open) << "report outside an open device: " << text;
        }
    }
    EXPECT_FALSE(open);
}

std::vector<std::string> long_pauses(const EngineBench& bench) {
    std::vector<std::string> out;
    for (const auto& line : bench.lines_of("sleep")) {
        if (std::stoi(line.detail) >= 100) out.push_back(line.detail);
    }
    return out;
}

struct UpgradeTest : ::testing::Test {
    std::unique_ptr<EngineBench> owner;
    Bytes image = test_image(38648);

    void SetUp() override { prepare({}); }

    // A fresh bench with one listed device; the transcript starts after discovery.
    void prepare(sim::SimInterfaceConfig config, Bytes new_image = {}) {
        if (!new_image.empty()) image = std::move(new_image);
        owner = std::make_unique<EngineBench>();
        EngineBench& bench = *owner;
        bench.add(std::move(config));
        bench.set_image(image);
        ASSERT_EQ(bench.discover(), 1);
        bench.transcript.clear();
    }

    std::vector<std::u16string> texts() const {
        std::vector<std::u16string> out;
        for (const auto& [result, text] : owner->messages.shown) out.push_back(text);
        return out;
    }
};

TEST_F(UpgradeTest, CleanRunWritesTheWholeImage) {
    EngineBench& bench = *owner;
    ASSERT_EQ(bench.upgrade(), UpgradeResult::Succeeded);
    ASSERT_EQ(bench.messages.shown.size(), 1u);
    EXPECT_EQ(bench.messages.shown[0].second,
              u"Firmware upgrade successful.\nPlease turn off the device. Then turn on again.");
    EXPECT_EQ(bench.progress.load(), 2464);

    EXPECT_EQ(bench.writes_of(kChunk).size(), 2464u);
    auto blocks = bench.writes_of(kBlock);
    ASSERT_EQ(blocks.size(), 22u);
    EXPECT_EQ(blocks[0], padded({0x05, 0x0C, 0x00, 0x00, 0x00, 0x07}));
    EXPECT_EQ(blocks[1], padded({0x05, 0x0C, 0x00, 0x07, 0x00, 0x07}));
    EXPECT_EQ(blocks[2], padded({0x05, 0x0C, 0x00, 0x0E, 0x00, 0x07}));
    EXPECT_EQ(blocks[21], padded({0x05, 0x0C, 0x00, 0x93, 0xF8, 0x03}));

    auto ends = bench.writes_of(kEnd);
    ASSERT_EQ(ends.size(), 1u);
    std::uint32_t sum = 0;
    for (auto b : image) sum += b;
    EXPECT_EQ(ends[0], padded({0x05, 0x0D, 0xF8, 0x96, std::uint8_t(sum), std::uint8_t(sum >> 8)}));

    auto starts = bench.writes_of(0x0E);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], padded({0x05, 0x0E, 0x04, 0x0A, 0x01, 0x64}));
    auto one_shots = bench.hid.model(0).counters().one_shots;
    EXPECT_EQ(one_shots, (std::vector<std::uint32_t>{0x12120000, 10}));

    EXPECT_EQ(long_pauses(bench), (std::vector<std::string>{"100", "300", "100", "500"}));
    expect_framed(bench);
    EXPECT_TRUE(flash_equals(bench, image));
    ASSERT_TRUE(bench.hid.model(0).end_report());
    EXPECT_TRUE(bench.hid.model(0).end_report()->matches_flash);
}

TEST_F(UpgradeTest, ChunkOffsetsRestartWithEveryBlockAndCarryTheImage) {
    EngineBench& bench = *owner;
    ASSERT_EQ(bench.upgrade(), UpgradeResult::Succeeded);
    auto chunks = bench.writes_of(kChunk);
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        std::size_t offset = (i % 112) * 16;
        ASSERT_EQ(chunks[i][2] | (chunks[i][3] << 8), static_cast<int>(offset)) << i;
        std::size_t at = (i / 112) * 1792 + offset;
        for (std::size_t k = 0; k < 16 && at + k < image.size(); ++k) ASSERT_EQ(chunks[i][4 + k], image[at + k]);
        ASSERT_EQ(chunks[i].size(), 21u) << i;  // the interface's length: bytes 21-31 never go out
        ASSERT_EQ(chunks[i][20], 0) << i;
    }
}

TEST_F(UpgradeTest, NothingIsReadAfterTheEndReport) {
    EngineBench& bench = *owner;
    ASSERT_EQ(bench.upgrade(), UpgradeResult::Succeeded);
    auto lines = bench.transcript.lines();
    auto end = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        auto line = parse_transcript_line(l);
        return line->op == "set" && line->bytes[1] == kEnd;
    });
    ASSERT_NE(end, lines.end());
    std::vector<std::string> after;
    for (auto it = end + 1; it != lines.end(); ++it) after.push_back(parse_transcript_line(*it)->op);
    EXPECT_EQ(after, (std::vector<std::string>{"close", "sleep"}));
}

TEST_F(UpgradeTest, FailedBlockCheckResendsTheSameChunksWithoutCountingThem) {
    prepare({.model_faults = {.fail_block_check = {{4, 1}}}});
    EngineBench& bench = *owner;
    ASSERT_EQ(bench.upgrade(), UpgradeResult::Succeeded);
    auto chunks = bench.writes_of(kChunk);
    ASSERT_EQ(chunks.size(), 2464u + 112u);
    // Block 4 goes out twice, identically, before its block report.
    for (std::size_t i = 0; i < 112; ++i) EXPECT_EQ(chunks[4 * 112 + i], chunks[5 * 112 + i]);
    EXPECT_EQ(bench.progress.load(), 2464);
    EXPECT_EQ(bench.writes_of(kBlock).size(), 22u);
    EXPECT_TRUE(flash_equals(bench, image));
}

TEST_F(UpgradeTest, RefusedBlockReportIsRepeatedWithoutResendingChunks) {
    prepare({.model_faults = {.refuse_block_report = {{7, 3}}}});
    EngineBench& bench = *owner;
    ASSERT_EQ(bench.upgrade(), UpgradeResult::Succeeded);
    EXPECT_EQ(bench.writes_of(kChunk).size(), 2464u);
    auto blocks = bench.writes_of(kBlock);
    ASSERT_EQ(blocks.size(), 22u + 3u);
    for (std::size_t i = 7; i <= 10; ++i) EXPECT_EQ(blocks[i], padded({0x05, 0x0C, 0x00, 0x31, 0x00, 0x07}));
    EXPECT_TRUE(flash_equals(bench, image));
}

TEST_F(UpgradeTest, BlockThatNeverGetsThroughEndsTheRun) {
    prepare({.model_faults = {.fail_block_check = {{2, 1000}}}});
    EngineBench& bench = *owner;
    ASSERT_EQ(bench.upgrade(), UpgradeResult::Failed);
    EXPECT_EQ(texts(), (std::vector<std::u16string>{u"Upgrade fail !!"}));
    EXPECT_EQ(bench.writes_of(kChunk).size(), 2u * 112 + 8u * 112);
    EXPECT_TRUE(bench.writes_of(kEnd).empty());
}

TEST_F(UpgradeTest, BlockReportNeverConfirmedEndsTheRun) {
    prepare({.model_faults = {.refuse_block_report = {{0, 1000}}}});
    EngineBench& bench = *owner;
    ASSERT_EQ(bench.upgrade(), UpgradeResult::Failed);
    EXPECT_EQ(texts(), (std::vector<std::u16string>{u"Upgrade fail !!"}));
    EXPECT_EQ(bench.writes_of(kBlock).size(), 16u);
    EXPECT_EQ(bench.writes_of(kChunk).size(), 112u);
}

TEST_F(UpgradeTest, UnpluggedDeviceEndsTheRunAtAnyMoment) {
    // Unplugged during the start, the chunks, a block check and a block report.
    for (std::uint64_t after : {5u, 40u, 900u, 3000u, 7000u}) {
        SCOPED_TRACE(after);
        prepare({.transport_faults = {.unplug_after = after + 10, .no_answer_ms = 5000}});
        EngineBench& bench = *owner;
        ASSERT_EQ(bench.upgrade(), UpgradeResult::Failed);
        EXPECT_EQ(texts(), (std::vector<std::u16string>{u"Upgrade fail !!"}));
        EXPECT_LT(bench.clock.now_ms(), 60'000u);
        EXPECT_LT(bench.transcript.size(), 12'000u);
    }
}

TEST_F(UpgradeTest, DeviceThatStopsAnsweringEndsTheRunInBoundedTime) {
    // Writes fail after a USB timeout each: the run gives up after a few.
    prepare({.transport_faults = {.silent_after = 300, .no_answer_ms = 5000}});
    EngineBench& hung = *owner;
    ASSERT_EQ(hung.upgrade(), UpgradeResult::Failed);
    EXPECT_LT(hung.clock.now_ms(), 60'000u);
}

TEST_F(UpgradeTest, ImageOfOneShortBlock) {
    prepare({}, test_image(100));
    EngineBench& bench = *owner;
    ASSERT_EQ(bench.upgrade(), UpgradeResult::Succeeded);
    EXPECT_EQ(bench.writes_of(kChunk).size(), 112u);
    EXPECT_EQ(bench.writes_of(kBlock), (std::vector<Bytes>{padded({0x05, 0x0C, 0x00, 0x00, 0x64, 0x00})}));
    auto ends = bench.writes_of(kEnd);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(prefix(ends[0], 4), (Bytes{0x05, 0x0D, 0x64, 0x00}));
    EXPECT_EQ(bench.progress.load(), 112);
    EXPECT_TRUE(flash_equals(bench, image));
}

TEST_F(UpgradeTest, ImageOfWholeBlocksEndsWithAFullBlock) {
    prepare({}, test_image(3584));
    EngineBench& bench = *owner;
    ASSERT_EQ(bench.upgrade(), UpgradeResult::Succeeded);
    auto blocks = bench.writes_of(kBlock);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1], padded({0x05, 0x0C, 0x00, 0x07, 0x00, 0x07}));
    EXPECT_EQ(bench.writes_of(kChunk).size(), 224u);
}

TEST_F(UpgradeTest, ImageWithoutInfoBlockSendsNothingAndSaysNothing) {
    Bytes plain(5000, 0x11);
    prepare({}, plain);
    EngineBench& bench = *owner;
    EXPECT_EQ(bench.upgrade(), UpgradeResult::NoInfoBlock);
    EXPECT_TRUE(bench.messages.shown.empty());
    EXPECT_EQ(bench.transcript.size(), 0u);
    EXPECT_EQ(bench.progress.load(), 0);
}

TEST_F(UpgradeTest, EmptyDeviceListWritesNothingAndFails) {
    EngineBench& bench = *owner;
    bench.list.count = 0;
    ASSERT_EQ(bench.upgrade(), UpgradeResult::Failed);
    EXPECT_EQ(texts(), (std::vector<std::u16string>{u"Upgrade fail !!"}));
    EXPECT_TRUE(bench.lines_of("set").empty());
    EXPECT_TRUE(bench.lines_of("open").empty());
    EXPECT_EQ(bench.progress.load(), 112);
}

TEST_F(UpgradeTest, FailedBlockCheckReadDoesNotPassOnTheLastAnswer) {
    // Block 1 loses a chunk and its block check read fails: the previous
    // block's passing answer must not count for it.
    prepare({.transport_faults = {.drop_sets = {4 + 112 + 1 + 1 + 5}}});
    EngineBench& bench = *owner;
    // Reads during the run: start report 2, one-shot pre-polls 2, block 0 check 1,
    // block report 2; the next read is block 1's check.
    testing::ScriptedHid flaky(bench.hid, bench.clock, {.lost_gets = {8}});
    DeviceChannel channel(flaky, bench.clock, &bench.transcript);
    DeviceContext context{channel, bench.mutexes, bench.shift, bench.expected_model, bench.list};
    ASSERT_EQ(upgrade_firmware(context, bench.store, bench.progress, bench.messages), UpgradeResult::Succeeded);
    EXPECT_EQ(bench.writes_of(kChunk).size(), 2464u + 112u);
    EXPECT_TRUE(flash_equals(bench, image));
}

TEST_F(UpgradeTest, SilenceEndsARunSoonWhileSlowAnswersNeverDo) {
    // Silent from the middle of block 2 on, each request then failing after
    // a USB timeout: the silence bound ends the run two timeouts later, and
    // the channel asks nothing more once it has passed.
    prepare({.transport_faults = {.silent_after = 300, .no_answer_ms = 5000}});
    EngineBench& silent = *owner;
    ASSERT_EQ(silent.upgrade(), UpgradeResult::Failed);
    int failed = 0;
    std::uint64_t first_failure = silent.clock.now_ms();
    for (const char* op : {"set", "get"}) {
        for (const auto& line : silent.lines_of(op)) {
            if (!line.failed) continue;
            ++failed;
            first_failure = std::min(first_failure, line.ms);
        }
    }
    EXPECT_LE(silent.clock.now_ms() - first_failure, kMaxSilenceMs);
    EXPECT_LT(failed, kMaxFailuresInARow);

    // Every answer a little under the bound apart: slow, but never silent.
    prepare({});
    EngineBench& bench = *owner;
    testing::ScriptedHid slow(bench.hid, bench.clock, {.answer_ms = kMaxSilenceMs - 1});
    DeviceChannel channel(slow, bench.clock);
    DeviceContext context{channel, bench.mutexes, bench.shift, bench.expected_model, bench.list};
    ASSERT_EQ(upgrade_firmware(context, bench.store, bench.progress, bench.messages), UpgradeResult::Succeeded);
    EXPECT_TRUE(flash_equals(bench, image));
    EXPECT_GT(bench.clock.now_ms(), 2500 * (kMaxSilenceMs - 1));
}

}  // namespace
}  // namespace wxr
