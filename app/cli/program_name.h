// The program's name as the user ran it ("./wxr7305", "wxr7305.exe",
// "C:\Tools\wxr7305.exe"), for commands printed to paste back: a bare
// "wxr7305" is not found from an unpacked folder, and may be another
// model's tool.
#pragma once

#include <string>

namespace wxr::cli {

// Set once by main(); a name holding control characters is not taken.
void set_program_name(std::string name);
// "wxr7305" until set.
const std::string& program_name();

}  // namespace wxr::cli
