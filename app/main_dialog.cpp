#include "app/main_dialog.h"

#include <chrono>
#include <exception>
#include <optional>
#include <system_error>

#include "app/about_dialog.h"
#include "app/file_error_text.h"
#include "device/device_hold.h"
#include "device/unit_claim.h"
#include "image/image_info.h"
#include "upgrade/compatibility.h"
#include "upgrade/device_query.h"

namespace wxr::app {

namespace {

// How often the dialog thread runs the window's pending calls while it waits
// for the worker. The wait itself ends with the worker, whose device traffic
// is bounded by the upgrade procedure and, once the dialog ends, by the shut gate.
constexpr auto kWorkerPollInterval = std::chrono::milliseconds(5);

}  // namespace

CWXR7305_Upgrade_ToolDlg::CWXR7305_Upgrade_ToolDlg(ToolEnvironment environment)
    : env_(std::move(environment)),
      gate_(env_.hid),
      channel_(gate_, env_.clock, env_.transcript),
      context_{channel_, env_.mutexes, env_.shift, expected_model_, device_list_, &silence_} {}

CWXR7305_Upgrade_ToolDlg::~CWXR7305_Upgrade_ToolDlg() {
    stop_device_traffic();
    if (worker_.joinable()) worker_.join();
}

bool CWXR7305_Upgrade_ToolDlg::OnInitDialog() {
    if (!kAboutMenuText.empty()) {
        window().add_about_entry(kAboutCommand, std::u16string(kAboutMenuText));
    }
    window().set_application_icon();
    window().set_caption(std::u16string(kDialogCaption));
    window().start_timer(kProgressTimerId, kProgressTimerPeriodMs);
    if (!window().register_raw_mouse_input()) {
        show_box(kRawInputErrorText, application_name(), MessageIcon::Exclamation);
    }
    env_.load_image(image_store_);
    ImageInfo info;
    parse_image_info(image_store_.bytes, image_store_.length, info);
    window().set_control_text(kIdTextArea, std::u16string(kUpdateNote));
    expected_model_.store(info.model);
    return true;
}

void CWXR7305_Upgrade_ToolDlg::OnCommand(int id) {
    try {
        dispatch_command(id);
    } catch (const FileError& error) {
        show_box(file_error_text(error), application_name(), MessageIcon::Stop);
    }
}

void CWXR7305_Upgrade_ToolDlg::dispatch_command(int id) {
    switch (id) {
        case kIdOk: OnOK(); break;
        case kIdCancel: OnCancel(); break;
        case kIdCheckAndUpgrade: OnCheckAndUpgrade(); break;
        case kIdOpenFile: OnOpenFile(); break;
        case kIdButton1: OnButton1(); break;
        default: break;  // 1004 and anything else: nothing
    }
}

bool CWXR7305_Upgrade_ToolDlg::OnSysCommand(std::uint32_t id) {
    if ((id & kSystemCommandMask) != kAboutCommand) return false;
    CAboutDlg about(window());
    about.DoModal();
    return true;
}

void CWXR7305_Upgrade_ToolDlg::OnTimer(std::uintptr_t id) {
    if (id != kProgressTimerId) return;
    const std::int32_t now = progress_.load();
    if (now == shown_progress_) return;
    window().set_progress_position(now);
    shown_progress_ = now;
}

// Closing while the worker writes can leave the device unusable, so that
// close is confirmed first; the flag is set only when the close goes ahead.
void CWXR7305_Upgrade_ToolDlg::OnClose() {
    if (worker_running_.load()) {
        const auto answer = show_box(kCloseDuringUpgradeText, application_name(),
                                     MessageIcon::Exclamation, MessageButtons::YesNo);
        if (answer != MessageAnswer::Yes) return;
    }
    close_requested_ = 1;
    OnCommand(kIdCancel);
}

void CWXR7305_Upgrade_ToolDlg::OnDestroy() {
    stop_device_traffic();
    join_worker();
}

void CWXR7305_Upgrade_ToolDlg::OnOK() {
    if (close_requested_ != 0) end_dialog(kIdOk);
}

void CWXR7305_Upgrade_ToolDlg::OnCancel() {
    if (close_requested_ != 0) end_dialog(kIdCancel);
}

// Once the dialog ends, an upgrade still running was abandoned by the user:
// it writes nothing more and its outcome goes unshown.
void CWXR7305_Upgrade_ToolDlg::end_dialog(std::intptr_t result) {
    stop_device_traffic();
    window().end_dialog(result);
}

void CWXR7305_Upgrade_ToolDlg::stop_device_traffic() {
    ending_.store(true);
    gate_.shut();
}

void CWXR7305_Upgrade_ToolDlg::OnCheckAndUpgrade() {
    if (worker_running_.load()) return;  // the disabled button normally sees to it
    DeviceHolds discovery = hold_present(channel_);
    if (discover_devices(context_) <= 0) {
        discovery.clear();
        show_box(not_found_text(), application_name(), MessageIcon::None);
        return;
    }
    // No other program writes the device from its query to the worker's end.
    UnitClaim claim = UnitClaim::take(channel_, context_.list.paths[0]);
    if (!claim) {
        discovery.clear();
        show_box(kDeviceInUseText, application_name(), MessageIcon::Exclamation);
        return;
    }
    // One run on the device: the query, then the worker's upgrade.
    std::optional<DeviceHold> hold(std::in_place, channel_, context_.list.paths[0]);
    discovery.clear();
    silence_ = SilenceWatch{};  // no worker is running: the last run's watch is done with
    ImageInfo device;
    query_device_info(context_, device);
    ImageInfo image;
    parse_image_info(image_store_.bytes, image_store_.length, image);

    const std::u16string mismatch = mismatch_text(image, device);
    if (!mismatch.empty()) {
        hold.reset();
        claim = UnitClaim();
        show_box(mismatch, kMismatchCaption, MessageIcon::None);
        return;
    }
    start_upgrade(image.size, std::move(claim));
}

std::u16string CWXR7305_Upgrade_ToolDlg::not_found_text() const {
    std::u16string text(kDeviceNotFoundText);
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on
    // a string literal added to a temporary string.
    auto line = [&](std::size_t count, std::u16string_view why) {
        if (count == 0) return;
        const std::string digits = std::to_string(count);
        text += u'\n';
        text.append(digits.begin(), digits.end());
        text += why;
    };
    line(gate_.interfaces_in_use(), kInUseInterfacesText);
    line(env_.explain_refused_interfaces ? gate_.inaccessible_interfaces() : 0, kRefusedInterfacesText);
    // The rule's file is named after the model, as udev-rule names it.
    if (std::size_t at = text.find(u"MODEL"); at != std::u16string::npos) {
        std::u16string label = model_name_of(expected_model_.load());
        if (label.empty()) {
            label = u"model";
            label += from_utf8(std::to_string(expected_model_.load()));
        }
        for (char16_t& c : label) c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
        text.replace(at, std::u16string_view(u"MODEL").size(), label);
    }
    return text;
}

void CWXR7305_Upgrade_ToolDlg::start_upgrade(std::int32_t image_size, UnitClaim claim) {
    window().enable_control(kIdCheckAndUpgrade, false);
    window().set_progress_range(0, image_size / kBytesPerProgressStep + 1);
    window().set_progress_position(0);
    shown_progress_ = 0;  // what the bar shows now: a run ending at the last run's count still shows it
    progress_.store(0);

    join_worker();  // the previous worker has given the button back and is ending
    worker_running_.store(true);
    worker_done_.store(false);
    try {
        // The worker's run keeps the device held until it ends.
        DeviceHold hold(channel_, context_.list.paths[0]);
        worker_ = std::thread([this, hold = std::move(hold), claim = std::move(claim)] { upgrade_worker(); });
    } catch (const std::system_error&) {
        worker_running_.store(false);
        worker_done_.store(true);
        show_box(kUpgradeFailText, application_name(), MessageIcon::Exclamation);
        window().enable_control(kIdCheckAndUpgrade, true);
    }
}

void CWXR7305_Upgrade_ToolDlg::upgrade_worker() noexcept {
    run_upgrade();
    // The flag drops before the button comes back, so a click on the returned
    // button is never refused as a second upgrade.
    worker_running_.store(false);
    try {
        window().enable_control(kIdCheckAndUpgrade, true);
    } catch (...) {
        // Nothing may leave the thread; the button stays as it was.
    }
    worker_done_.store(true);
}

void CWXR7305_Upgrade_ToolDlg::run_upgrade() noexcept {
    try {
        upgrade_firmware(context_, image_store_, progress_, *this);
    } catch (...) {
        try {
            show_upgrade_message(UpgradeResult::Failed, kUpgradeFailText);
        } catch (...) {
            // The user cannot be told; the button still comes back.
        }
    }
}

void CWXR7305_Upgrade_ToolDlg::show_upgrade_message(UpgradeResult, const std::u16string& text) {
    if (ending_.load()) return;  // the window is gone: nobody to tell
    show_box(text, application_name(), MessageIcon::Exclamation);
}

void CWXR7305_Upgrade_ToolDlg::join_worker() {
    if (!worker_.joinable()) return;
    while (!worker_done_.load()) {
        window().run_pending_calls();
        std::this_thread::sleep_for(kWorkerPollInterval);
    }
    worker_.join();
}

// Open File and Button1 would talk to the device the worker is writing, so
// both wait until the worker has ended.
void CWXR7305_Upgrade_ToolDlg::OnOpenFile() {
    if (worker_running_.load()) return;
    const auto chosen = window().choose_open_file(std::u16string(kBinaryFilterName),
                                                  std::u16string(kBinaryFilterPattern));
    if (!chosen || chosen->text.empty() || chosen->text.size() >= kFileNameCapacity) return;

    window().set_control_text(kIdPathField, chosen->text);
    window().enable_control(kIdCheckAndUpgrade, false);
    window().set_control_text(kIdTextArea, u"");
    ImageInfo info;
    if (read_image_file_info(chosen->path, info) != 1) return;
    window().enable_control(kIdCheckAndUpgrade, true);
    window().set_control_text(kIdTextArea, format_image_info(info));
    expected_model_.store(info.model);
}

void CWXR7305_Upgrade_ToolDlg::OnButton1() {
    if (worker_running_.load()) return;
    discover_devices(context_);
}

MessageAnswer CWXR7305_Upgrade_ToolDlg::show_box(std::u16string_view text, std::u16string_view caption,
                                                 MessageIcon icon, MessageButtons buttons) {
    return window().message_box(std::u16string(text), std::u16string(caption), icon, buttons);
}

}  // namespace wxr::app
