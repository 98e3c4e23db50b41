#include "app/file_error_text.h"

#include <system_error>

#include "device/channel.h"

namespace wxr::app {

std::u16string file_error_text(const FileError& error) {
    const std::u16string quoted = u"\"" + error.file_name() + u"\"";
    const std::error_code cause = error.cause();
    if (cause == std::errc::permission_denied || cause == std::errc::operation_not_permitted) {
        return u"Access to " + quoted + u" was denied.";
    }
    if (cause == std::errc::io_error) {
        return u"A hardware error occurred while reading " + quoted + u".";
    }
    if (cause == std::errc::file_too_large || cause == std::errc::value_too_large) {
        return quoted + u" is too large to read.";
    }
    if (cause == std::errc::no_such_device || cause == std::errc::no_such_file_or_directory) {
        return quoted + u" disappeared while it was being read.";
    }
    if (cause == std::errc::is_a_directory) {
        return quoted + u" is a directory, not a file.";
    }
    return u"An error occurred while reading " + quoted + u": " + from_utf8(cause.message()) + u".";
}

}  // namespace wxr::app
