// The command line's argument parser on any words: it never throws, refuses
// with a message, and keeps to rules that hold however many options it learns:
// --help, --version, --virtual-time and --shift, where taken, only set their flag; an
// unknown option or an option without its value is refused; a --simulate=SPEC
// last refuses exactly the texts the simulation key parser refuses and
// otherwise gives its interfaces.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "app/cli/arguments.h"
#include "device/sim/sim_spec.h"
#include "tests/fuzz/fuzz_check.h"

namespace wxr::fuzz {
namespace {

using cli::Options;
using cli::UsageError;
using Words = std::vector<std::string>;
using Parsed = std::variant<Options, UsageError>;

const char* const kVocabulary[] = {
    "info", "list", "upgrade", "udev-rule", "--help", "-h", "--version", "--simulate", "--simulate=",
    "--simulate=devices=2,busy=1", "--simulate=silent", "--virtual-time", "--shift", "--trace", "--image",
    "--device", "--all", "--watch", "--count", "--force", "--json", "-", "--", "--=", "3", "fw.bin", "",
};

Words make_words(FuzzedDataProvider& in) {
    Words words;
    for (int n = in.ConsumeIntegralInRange(0, 8); n > 0; --n) {
        if (in.ConsumeBool()) {
            words.push_back(in.PickValueInArray(kVocabulary));
        } else {
            words.push_back(in.ConsumeRandomLengthString(40));
        }
    }
    return words;
}

Parsed parse(const Words& words) {
    try {
        return cli::parse_arguments(words);
    } catch (...) {
        fail("the argument parser never throws");
    }
}

// What every option above leaves alone.
bool same_words(const Options& a, const Options& b) {
    return a.command == b.command && a.operands == b.operands && a.images == b.images &&
           a.session.trace_file == b.session.trace_file &&
           a.session.simulated.has_value() == b.session.simulated.has_value() &&
           (!a.session.simulated || a.session.simulated->interfaces.size() == b.session.simulated->interfaces.size());
}

Words with(Words words, const std::string& extra) {
    words.push_back(extra);
    return words;
}

// An option may be refused where its command does not take it; accepted, it
// sets itself and nothing else.
void check_flag(const Words& words, const Options& base, const char* flag, bool Options::*field) {
    const Parsed parsed = parse(with(words, flag));
    if (const auto* options = std::get_if<Options>(&parsed)) {
        check(options->*field && same_words(*options, base), "a flag sets itself and nothing else");
    }
}

void check_accepted(const Words& words, const Options& base, const std::string& spec) {
    // After "--" every word is an operand.
    if (std::find(words.begin(), words.end(), "--") != words.end()) return;
    check_flag(words, base, "--help", &Options::help);
    check_flag(words, base, "--version", &Options::version);
    const Parsed timed = parse(with(words, "--virtual-time"));
    if (const auto* options = std::get_if<Options>(&timed)) {
        check(options->session.virtual_time && same_words(*options, base),
              "--virtual-time sets the virtual clock and nothing else");
    }
    const Parsed shifted = parse(with(words, "--shift"));
    if (const auto* options = std::get_if<Options>(&shifted)) {
        check(options->session.shift && same_words(*options, base), "--shift sets the override and nothing else");
    }

    check(std::holds_alternative<UsageError>(parse(with(words, "--no-such-option"))), "an unknown option");
    check(std::holds_alternative<UsageError>(parse(with(words, "--image"))), "--image without a file");
    check(std::holds_alternative<UsageError>(parse(with(words, "--trace"))), "--trace without a file");

    const auto devices = sim::parse_sim_spec(spec);
    const Parsed simulated = parse(with(words, "--simulate=" + spec));
    if (std::holds_alternative<sim::SimSpecError>(devices)) {
        check(std::holds_alternative<UsageError>(simulated), "a bad simulation spec is refused");
        return;
    }
    if (!std::holds_alternative<Options>(simulated)) return;  // a command without devices
    const auto& interfaces = std::get<Options>(simulated).session.simulated;
    check(interfaces && interfaces->interfaces.size() == std::get<0>(devices).interfaces.size(),
          "the last --simulate gives its interfaces");
}

}  // namespace
}  // namespace wxr::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace wxr::fuzz;
    FuzzedDataProvider in(data, size);
    const Words words = make_words(in);
    const std::string spec = in.ConsumeRandomLengthString(60);
    const Parsed parsed = parse(words);
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        check(!error->message.empty(), "a refusal says what is wrong");
        return 0;
    }
    check_accepted(words, std::get<Options>(parsed), spec);
    return 0;
}
