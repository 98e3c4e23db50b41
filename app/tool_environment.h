// What each executable's main hands the application: the platform pieces the
// device channel runs on, the embedded image's loader and the application name.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "device/hid_platform.h"
#include "device/transcript.h"
#include "image/image_store.h"

namespace wxr::app {

struct ToolEnvironment {
    HidPlatform& hid;
    Clock& clock;
    NamedMutexFactory& mutexes;
    ShiftKeyState& shift;
    // Caption of the boxes that have none of their own.
    std::u16string application_name;
    std::function<void(ImageStore&)> load_image = load_embedded_image;
    Transcript* transcript = nullptr;
    // Linux: "Device not found!!" adds a line when HID interfaces were
    // refused for lack of permission, naming the command that grants it.
    bool explain_refused_interfaces = false;
};

// The executable's file name without its directory and its extension.
std::u16string application_name_from_path(std::u16string_view path);

}  // namespace wxr::app
