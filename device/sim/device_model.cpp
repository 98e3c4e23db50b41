#include "device/sim/device_model.h"

#include <algorithm>

#include "image/image_info.h"

namespace wxr::sim {

namespace {

std::uint8_t byte_at(std::span<const std::uint8_t> report, std::size_t i) {
    return i < report.size() ? report[i] : 0;
}

std::uint32_t u16_at(std::span<const std::uint8_t> report, std::size_t i) {
    return byte_at(report, i) | (std::uint32_t{byte_at(report, i + 1)} << 8);
}

}  // namespace

DeviceModel::DeviceModel(Identity identity, ModelFaults faults)
    : identity_(identity), faults_(std::move(faults)), busy_left_(faults_.busy_reads) {
    flash_.fill(kErasedByte);
    staging_.fill(kErasedByte);
    reply_[0] = kReportId;
}

void DeviceModel::reset_transfer() {
    block_index_ = 0;
    chunks_.reset();
    staging_.fill(kErasedByte);
    last_accepted_.reset();
    end_report_.reset();
}

void DeviceModel::power_cycle() {
    ImageInfo info;
    if (end_report_ && end_report_->matches_flash && parse_image_info(flash_, end_report_->length, info) == 1) {
        identity_.version = info.version;
    }
    block_index_ = 0;
    chunks_.reset();
    staging_.fill(kErasedByte);
    last_accepted_.reset();
    busy_left_ = 0;
    reply_.fill(0);
    reply_[0] = kReportId;
    reply_is_block_check_ = false;
}

bool DeviceModel::take_fault(std::map<int, int>& faults) {
    auto it = faults.find(block_index_);
    if (it == faults.end() || it->second <= 0) return false;
    --it->second;
    return true;
}

void DeviceModel::on_set(std::span<const std::uint8_t> report) {
    if (byte_at(report, 0) != kReportId) return;
    std::uint8_t code = byte_at(report, 1);
    reply_.fill(0);
    reply_[0] = kReportId;
    reply_is_block_check_ = false;
    busy_left_ = faults_.busy_reads;
    switch (code) {
        case kCodeChunk:
            // Chunks stream in without processing, so they never make the device busy.
            busy_left_ = 0;
            on_chunk(report);
            return;
        case kCodeBlock:
            on_block_report(u16_at(report, 2), u16_at(report, 4));
            return;
        case kCodeEnd:
            on_end_report(u16_at(report, 2), u16_at(report, 4));
            return;
        case kCodeStart:
            ++counters_.start_reports;
            reset_transfer();
            reply_[2] = kCodeStart;
            return;
        default:
            break;
    }
    std::uint32_t value = byte_at(report, 1) | (std::uint32_t{byte_at(report, 2)} << 8) |
                          (std::uint32_t{byte_at(report, 3)} << 16) |
                          (std::uint32_t{byte_at(report, 4)} << 24);
    bool all_zero = std::all_of(report.begin() + 1, report.end(), [](std::uint8_t b) { return b == 0; });
    if (code == kCodeIdentify && all_zero) {
        ++counters_.identifications;
        reply_[1] = kReplyA;
        reply_[2] = kReplyB;
        reply_[4] = identity_.version;
        reply_[5] = identity_.model;
        reply_[6] = identity_.sensor;
        return;
    }
    counters_.one_shots.push_back(value);
}

void DeviceModel::on_chunk(std::span<const std::uint8_t> report) {
    ++counters_.chunk_reports;
    reply_is_block_check_ = true;
    std::uint32_t offset = u16_at(report, 2);
    if (offset % kChunkBytes != 0 || offset >= kBlockBytes) return;
    for (std::size_t i = 0; i < kChunkBytes; ++i) staging_[offset + i] = byte_at(report, 4 + i);
    chunks_.set(offset / kChunkBytes);
}

void DeviceModel::on_block_report(std::uint32_t offset, std::uint32_t length) {
    ++counters_.block_reports;
    // A repeat of the block just accepted (its reply was lost) is confirmed again.
    if (last_accepted_ == std::pair{offset, length}) {
        reply_[2] = kCodeBlock;
        return;
    }
    bool expected = offset == block_index_ * kBlockBytes && length >= 1 && length <= kBlockBytes &&
                    offset + length <= kFlashBytes;
    if (!expected || !chunks_.all() || take_fault(faults_.refuse_block_report)) return;
    std::copy_n(staging_.begin(), length, flash_.begin() + offset);
    ++counters_.blocks_accepted;
    ++block_index_;
    chunks_.reset();
    staging_.fill(kErasedByte);
    last_accepted_ = std::pair{offset, length};
    reply_[2] = kCodeBlock;
}

void DeviceModel::on_end_report(std::uint32_t length, std::uint32_t checksum) {
    ++counters_.end_reports;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < length && i < kFlashBytes; ++i) sum += flash_[i];
    end_report_ = EndReport{static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(checksum),
                            (sum & 0xFFFF) == checksum && length > 0};
    reply_[2] = kCodeEnd;
}

void DeviceModel::fill_block_check(std::span<std::uint8_t> report) {
    ++counters_.block_checks;
    std::size_t arrived = chunks_.count();
    if (arrived == kChunksPerBlock && take_fault(faults_.fail_block_check)) --arrived;
    report[2] = kCodeChunk;
    report[5] = static_cast<std::uint8_t>(arrived);
}

void DeviceModel::on_get(std::span<std::uint8_t> report) {
    std::fill(report.begin(), report.end(), std::uint8_t{0});
    if (report.empty()) return;
    report[0] = kReportId;
    if (report.size() < kReplyLength) return;
    if (faults_.garbage) {
        for (std::size_t i = 1; i < report.size(); ++i) {
            noise_ ^= noise_ << 13;
            noise_ ^= noise_ >> 17;
            noise_ ^= noise_ << 5;
            report[i] = static_cast<std::uint8_t>(noise_);
        }
        return;
    }
    if (faults_.stay_busy || busy_left_ > 0) {
        if (busy_left_ > 0) --busy_left_;
        report[1] = kBusyState;
        return;
    }
    std::copy(reply_.begin(), reply_.end(), report.begin());
    report[0] = kReportId;
    if (reply_is_block_check_) fill_block_check(report);
}

}  // namespace wxr::sim
