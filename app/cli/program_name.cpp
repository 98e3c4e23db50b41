#include "app/cli/program_name.h"

#include "app/cli/shell_words.h"

namespace wxr::cli {

namespace {

std::string& stored_name() {
    static std::string name = "wxr7305";
    return name;
}

}  // namespace

void set_program_name(std::string name) {
    if (!name.empty() && is_printable_word(name)) stored_name() = std::move(name);
}

const std::string& program_name() { return stored_name(); }

}  // namespace wxr::cli
