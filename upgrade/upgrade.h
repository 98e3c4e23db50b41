// Writing the image store into device list entry 0.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "device/discovery.h"
#include "image/image_store.h"

namespace wxr {

inline constexpr char16_t kUpgradeSuccessText[] =
    u"Firmware upgrade successful.\nPlease turn off the device. Then turn on again.";
inline constexpr char16_t kUpgradeFailText[] = u"Upgrade fail !!";

enum class UpgradeResult { NoInfoBlock, Failed, Succeeded };

// Bounds that keep a run from waiting on a device for ever; reaching one ends
// the run as failed.
// A healthy device fails a block check rarely: eight sends of one block that
// all fail mean the block will not get through.
inline constexpr int kMaxBlockSends = 8;
// A healthy device confirms a block report at once: sixteen refusals mean it
// never will.
inline constexpr int kMaxBlockReportTries = 16;
// Device operations failing one after another, none reaching the device in
// between, mean it is gone or hung, and each may cost a USB timeout of
// seconds. A device that has failed fewer in a row and answers again goes on.
inline constexpr int kMaxFailuresInARow = 8;
// Silence is bounded by the run's SilenceWatch (device/silence_watch.h): the
// context's, shared with the query before, or else the procedure's own.

// How the procedure tells the user its outcome: the dialog shows a modal
// message box (exclamation icon, the application name as caption) and returns
// when it is dismissed; the command line prints.
class UpgradeMessages {
public:
    virtual ~UpgradeMessages() = default;
    virtual void show_upgrade_message(UpgradeResult result, const std::u16string& text) = 0;
};

// Progress counter: chunk reports sent on each block's first pass.
using ProgressCounter = std::atomic<std::int32_t>;

UpgradeResult upgrade_firmware(DeviceContext& context, const ImageStore& store,
                               ProgressCounter& progress, UpgradeMessages& messages);

// Where a failed run stopped, for front-ends that say more than "Upgrade fail !!".
enum class UpgradePhase { Start, Chunks, BlockCheck, BlockReport, EndReport };
struct UpgradeFailure {
    UpgradePhase phase = UpgradePhase::Start;
    std::int32_t block = -1;        // index of the block being sent; -1 outside the transfer
    std::int32_t blocks = 0;        // blocks in the image
    std::string reason;
};
std::string phase_name(UpgradePhase phase);  // "start", "chunks", "block check", ...

// The same; on failure, `failure` (when given) says where and why.
UpgradeResult upgrade_firmware(DeviceContext& context, const ImageStore& store, ProgressCounter& progress,
                               UpgradeMessages& messages, UpgradeFailure* failure);

}  // namespace wxr
