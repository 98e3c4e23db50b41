// Runs the command line in-process, as a script would, and keeps what it said.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli.h"

namespace wxr::cli {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

inline Outcome wxr7305(std::vector<std::string> args) {
    std::ostringstream out, err;
    int code = run(args, out, err, /*terminal=*/false);
    return {code, out.str(), err.str()};
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace wxr::cli
