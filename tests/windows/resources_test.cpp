// Reads the resources back from the built executables: dialog templates,
// the About string, the version block, the manifest, the icon and the
// embedded firmware.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "res/resource_ids.h"
#include "tests/windows/dialog_template.h"

// Executables to inspect, '|'-separated, besides this test's own module, which
// links the same compiled resource script.
#ifndef WXR7305_INSPECTED_EXES
#define WXR7305_INSPECTED_EXES ""
#endif

namespace wxr::testing {
namespace {

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr DWORD kStaticId = static_cast<DWORD>(-1);

struct Module {
    std::wstring path;
    HMODULE handle = nullptr;
};

std::wstring widen(const std::string& text) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units > 0 ? units - 1 : 0), L'\0');
    if (units > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), units);
    return wide;
}

std::vector<Module> inspected_modules() {
    std::vector<Module> modules;
    std::string list = WXR7305_INSPECTED_EXES;
    for (std::size_t from = 0; from < list.size();) {
        std::size_t end = list.find('|', from);
        if (end == std::string::npos) end = list.size();
        std::wstring path = widen(list.substr(from, end - from));
        HMODULE handle =
            LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        modules.push_back({path, handle});
        from = end + 1;
    }
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    modules.push_back({own, GetModuleHandleW(nullptr)});
    return modules;
}

std::span<const std::uint8_t> resource(HMODULE module, WORD id, LPCWSTR type) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) return {};
    return {static_cast<const std::uint8_t*>(bytes), SizeofResource(module, found)};
}

std::optional<DialogTemplate> dialog(HMODULE module, WORD id) {
    auto bytes = resource(module, id, MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    if (bytes.empty()) return std::nullopt;
    return parse_dialog_template(bytes.data(), bytes.size());
}

// Runs check on every inspected executable; an ASSERT ends that one's check.
template <typename Check>
void for_each_module(Check check) {
    for (const Module& m : inspected_modules()) {
        SCOPED_TRACE(std::string(m.path.begin(), m.path.end()));
        if (m.handle == nullptr) {
            ADD_FAILURE() << "cannot load the executable";
            continue;
        }
        check(m);
    }
}

struct ExpectedItem {
    DWORD id;
    WORD class_ordinal;  // 0: the progress bar's class name
    const wchar_t* text;
    short x, y, cx, cy;
    DWORD style_set;      // bits that must be set
    DWORD style_clear;    // bits that must be clear
};

void expect_item(const DialogItem& item, const ExpectedItem& want) {
    SCOPED_TRACE(::testing::Message() << "control " << want.id);
    EXPECT_EQ(item.id, want.id);
    if (want.class_ordinal != 0) {
        EXPECT_EQ(item.window_class.ordinal, std::optional<std::uint16_t>(want.class_ordinal));
    } else {
        // Class names are case-insensitive; the resource compiler upper-cases them.
        EXPECT_EQ(_wcsicmp(item.window_class.text.c_str(), L"msctls_progress32"), 0);
    }
    EXPECT_EQ(item.title.text, std::wstring(want.text));
    EXPECT_EQ(item.x, want.x);
    EXPECT_EQ(item.y, want.y);
    EXPECT_EQ(item.cx, want.cx);
    EXPECT_EQ(item.cy, want.cy);
    EXPECT_EQ(item.style & want.style_set, want.style_set) << std::hex << item.style;
    EXPECT_EQ(item.style & want.style_clear, 0u) << std::hex << item.style;
    EXPECT_EQ(item.style & WS_CHILD, static_cast<DWORD>(WS_CHILD));
}

TEST(Resources, MainDialogTemplateHasTheLayoutAndStates) {
    constexpr DWORD kLeftText = SS_LEFT | WS_GROUP;
    const ExpectedItem expected[] = {
        {IDOK, kButtonClass, L"確定", 263, 118, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_DISABLED, WS_VISIBLE},
        {IDCANCEL, kButtonClass, L"取消", 263, 118, 50, 14, WS_TABSTOP, WS_VISIBLE | WS_DISABLED},
        {IDC_CHECK_AND_UPGRADE, kButtonClass, L"Check and Upgrade", 7, 96, 306, 25, WS_VISIBLE | WS_TABSTOP,
         WS_DISABLED | BS_DEFPUSHBUTTON},
        {IDC_PROGRESS, 0, L"", 7, 125, 306, 7, WS_VISIBLE | WS_BORDER, WS_DISABLED},
        {IDC_PATH, kEditClass, L"", 56, 9, 181, 15, ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,
         WS_VISIBLE | ES_MULTILINE},
        {IDC_OPEN_FILE, kButtonClass, L"Open File", 246, 7, 67, 18, WS_TABSTOP, WS_VISIBLE},
        {kStaticId, kStaticClass, L"Update info:", 7, 11, 137, 11, kLeftText, WS_VISIBLE | SS_TYPEMASK},
        {IDC_INFO_TEXT, kStaticClass, L"", 7, 35, 252, 52, kLeftText | WS_VISIBLE, SS_TYPEMASK},
        {IDC_STATUS_TEXT, kStaticClass, L"", 265, 36, 48, 14, kLeftText | WS_VISIBLE, SS_TYPEMASK},
        {IDC_BUTTON1, kButtonClass, L"Button1", 275, 51, 38, 20, WS_TABSTOP, WS_VISIBLE},
    };
    for_each_module([&](const Module& m) {
        auto main = dialog(m.handle, IDD_WXR7305_UPGRADE_TOOL_DIALOG);
        ASSERT_TRUE(main) << "no extended template 102";
        EXPECT_EQ(main->cx, 320);
        EXPECT_EQ(main->cy, 139);
        EXPECT_EQ(main->title, L"WXR7305_Upgrade_Tool");
        const DWORD frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_SETFONT;
        EXPECT_EQ(main->style & frame, frame);
        EXPECT_EQ(main->style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CHILD), 0u);
        EXPECT_EQ(main->ex_style, static_cast<DWORD>(WS_EX_APPWINDOW));
        EXPECT_EQ(main->typeface, L"Consolas");
        EXPECT_EQ(main->point_size, 9);
        EXPECT_EQ(main->weight, FW_NORMAL);
        EXPECT_EQ(main->italic, 0);
        ASSERT_EQ(main->items.size(), std::size(expected));
        for (std::size_t i = 0; i < std::size(expected); ++i) expect_item(main->items[i], expected[i]);
    });
}

TEST(Resources, AboutBoxTemplate) {
    for_each_module([&](const Module& m) {
        auto about = dialog(m.handle, IDD_ABOUTBOX);
        ASSERT_TRUE(about) << "no extended template 100";
        EXPECT_EQ(about->cx, 170);
        EXPECT_EQ(about->cy, 62);
        EXPECT_EQ(about->title, L"關於 WXR7305_Upgrade_Tool");
        const DWORD frame = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        EXPECT_EQ(about->style & frame, frame);
        EXPECT_EQ(about->style & WS_THICKFRAME, 0u);
        EXPECT_EQ(about->point_size, 9);
        ASSERT_EQ(about->items.size(), 4u);
        const auto& icon = about->items[0];
        // A class by ordinal or by its name: both create the same control.
        EXPECT_TRUE(icon.window_class.ordinal == kStaticClass ||
                    _wcsicmp(icon.window_class.text.c_str(), L"Static") == 0);
        EXPECT_EQ(icon.style & SS_TYPEMASK, static_cast<DWORD>(SS_ICON));
        EXPECT_EQ(icon.title.ordinal, std::optional<std::uint16_t>(IDR_MAINFRAME));
        EXPECT_EQ(std::make_tuple(icon.x, icon.y, icon.cx, icon.cy), std::make_tuple(14, 14, 21, 20));
        const auto& name = about->items[1];
        EXPECT_EQ(name.title.text, L"WXR7305_Upgrade_Tool, 1.0 版");
        EXPECT_NE(name.style & SS_NOPREFIX, 0u);
        EXPECT_EQ(std::make_tuple(name.x, name.y, name.cx, name.cy), std::make_tuple(42, 14, 114, 8));
        const auto& second = about->items[2];
        EXPECT_EQ(std::make_tuple(second.x, second.y, second.cx, second.cy), std::make_tuple(42, 26, 114, 8));
        const auto& ok = about->items[3];
        EXPECT_EQ(ok.id, static_cast<DWORD>(IDOK));
        EXPECT_EQ(ok.title.text, L"確定");
        EXPECT_EQ(ok.style & 0xF, static_cast<DWORD>(BS_DEFPUSHBUTTON));
        EXPECT_EQ(std::make_tuple(ok.x, ok.y, ok.cx, ok.cy), std::make_tuple(113, 41, 50, 14));
    });
}

TEST(Resources, AboutMenuStringAndIcon) {
    for_each_module([&](const Module& m) {
        wchar_t text[128] = {};
        ASSERT_GT(LoadStringW(m.handle, IDS_ABOUTBOX, text, 128), 0);
        EXPECT_STREQ(text, L"關於 WXR7305_Upgrade_Tool(&A)...");

        // The icon group offers the sizes the shell and the dialog ask for.
        auto group = resource(m.handle, IDR_MAINFRAME, MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
        ASSERT_GE(group.size(), 6u);
        const WORD count = static_cast<WORD>(group[4] | group[5] << 8);
        std::vector<int> widths;
        for (WORD i = 0; i < count && 6u + 14u * (i + 1u) <= group.size(); ++i) {
            const int width = group[6 + 14 * i];
            widths.push_back(width == 0 ? 256 : width);
        }
        for (int size : {16, 32, 48, 256}) {
            EXPECT_NE(std::find(widths.begin(), widths.end(), size), widths.end()) << size;
        }
    });
}

std::wstring version_string(const std::vector<std::uint8_t>& block, const wchar_t* name) {
    struct Translation {
        WORD language, codepage;
    }* translation = nullptr;
    UINT size = 0;
    void* data = const_cast<std::uint8_t*>(block.data());
    if (!VerQueryValueW(data, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size) ||
        size < sizeof(Translation)) {
        return L"<no translation>";
    }
    wchar_t path[128];
    swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language, translation->codepage, name);
    wchar_t* value = nullptr;
    if (!VerQueryValueW(data, path, reinterpret_cast<void**>(&value), &size)) return L"<missing>";
    return value;
}

// Each shipped executable names itself and the firmware it carries.
TEST(Resources, VersionBlockOfEachExecutableNamesItAndItsFirmware) {
    for_each_module([&](const Module& m) {
        if (m.handle == GetModuleHandleW(nullptr)) return;  // the test itself has none
        const std::wstring file = m.path.substr(m.path.find_last_of(L"/\\") + 1);
        const std::wstring name = file.substr(0, file.rfind(L'.'));
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(m.path.c_str(), &ignored);
        ASSERT_GT(size, 0u);
        std::vector<std::uint8_t> block(size);
        ASSERT_TRUE(GetFileVersionInfoW(m.path.c_str(), 0, size, block.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixed_size = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size));
        EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
        EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
        EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
        EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
        EXPECT_EQ(version_string(block, L"InternalName"), file);
        EXPECT_EQ(version_string(block, L"OriginalFilename"), file);
        EXPECT_EQ(version_string(block, L"FileVersion"), L"1.0.0.1");
        EXPECT_EQ(version_string(block, L"ProductName"), L"WXR7305_Upgrade_Tool");
        const std::wstring description = version_string(block, L"FileDescription");
        const std::wstring product = version_string(block, L"ProductVersion");
        EXPECT_EQ(description.rfind(name + L", firmware TQ", 0), 0u) << description;
        EXPECT_EQ(product.rfind(L"1.0.0.1 (TQ", 0), 0u) << product;
        if (WXR7305_FIRMWARE_IS_DEMO) {
            EXPECT_EQ(description, name + L", firmware TQ16 v57");
            EXPECT_EQ(product, L"1.0.0.1 (TQ16 v57)");
        }
    });
}

TEST(Resources, ManifestAsksForCommonControls6AsInvokerAndDpiAwareness) {
    for_each_module([&](const Module& m) {
        auto bytes = resource(m.handle, 1, MAKEINTRESOURCEW(24) /* RT_MANIFEST */);
        ASSERT_FALSE(bytes.empty());
        const std::string manifest(bytes.begin(), bytes.end());
        EXPECT_NE(manifest.find(R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"),
                  std::string::npos);
        EXPECT_NE(manifest.find(R"(level="asInvoker")"), std::string::npos);
        EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
    });
}

TEST(Resources, EmbeddedFirmwareIsTheConfiguredFileByteForByte) {
    std::ifstream file(WXR7305_FIRMWARE_PATH, std::ios::binary);
    ASSERT_TRUE(file) << WXR7305_FIRMWARE_PATH;
    const std::vector<std::uint8_t> expected{std::istreambuf_iterator<char>(file), {}};
    for_each_module([&](const Module& m) {
        auto bytes = resource(m.handle, IDR_FIRMWARE, L"BINARY");
        ASSERT_EQ(bytes.size(), expected.size());
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), expected.begin()));
        if (WXR7305_FIRMWARE_IS_DEMO) {
            EXPECT_EQ(bytes.size(), 38648u);
        }
    });
}

}  // namespace
}  // namespace wxr::testing
