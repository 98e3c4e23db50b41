// Runs the command line in-process, as a script would, and keeps what it said.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "image/image_info.h"
#include "image/image_store.h"

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

// The built-in image with another model and sensor byte, written to a file of
// its own (tag: the test's name, so that tests side by side never share one).
inline std::string bench_image_file(int model, int sensor, const std::string& tag) {
    ImageStore store;
    load_embedded_image(store);
    const auto block = std::search(store.bytes.begin(), store.bytes.begin() + store.length, kInfoMarker.begin(),
                                   kInfoMarker.end());
    block[kModelOffset] = static_cast<std::uint8_t>(model);
    block[kSensorOffset] = static_cast<std::uint8_t>(sensor);
    const auto path = std::filesystem::temp_directory_path() /
                      ("wxr7305_bench_" + tag + "_" + std::to_string(model) + "_" + std::to_string(sensor) + ".bin");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(store.bytes.data()), store.length);
    return path.string();
}

}  // namespace wxr::cli
