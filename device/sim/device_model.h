// The simulated device's firmware side: how it answers feature report 5 as
// the device contract requires. Transport-free, so the same logic answers
// through the simulated HID platform and through a kernel uhid device.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace wxr::sim {

inline constexpr std::uint8_t kReportId = 5;
inline constexpr std::uint8_t kCodeIdentify = 0x00;
inline constexpr std::uint8_t kCodeChunk = 0x0B;
inline constexpr std::uint8_t kCodeBlock = 0x0C;
inline constexpr std::uint8_t kCodeEnd = 0x0D;
inline constexpr std::uint8_t kCodeStart = 0x0E;
inline constexpr std::uint8_t kReplyA = 0x41;
inline constexpr std::uint8_t kReplyB = 0x42;
inline constexpr std::uint8_t kBusyState = 0x80;
inline constexpr std::size_t kChunkBytes = 16;
inline constexpr std::size_t kChunksPerBlock = 112;
inline constexpr std::size_t kBlockBytes = kChunkBytes * kChunksPerBlock;
inline constexpr std::size_t kFlashBytes = 65536;
inline constexpr std::size_t kReplyLength = 21;
inline constexpr std::uint8_t kErasedByte = 0xFF;

struct Identity {
    std::uint8_t version = 57;
    std::uint8_t model = 16;
    std::uint8_t sensor = 3;
};

// Misbehaviour on request. Block indexes count accepted blocks from the
// start report on (block 0 is at offset 0).
struct ModelFaults {
    int busy_reads = 0;        // reads answered busy after each command but a chunk
    bool stay_busy = false;    // every read answers busy
    bool garbage = false;      // every read answers noise
    std::map<int, int> fail_block_check;     // block index -> block checks that fail
    std::map<int, int> refuse_block_report;  // block index -> block reports refused
};

struct EndReport {
    std::uint16_t length = 0;
    std::uint16_t checksum = 0;
    bool matches_flash = false;  // length and checksum agree with what was written
};

struct ModelCounters {
    std::size_t identifications = 0;
    std::size_t start_reports = 0;
    std::vector<std::uint32_t> one_shots;
    std::size_t chunk_reports = 0;
    std::size_t block_checks = 0;
    std::size_t block_reports = 0;
    std::size_t blocks_accepted = 0;
    std::size_t end_reports = 0;
};

class DeviceModel {
public:
    explicit DeviceModel(Identity identity = {}, ModelFaults faults = {});

    // A feature report written by the host (report ID in byte 0, missing bytes count as 0).
    void on_set(std::span<const std::uint8_t> report);
    // Fills a feature report read by the host; report[0] is the report ID.
    void on_get(std::span<std::uint8_t> report);

    // Switched off and on again: a transfer in progress is lost, and after a
    // complete one (an end report that matched the flash) the device runs the
    // new firmware and reports the version its info block names.
    void power_cycle();

    const std::array<std::uint8_t, kFlashBytes>& flash() const { return flash_; }
    const std::optional<EndReport>& end_report() const { return end_report_; }
    const ModelCounters& counters() const { return counters_; }
    ModelFaults& faults() { return faults_; }

private:
    void on_chunk(std::span<const std::uint8_t> report);
    void on_block_report(std::uint32_t offset, std::uint32_t length);
    void on_end_report(std::uint32_t length, std::uint32_t checksum);
    void reset_transfer();
    void fill_block_check(std::span<std::uint8_t> report);
    bool take_fault(std::map<int, int>& faults);

    Identity identity_;
    ModelFaults faults_;
    std::array<std::uint8_t, kFlashBytes> flash_;
    std::array<std::uint8_t, kBlockBytes> staging_;
    std::bitset<kChunksPerBlock> chunks_;
    int block_index_ = 0;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> last_accepted_;
    std::array<std::uint8_t, kReplyLength> reply_{};
    bool reply_is_block_check_ = false;
    int busy_left_;
    std::uint32_t noise_ = 0x2545F491;
    std::optional<EndReport> end_report_;
    ModelCounters counters_;
};

}  // namespace wxr::sim
