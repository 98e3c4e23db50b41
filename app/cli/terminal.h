#pragma once

namespace wxr::cli {

bool stdout_is_terminal();

}  // namespace wxr::cli
