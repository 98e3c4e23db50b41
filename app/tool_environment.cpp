#include "app/tool_environment.h"

namespace wxr::app {

std::u16string application_name_from_path(std::u16string_view path) {
    const auto slash = path.find_last_of(u"/\\");
    std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of(u'.');
    if (dot != std::u16string_view::npos && dot > 0) name = name.substr(0, dot);
    return std::u16string(name);
}

}  // namespace wxr::app
