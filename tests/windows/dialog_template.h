// Reads an extended dialog template (DLGTEMPLATEEX and its items) as the
// resource compiler wrote it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wxr::testing {

// A class or text given either as a string or as an ordinal (0xFFFF, n).
struct NameOrOrdinal {
    std::wstring text;
    std::optional<std::uint16_t> ordinal;
};

struct DialogItem {
    DWORD help_id = 0;
    DWORD ex_style = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    NameOrOrdinal window_class;
    NameOrOrdinal title;
};

struct DialogTemplate {
    DWORD ex_style = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal window_class;
    std::wstring title;
    WORD point_size = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::wstring typeface;
    std::vector<DialogItem> items;
};

// nullopt when the bytes are not an extended template or run out early.
std::optional<DialogTemplate> parse_dialog_template(const std::uint8_t* bytes, std::size_t size);

}  // namespace wxr::testing
