#include <ostream>

#include "app/cli/cli.h"
#include "app/cli/commands.h"
#include "station/image_source.h"
#include "station/record_json.h"
#include "app/cli/output.h"

namespace wxr::cli {

int command_info(const Options& options, Console& console) {
    ImageInfo info;
    if (options.operands.empty()) {
        ImageStore store;
        load_embedded_image(store);
        if (parse_image_info(store.bytes, store.length, info) != 1) {
            console.err << "wxr7305: the built-in firmware has no info block\n";
            return kExitOther;
        }
    } else if (!read_info_of_file(options.operands[0], info, console.err)) {
        return kExitOther;
    }
    auto refusal = upgrade_refusal(info);
    if (options.json) {
        console.out << image_json(info, refusal);
        return kExitSuccess;
    }
    info.customer = escape_control_chars(info.customer);
    console.out << to_utf8(format_image_info(info)) << "\n";
    if (refusal) console.out << "Note: upgrade refuses this file: " << *refusal << ".\n";
    return kExitSuccess;
}

}  // namespace wxr::cli
