// Resource "BINARY" 130 of the running executable.
#include <windows.h>

#include "image/embedded_image.h"

namespace wxr {

namespace {
constexpr WORD kEmbeddedImageId = 130;
}

std::span<const std::uint8_t> embedded_image_resource() {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(kEmbeddedImageId), L"BINARY");
    if (found == nullptr) {
        return {};
    }
    const DWORD size = SizeofResource(module, found);
    const HGLOBAL loaded = size == 0 ? nullptr : LoadResource(module, found);
    const void* bytes = loaded == nullptr ? nullptr : LockResource(loaded);
    if (bytes == nullptr) {
        return {};
    }
    return {static_cast<const std::uint8_t*>(bytes), size};
}

}  // namespace wxr
