// What every fuzz target shares: a broken rule is a finding, reported the way
// libFuzzer reports a crash, with the input saved.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace wxr::fuzz {

[[noreturn]] inline void fail(const std::string& rule) {
    std::fprintf(stderr, "rule broken: %s\n", rule.c_str());
    std::abort();
}

inline void check(bool holds, const char* rule) {
    if (!holds) fail(rule);
}

}  // namespace wxr::fuzz
