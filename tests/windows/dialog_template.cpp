#include "tests/windows/dialog_template.h"

#include <cstring>

namespace wxr::testing {

namespace {

class Reader {
public:
    Reader(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    template <typename T>
    bool read(T& out) {
        if (size_ - at_ < sizeof(T)) return false;
        std::memcpy(&out, bytes_ + at_, sizeof(T));
        at_ += sizeof(T);
        return true;
    }
    bool read_string(std::wstring& out) {
        out.clear();
        for (WORD unit = 0; read(unit);) {
            if (unit == 0) return true;
            out.push_back(static_cast<wchar_t>(unit));
        }
        return false;
    }
    bool read_name(NameOrOrdinal& out) {
        WORD first = 0;
        if (!read(first)) return false;
        if (first == 0) return true;
        if (first == 0xFFFF) {
            WORD ordinal = 0;
            if (!read(ordinal)) return false;
            out.ordinal = ordinal;
            return true;
        }
        out.text.push_back(static_cast<wchar_t>(first));
        std::wstring rest;
        if (!read_string(rest)) return false;
        out.text += rest;
        return true;
    }
    bool align_dword() {
        at_ = (at_ + 3) & ~std::size_t{3};
        return at_ <= size_;
    }
    bool skip(std::size_t n) {
        if (size_ - at_ < n) return false;
        at_ += n;
        return true;
    }

private:
    const std::uint8_t* bytes_;
    std::size_t size_;
    std::size_t at_ = 0;
};

bool read_item(Reader& in, DialogItem& item) {
    WORD extra = 0;
    return in.align_dword() && in.read(item.help_id) && in.read(item.ex_style) && in.read(item.style) &&
           in.read(item.x) && in.read(item.y) && in.read(item.cx) && in.read(item.cy) && in.read(item.id) &&
           in.read_name(item.window_class) && in.read_name(item.title) && in.read(extra) && in.skip(extra);
}

}  // namespace

std::optional<DialogTemplate> parse_dialog_template(const std::uint8_t* bytes, std::size_t size) {
    Reader in(bytes, size);
    DialogTemplate dialog;
    WORD version = 0, signature = 0, count = 0;
    DWORD help_id = 0;
    if (!in.read(version) || !in.read(signature) || version != 1 || signature != 0xFFFF) return std::nullopt;
    if (!in.read(help_id) || !in.read(dialog.ex_style) || !in.read(dialog.style) || !in.read(count) ||
        !in.read(dialog.x) || !in.read(dialog.y) || !in.read(dialog.cx) || !in.read(dialog.cy) ||
        !in.read_name(dialog.menu) || !in.read_name(dialog.window_class) || !in.read_string(dialog.title)) {
        return std::nullopt;
    }
    if (dialog.style & (DS_SETFONT | DS_SHELLFONT)) {
        if (!in.read(dialog.point_size) || !in.read(dialog.weight) || !in.read(dialog.italic) ||
            !in.read(dialog.charset) || !in.read_string(dialog.typeface)) {
            return std::nullopt;
        }
    }
    for (WORD i = 0; i < count; ++i) {
        DialogItem item;
        if (!read_item(in, item)) return std::nullopt;
        dialog.items.push_back(std::move(item));
    }
    return dialog;
}

}  // namespace wxr::testing
