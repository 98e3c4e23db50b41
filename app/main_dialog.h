// The main dialog: start-up of the window, the close rules, the About entry,
// the progress timer, "Check and Upgrade" with its worker thread, "Open File"
// and "Button1". It holds the process's records (image store, expected model,
// device list, progress counter) and reaches the screen only through a
// DialogWindow.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "app/dialog_template.h"
#include "app/dialog_window.h"
#include "app/hid_gate.h"
#include "app/tool_environment.h"
#include "device/channel.h"
#include "device/discovery.h"
#include "device/unit_claim.h"
#include "image/image_store.h"
#include "upgrade/upgrade.h"

namespace wxr::app {

inline constexpr std::u16string_view kDialogCaption = u"ZQ-HLKD4/700-ZQ315 upgrade tool";
inline constexpr std::u16string_view kUpdateNote = u"Improve compatibility. ";
inline constexpr std::u16string_view kRawInputErrorText = u"error";
inline constexpr std::u16string_view kCloseDuringUpgradeText =
    u"An upgrade is in progress. Closing now can leave the device unusable.\nClose anyway?";
// The second line of "Device not found!!" when permissions hid devices (Linux).
inline constexpr std::u16string_view kRefusedInterfacesText =
    u" HID interface(s) could not be opened: permission denied.\n"
    u"Run 'sudo wxr7305 udev-rule --install' to let users reach the device: it adds\n"
    u"/etc/udev/rules.d/70-wxr7305-MODEL-local.rules beside the package's rule.";
// The second line of "Device not found!!" when another program had the units.
inline constexpr std::u16string_view kInUseInterfacesText =
    u" HID interface(s) in use by another program writing the device: try again once it is done.";
// The box when another program took the device between the search and the write.
inline constexpr std::u16string_view kDeviceInUseText =
    u"The device is being written by another program. Try again once it is done.";
inline constexpr std::u16string_view kBinaryFilterName = u"binary File";
inline constexpr std::u16string_view kBinaryFilterPattern = u"*.bin";
// The file-open dialog's name buffer, terminating zero included.
inline constexpr std::size_t kFileNameCapacity = 2048;

// Each image chunk of 16 bytes is one step of the progress bar.
inline constexpr std::int32_t kBytesPerProgressStep = 16;

class CWXR7305_Upgrade_ToolDlg final : private UpgradeMessages {
public:
    explicit CWXR7305_Upgrade_ToolDlg(ToolEnvironment environment);
    // Joins a worker still running; the front-end normally has done so
    // through OnDestroy while its window could still run pending calls.
    ~CWXR7305_Upgrade_ToolDlg() override;

    CWXR7305_Upgrade_ToolDlg(const CWXR7305_Upgrade_ToolDlg&) = delete;
    CWXR7305_Upgrade_ToolDlg& operator=(const CWXR7305_Upgrade_ToolDlg&) = delete;

    // The front-end binds its window before OnInitDialog.
    void attach(DialogWindow& window) { window_ = &window; }

    // Handlers the front-end calls on the dialog thread.
    bool OnInitDialog();
    // A button click, Escape (2) or Enter (1). A file that opened but could
    // not be read is reported here and the command counts as handled.
    void OnCommand(int id);
    // True when handled; otherwise the front-end does its default processing.
    bool OnSysCommand(std::uint32_t id);
    void OnTimer(std::uintptr_t id);
    void OnClose();
    // The modal run has ended: stop the device traffic of an abandoned upgrade
    // and wait for the worker, letting the window run its pending calls.
    void OnDestroy();

    void OnOK();
    void OnCancel();
    void OnCheckAndUpgrade();
    void OnOpenFile();
    void OnButton1();

    const std::u16string& application_name() const { return env_.application_name; }
    bool close_requested() const { return close_requested_ != 0; }
    bool upgrade_running() const { return worker_running_.load(); }
    // The worker, if one was started, has given the button back.
    bool worker_finished() const { return worker_done_.load(); }
    std::uint8_t expected_model() const { return expected_model_.load(); }
    const ImageStore& image_store() const { return image_store_; }
    const DeviceList& device_list() const { return device_list_; }
    std::int32_t progress() const { return progress_.load(); }

private:
    void dispatch_command(int id);
    void end_dialog(std::intptr_t result);
    void stop_device_traffic();
    // The claim goes with the worker and ends with it.
    void start_upgrade(std::int32_t image_size, UnitClaim claim);
    void upgrade_worker() noexcept;
    void run_upgrade() noexcept;
    void join_worker();
    std::u16string not_found_text() const;
    void show_upgrade_message(UpgradeResult result, const std::u16string& text) override;
    MessageAnswer show_box(std::u16string_view text, std::u16string_view caption, MessageIcon icon,
                           MessageButtons buttons = MessageButtons::Ok);
    DialogWindow& window() { return *window_; }

    ToolEnvironment env_;
    DialogWindow* window_ = nullptr;

    // The process's records.
    ImageStore image_store_;
    ExpectedModel expected_model_{0};
    DeviceList device_list_;
    ProgressCounter progress_{0};

    HidGate gate_;
    DeviceChannel channel_;
    // One run's silence bound over the query and the worker's upgrade; new for each run.
    SilenceWatch silence_;
    DeviceContext context_;

    std::int32_t close_requested_ = 0;
    std::int32_t shown_progress_ = 0;

    std::thread worker_;
    std::atomic<bool> worker_running_{false};  // from the start until the upgrade has returned
    std::atomic<bool> worker_done_{true};      // the thread has nothing left to do
    std::atomic<bool> ending_{false};          // the dialog has ended: results go unshown
};

}  // namespace wxr::app
