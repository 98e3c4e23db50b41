#include "app/cli/cli.h"

#include <ostream>
#include <stdexcept>

#include "app/cli/arguments.h"
#include "app/cli/commands.h"
#include "app/cli/session.h"

namespace wxr::cli {

namespace {

constexpr char kVersionText[] = "wxr7305 1.0.0.1";

int usage_error(const std::string& message, std::ostream& err) {
    err << "wxr7305: " << message << "\nTry 'wxr7305 --help'.\n";
    return kExitOther;
}

int run_command(const Options& options, std::ostream& out, std::ostream& err, bool terminal) {
    if (options.command == "info") {
        if (options.operands.size() > 1) return usage_error("info takes at most one FILE", err);
        return command_info(options, out, err);
    }
    if (options.command != "list" && options.command != "upgrade" && options.command != "udev-rule") {
        return usage_error(options.command.empty() ? "no command given" : "unknown command " + options.command, err);
    }
    if (!options.operands.empty()) return usage_error(options.command + " takes no operands", err);
    Session session(options.session);
    if (options.command == "list") return command_list(session, out, err);
    if (options.command == "udev-rule") return command_udev_rule(session, out, err);
    return command_upgrade(session, options, out, err, terminal);
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal) {
    auto parsed = parse_arguments(args);
    if (auto* error = std::get_if<UsageError>(&parsed)) return usage_error(error->message, err);
    const Options& options = std::get<Options>(parsed);
    if (options.help) {
        out << help_text();
        return kExitSuccess;
    }
    if (options.version) {
        out << kVersionText << "\n";
        return kExitSuccess;
    }
    try {
        return run_command(options, out, err, terminal);
    } catch (const std::exception& e) {
        err << "wxr7305: " << e.what() << "\n";
    }
    return kExitOther;
}

}  // namespace wxr::cli
