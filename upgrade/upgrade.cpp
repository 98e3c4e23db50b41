#include "upgrade/upgrade.h"

#include <algorithm>
#include <vector>

#include "image/image_info.h"

namespace wxr {

namespace {

// The image goes out in blocks of 112 chunks of 16 bytes.
constexpr std::int32_t kChunkBytes = 16;
constexpr std::int32_t kChunksPerBlock = 112;
constexpr std::int32_t kBlockBytes = kChunkBytes * kChunksPerBlock;
// Room for the longest image plus the whole last block, which is always sent.
constexpr std::size_t kWorkingCopyBytes = 131072;

constexpr std::uint8_t kCodeChunk = 0x0B;
constexpr std::uint8_t kCodeBlock = 0x0C;
constexpr std::uint8_t kCodeEnd = 0x0D;
constexpr std::uint8_t kStartReport[] = {0x05, 0x0E, 0x04, 0x0A, 0x01, 0x64};
constexpr std::uint32_t kFirstOneShot = 0x12120000;
constexpr std::uint32_t kSecondOneShot = 10;

constexpr std::int32_t kStartWaitMs = 20;
constexpr std::int32_t kBlockReportWaitMs = 20;
constexpr std::int32_t kEndReportWait = -1;  // pre-poll and write, no reply
constexpr std::uint32_t kAfterStartMs = 100;
constexpr std::uint32_t kAfterOneShotsMs = 300;
constexpr std::uint32_t kBeforeEndMs = 100;
constexpr std::uint32_t kAfterEndMs = 500;

// Block check: the device confirms that all 112 chunks of the block arrived.
constexpr std::size_t kCheckCodeByte = 2;
constexpr std::size_t kCheckCountByte = 5;
constexpr std::uint8_t kCheckCount = 0x70;
constexpr std::size_t kBlockReplyByte = 2;

Report start_report() {
    Report report = make_report();
    std::copy(std::begin(kStartReport), std::end(kStartReport), report.begin());
    return report;
}

Report chunk_report(const std::vector<std::uint8_t>& image, std::int32_t block, std::int32_t chunk) {
    Report report = make_report();
    report[1] = kCodeChunk;
    put_u16(report, 2, static_cast<std::uint32_t>(chunk));
    auto from = image.begin() + block + chunk;
    std::copy(from, from + kChunkBytes, report.begin() + 4);
    return report;
}

Report block_report(std::int32_t block, std::int32_t length) {
    Report report = make_report();
    report[1] = kCodeBlock;
    put_u16(report, 2, static_cast<std::uint32_t>(block));
    put_u16(report, 4, static_cast<std::uint32_t>(length));
    return report;
}

Report end_report(std::int32_t length, std::uint32_t checksum) {
    Report report = make_report();
    report[1] = kCodeEnd;
    put_u16(report, 2, static_cast<std::uint32_t>(length));
    put_u16(report, 4, checksum);
    return report;
}

// The caller's context, watched by its silence bound or else by `own`.
DeviceContext watched(const DeviceContext& context, SilenceWatch& own) {
    DeviceContext out = context;
    if (!out.silence) out.silence = &own;
    return out;
}

// One run of the procedure over its private copy of the image.
class Transfer {
public:
    Transfer(const DeviceContext& context, const ImageStore& store, ProgressCounter& progress)
        : context_(watched(context, own_silence_)), progress_(progress), image_(kWorkingCopyBytes, 0) {
        length_ = std::clamp<std::int32_t>(store.length, 0, static_cast<std::int32_t>(store.bytes.size()));
        std::copy_n(store.bytes.begin(), length_, image_.begin());
    }

    bool has_info_block(ImageInfo& info) const { return parse_image_info(image_, length_, info) == 1; }

    void start() {
        Report status = make_report();
        send(start_report(), status, kStartWaitMs);
        context_.channel.sleep(kAfterStartMs);
        one_shot(kFirstOneShot);
        one_shot(kSecondOneShot);
        context_.channel.sleep(kAfterOneShotsMs);
    }

    const UpgradeFailure& failure() const { return failure_; }

    bool send_blocks() {
        bool first_pass = true;
        for (std::int32_t block = 0; block < length_; block += kBlockBytes) {
            if (!send_block(block, first_pass) || !confirm_block(block)) return false;
        }
        return true;
    }

    // False when the end report did not reach the device: without its length
    // and checksum the device has no reason to take the image.
    bool finish(std::uint32_t checksum) {
        context_.channel.sleep(kBeforeEndMs);
        if (!send(end_report(length_, checksum), check_status_, kEndReportWait).written) {
            return fail(UpgradePhase::EndReport, -1, "the end report did not reach the device");
        }
        context_.channel.sleep(kAfterEndMs);
        return true;
    }

private:
    struct Sent {
        bool written = false;   // false also when skipped
        bool answered = false;  // status holds the device's reply to this report
    };

    // One report in its own open and close.
    Sent send(const Report& report, Report& status, std::int32_t wait) {
        if (context_.list.count <= 0 || device_gone()) return {};
        ScopedDevice device(open_listed_device(context_));
        const bool written = note(device && exchange_feature(device.get(), report, status, wait));
        return {written, has_fresh_reply(device.get())};
    }

    void one_shot(std::uint32_t value) {
        if (context_.list.count <= 0 || device_gone()) return;
        note(send_device_command(context_, value));
    }

    // Every operation on the listed device counts: one that reached it ends a
    // run of failures.
    bool note(bool reached) {
        failures_in_a_row_ = reached ? 0 : failures_in_a_row_ + 1;
        return reached;
    }

    bool device_gone() const { return failures_in_a_row_ >= kMaxFailuresInARow || silence().over(now_ms()); }

    const SilenceWatch& silence() const { return *context_.silence; }

    std::uint64_t now_ms() const { return context_.channel.clock().now_ms(); }

    // Records where the run stopped; returns false for the caller to pass on.
    bool fail(UpgradePhase phase, std::int32_t block, std::string reason) {
        failure_ = {phase, block < 0 ? -1 : block / kBlockBytes, (length_ + kBlockBytes - 1) / kBlockBytes,
                    std::move(reason)};
        return false;
    }
    bool fail_gone(UpgradePhase phase, std::int32_t block) {
        if (silence().over(now_ms())) {
            return fail(phase, block,
                        "the device stopped answering (no answer for " + std::to_string(kMaxSilenceMs / 1000) + " s)");
        }
        return fail(phase, block,
                    "the device stopped answering (" + std::to_string(kMaxFailuresInARow) + " operations failed in a row)");
    }

    // Chunks and block check until the device has the whole block.
    bool send_block(std::int32_t block, bool& first_pass) {
        for (int sends = 0; sends < kMaxBlockSends; ++sends) {
            for (std::int32_t chunk = 0; chunk < kBlockBytes; chunk += kChunkBytes) {
                send(chunk_report(image_, block, chunk), check_status_, kWaitSkipPolls);
                if (first_pass) ++progress_;
                if (device_gone()) return fail_gone(UpgradePhase::Chunks, block);
            }
            std::optional<bool> passed = block_check();
            if (!passed) return fail(UpgradePhase::BlockCheck, block, "the device could not be opened");
            if (*passed) {
                first_pass = true;
                return true;
            }
            first_pass = false;
        }
        return fail(UpgradePhase::BlockCheck, block,
                    "the block check failed " + std::to_string(kMaxBlockSends) + " times");
    }

    // nullopt when the device cannot be reached at all.
    std::optional<bool> block_check() {
        if (context_.list.count <= 0) return std::nullopt;
        ScopedDevice device(open_listed_device(context_));
        if (!device) return std::nullopt;
        // A failed read must not pass on the previous block's answer.
        if (!note(read_status(device.get(), check_status_))) return false;
        return check_status_[kCheckCodeByte] == kCodeChunk && check_status_[kCheckCountByte] == kCheckCount;
    }

    bool confirm_block(std::int32_t block) {
        std::int32_t length = std::min(kBlockBytes, length_ - block);
        const Report report = block_report(block, length);
        for (int tries = 0; tries < kMaxBlockReportTries && !device_gone(); ++tries) {
            Report status = make_report();
            // A reply left from before (a lost write, failed reads) confirms nothing.
            if (send(report, status, kBlockReportWaitMs).answered && status[kBlockReplyByte] == kCodeBlock) {
                return true;
            }
        }
        if (device_gone()) return fail_gone(UpgradePhase::BlockReport, block);
        return fail(UpgradePhase::BlockReport, block,
                    "the block report was refused " + std::to_string(kMaxBlockReportTries) + " times");
    }

    SilenceWatch own_silence_;
    DeviceContext context_;
    ProgressCounter& progress_;
    std::vector<std::uint8_t> image_;
    std::int32_t length_ = 0;
    Report check_status_ = make_report();
    int failures_in_a_row_ = 0;
    UpgradeFailure failure_;
};

}  // namespace

std::string phase_name(UpgradePhase phase) {
    switch (phase) {
        case UpgradePhase::Start: return "start";
        case UpgradePhase::Chunks: return "chunks";
        case UpgradePhase::BlockCheck: return "block check";
        case UpgradePhase::BlockReport: return "block report";
        case UpgradePhase::EndReport: return "end report";
    }
    return "start";
}

UpgradeResult upgrade_firmware(DeviceContext& context, const ImageStore& store,
                               ProgressCounter& progress, UpgradeMessages& messages) {
    return upgrade_firmware(context, store, progress, messages, nullptr);
}

UpgradeResult upgrade_firmware(DeviceContext& context, const ImageStore& store, ProgressCounter& progress,
                               UpgradeMessages& messages, UpgradeFailure* failure) {
    Transfer transfer(context, store, progress);
    progress = 0;
    ImageInfo info;
    if (!transfer.has_info_block(info)) return UpgradeResult::NoInfoBlock;
    transfer.start();
    if (!transfer.send_blocks() || !transfer.finish(info.checksum)) {
        if (failure) *failure = transfer.failure();
        messages.show_upgrade_message(UpgradeResult::Failed, kUpgradeFailText);
        return UpgradeResult::Failed;
    }
    messages.show_upgrade_message(UpgradeResult::Succeeded, kUpgradeSuccessText);
    return UpgradeResult::Succeeded;
}

}  // namespace wxr
