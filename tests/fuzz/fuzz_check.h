// What every fuzz target shares: a broken rule is a finding, reported the way
// libFuzzer reports a crash, with the input saved.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace wxr::fuzz {

// What the current input stands for, printed with a finding.
inline std::string& finding_context() {
    static std::string context;
    return context;
}

[[noreturn]] inline void fail(const std::string& rule) {
    std::fprintf(stderr, "rule broken: %s\n", rule.c_str());
    if (!finding_context().empty()) std::fprintf(stderr, "input: %s\n", finding_context().c_str());
    std::abort();
}

inline void check(bool holds, const char* rule) {
    if (!holds) fail(rule);
}

}  // namespace wxr::fuzz
