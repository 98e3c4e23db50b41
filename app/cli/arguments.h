// The command line's words as options: what `run` acts on. Kept apart so
// that the parser can be driven by itself (tests, fuzzing).
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "station/session.h"

namespace wxr::cli {

using namespace wxr::station;

struct Options {
    std::string command;
    std::vector<std::string> operands;
    std::vector<std::string> images;    // write these files instead; several: each device the one that fits
    std::vector<std::string> devices;   // list, upgrade: these interfaces (or USB locations, serials) only
    std::optional<std::string> log;     // upgrade: append a record per unit result
    std::optional<std::string> serve;   // upgrade: serve the bench's page at this address
    std::optional<std::string> port_names;  // with serve: what the bench calls each port
    std::optional<std::string> publish;        // upgrade, with log: send the log's records to this MQTT broker
    std::optional<std::string> publish_topic;  // with publish: the topics' prefix
    std::optional<std::string> publish_auth;   // with publish: a file with the user and password
    std::optional<std::string> publish_ca;     // with publish: the broker's certificate authority
    SessionOptions session;
    // --simulate's text: the units are made again once the firmware they
    // default to is known (session.simulated holds them as the text alone says).
    std::optional<std::string> simulate_spec;
    bool all = false;    // upgrade every fitting device
    bool watch = false;  // upgrade each fitting device that appears
    std::optional<long> count;  // with watch: stop after this many devices
    bool force = false;  // with watch: write devices already at the image's version
    bool json = false;   // one JSON object per line
    bool install = false;  // udev-rule: write the rule into place and reload udev
    bool help = false;
    bool version = false;
};

// What is wrong with the words; the command line exits 1 with it.
struct UsageError {
    std::string message;
};

// args excludes the program name. Never throws for any words.
std::variant<Options, UsageError> parse_arguments(const std::vector<std::string>& args);

std::string help_text();

}  // namespace wxr::cli
