#include <ostream>

#include "app/cli/cli.h"
#include "app/cli/commands.h"

namespace wxr::cli {

int command_info(const Options& options, std::ostream& out, std::ostream& err) {
    ImageInfo info;
    if (options.operands.empty()) {
        ImageStore store;
        load_embedded_image(store);
        if (parse_image_info(store.bytes, store.length, info) != 1) {
            err << "wxr7305: the built-in firmware has no info block\n";
            return kExitOther;
        }
    } else if (read_image_file_info(from_utf8(options.operands[0]), info) != 1) {
        err << "wxr7305: " << options.operands[0] << ": cannot be read or holds no info block\n";
        return kExitOther;
    }
    out << to_utf8(format_image_info(info)) << "\n";
    return kExitSuccess;
}

}  // namespace wxr::cli
