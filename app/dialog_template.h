// The main dialog (template 102) and the About box (template 100) as data:
// control ids, texts, rectangles in dialog units and initial states. The Qt
// front-end builds its windows from these; the Win32 front-end has the same
// in its resource script.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "res/resource_ids.h"

namespace wxr::app {

// Control ids of the main dialog.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdCheckAndUpgrade = IDC_CHECK_AND_UPGRADE;
inline constexpr int kIdProgress = IDC_PROGRESS;
inline constexpr int kIdPathField = IDC_PATH;
inline constexpr int kIdOpenFile = IDC_OPEN_FILE;
inline constexpr int kIdTextArea = IDC_INFO_TEXT;
inline constexpr int kIdStatusText = IDC_STATUS_TEXT;
inline constexpr int kIdButton1 = IDC_BUTTON1;
inline constexpr int kIdNone = -1;  // a static control nobody addresses

// The About entry of the system menu (and of the Linux context menu).
inline constexpr std::uint32_t kAboutCommand = IDM_ABOUTBOX;
inline constexpr std::uint32_t kSystemCommandMask = 0xFFF0;  // the low four bits are the system's

inline constexpr std::uintptr_t kProgressTimerId = 1;
inline constexpr std::uint32_t kProgressTimerPeriodMs = 200;

enum class ControlKind {
    PushButton,
    DefaultPushButton,
    ProgressBar,
    ReadOnlyEdit,
    StaticText,       // one line
    WrappingText,     // wraps at the right edge
    Icon,
};

struct DialogRect {
    int x;
    int y;
    int width;
    int height;
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::u16string_view text;
    DialogRect rect;
    bool visible;
    bool enabled;
};

struct DialogFontSpec {
    std::u16string_view family;
    int point_size;
};

// Main dialog.
inline constexpr DialogFontSpec kMainDialogFont{u"Consolas", 9};
inline constexpr int kMainDialogWidth = 320;
inline constexpr int kMainDialogHeight = 139;
inline constexpr std::u16string_view kMainTemplateCaption = u"WXR7305_Upgrade_Tool";

// In tab order.
inline constexpr std::array<ControlTemplate, 10> kMainDialogControls{{
    {kIdOk, ControlKind::DefaultPushButton, u"確定", {263, 118, 50, 14}, false, false},
    {kIdCancel, ControlKind::PushButton, u"取消", {263, 118, 50, 14}, false, true},
    {kIdCheckAndUpgrade, ControlKind::PushButton, u"Check and Upgrade", {7, 96, 306, 25}, true, true},
    {kIdProgress, ControlKind::ProgressBar, u"", {7, 125, 306, 7}, true, true},
    {kIdPathField, ControlKind::ReadOnlyEdit, u"", {56, 9, 181, 15}, false, true},
    {kIdOpenFile, ControlKind::PushButton, u"Open File", {246, 7, 67, 18}, false, true},
    {kIdNone, ControlKind::StaticText, u"Update info:", {7, 11, 137, 11}, false, true},
    {kIdTextArea, ControlKind::WrappingText, u"", {7, 35, 252, 52}, true, true},
    {kIdStatusText, ControlKind::StaticText, u"", {265, 36, 48, 14}, true, true},
    {kIdButton1, ControlKind::PushButton, u"Button1", {275, 51, 38, 20}, false, true},
}};

// About box.
inline constexpr DialogFontSpec kAboutFont{u"MS Shell Dlg", 9};
inline constexpr int kAboutWidth = 170;
inline constexpr int kAboutHeight = 62;
inline constexpr std::u16string_view kAboutCaption = u"關於 WXR7305_Upgrade_Tool";
inline constexpr std::u16string_view kAboutProductLine = u"WXR7305_Upgrade_Tool, 1.0 版";
inline constexpr std::u16string_view kAboutSecondLine = u"USB HID firmware upgrade";

inline constexpr std::array<ControlTemplate, 4> kAboutControls{{
    {kIdNone, ControlKind::Icon, u"", {14, 14, 21, 20}, true, true},
    {kIdNone, ControlKind::StaticText, kAboutProductLine, {42, 14, 114, 8}, true, true},
    {kIdNone, ControlKind::StaticText, kAboutSecondLine, {42, 26, 114, 8}, true, true},
    {kIdOk, ControlKind::DefaultPushButton, u"確定", {113, 41, 50, 14}, true, true},
}};

// String 101: the About entry's text.
inline constexpr std::u16string_view kAboutMenuText = u"關於 WXR7305_Upgrade_Tool(&A)...";

// Dialog units to pixels: x * base_x / 4 and y * base_y / 8, rounded to the
// nearest pixel as the platform's MulDiv does.
struct DialogBaseUnits {
    int x;  // average character width of the dialog font, in pixels
    int y;  // character height of the dialog font, in pixels

    static constexpr int mul_div(int value, int numerator, int denominator) {
        const long long product = static_cast<long long>(value) * numerator;
        const long long half = denominator / 2;
        return static_cast<int>(product >= 0 ? (product + half) / denominator
                                             : (product - half) / denominator);
    }
    constexpr int to_pixels_x(int units) const { return mul_div(units, x, 4); }
    constexpr int to_pixels_y(int units) const { return mul_div(units, y, 8); }
    constexpr DialogRect to_pixels(const DialogRect& r) const {
        return {to_pixels_x(r.x), to_pixels_y(r.y), to_pixels_x(r.width), to_pixels_y(r.height)};
    }
};

}  // namespace wxr::app
