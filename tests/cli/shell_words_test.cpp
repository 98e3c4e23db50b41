// A retry command is pasted into a shell: each word must come back as the
// program's argv, whatever a unit's serial holds.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/cli/recap.h"
#include "app/cli/shell_words.h"

namespace wxr::cli {
namespace {

// Serials a unit could report, or a hostile one forge.
const std::vector<std::string> kHostile = {
    "X\"&cd>INJECTED&\"Y", "it's", "%OS%", "$(touch INJECTED)", "`id`", "a b  c", "!x!", "$HOME", "\\\\?\\hid#{4d1e}",
    "ends\\", "\u2018quoted\u2019", "\u201cq\u201d", "\u6a5f\u7a2e", "--%", "@x", "a,b", "(x)", "a;b|c<d>e^f",
};

#ifndef _WIN32
// What `sh -c LINE` hands the program the line starts with, one argument a line.
std::vector<std::string> argv_through_sh(const std::string& line) {
    const auto dir = std::filesystem::temp_directory_path() / "wxr7305_shell_words";
    std::filesystem::create_directories(dir);
    const auto script = dir / "show-argv";
    std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\036' \"$a\"; done\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const std::string command = "cd '" + dir.string() + "' && sh -c '" + "PATH=.:$PATH; " + [&] {
        std::string quoted;
        for (char c : line) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted;
    }() + "'";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        std::array<char, 4096> buffer;
        for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) out.append(buffer.data(), n);
        ::pclose(pipe);
    }
    if (out.empty()) ADD_FAILURE() << "no output from: " << command;
    std::vector<std::string> args;
    for (std::size_t at = 0, end; (end = out.find('\036', at)) != std::string::npos; at = end + 1) {
        args.push_back(out.substr(at, end - at));
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "INJECTED")) << line;
    std::filesystem::remove_all(dir);
    return args;
}

TEST(ShellWords, PosixLinesComeBackWordForWord) {
    std::vector<std::string> words = {"show-argv", "upgrade"};
    for (const std::string& serial : kHostile) words.insert(words.end(), {"--device", serial});
    const auto lines = shell_lines(words, Shell::Posix);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(argv_through_sh(lines[0]), std::vector<std::string>(words.begin() + 1, words.end())) << lines[0];
}

// A serial with ESC, BEL or a newline is never printed: the retry names the unit by its location.
TEST(ShellWords, ControlBytesNeverReachTheTerminal) {
    const std::vector<UnwrittenUnit> units = {
        {u"/dev/hidraw3", "usb-1.4", "A\x1b]0;title\x07", RunResult::Failed, ""},
        {u"/dev/hidraw4", "usb-1.5", "B\nforged line", RunResult::Failed, ""},
        {u"/dev/hidraw5", "", "C\x9b" "2J", RunResult::Failed, ""},
    };
    RecapStyle style;
    style.shell = Shell::Posix;
    const std::string text = recap_text(units, {"show-argv"}, style);
    const std::string retry = text.substr(text.find("Retry them:\n  ") + 14);
    EXPECT_EQ(retry.substr(0, retry.find('\n')), "show-argv --device usb-1.4 --device usb-1.5 --device /dev/hidraw5");
    EXPECT_EQ(text.find_first_of("\x1b\x07"), std::string::npos) << text;
    EXPECT_EQ(shell_lines({"x", "a\nb"}, Shell::Posix).front().find('\n'), std::string::npos);
}
#endif

// One form for cmd.exe and PowerShell: double quotes around nothing either
// expands, never \" ; else a labelled line for each.
TEST(ShellWords, WindowsOneFormOrTwoLabelledLines) {
    const std::pair<std::string, bool> safe[] = {
        {"\\\\?\\hid#vid_1209&pid_7305&mi_00#{4d1e55b2-f16f}", true}, {"A0017", true}, {"PCIROOT(0)#USB(3)", true},
        {"X\"&cd>I&\"Y", false}, {"%OS%", false}, {"$(id)", false}, {"`x", false}, {"!x!", false}, {"ends\\", false},
        {"\u2018q\u2019", false}, {"a\x1b", false}, {"", false},
    };
    for (const auto& [word, ok] : safe) EXPECT_EQ(pastes_safely(word, Shell::Windows), ok) << word;
    EXPECT_EQ(shell_lines({"wxr7305.exe", "upgrade", "--device", "\\\\?\\hid#a&b#{x}", "--device", "a,b"}, Shell::Windows),
              std::vector<std::string>{"wxr7305.exe upgrade --device \"\\\\?\\hid#a&b#{x}\" --device \"a,b\""});
    const auto two = shell_lines({"C:\\Program Files\\wxr7305.exe", "upgrade", "--log", "it's%20.jsonl"}, Shell::Windows);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_TRUE(two[0].starts_with("cmd.exe:    (")) << two[0];
    EXPECT_EQ(two[1], "PowerShell: & 'C:\\Program Files\\wxr7305.exe' 'upgrade' '--log' 'it''s%20.jsonl'");
    const auto spaced = shell_lines({"C:\\Program Files\\wxr7305.exe", "upgrade", "--image", "C:\\fw\\"}, Shell::Windows);
    EXPECT_EQ(spaced[0], "cmd.exe:    \"C:\\Program Files\\wxr7305.exe\" upgrade --image C:\\fw\\");
}

// The name a retry uses: the serial when the shell takes it back and it names no other unit.
TEST(ShellWords, RetryNamesSurviveTheShell) {
    const std::vector<UnwrittenUnit> units = {
        {u"sim:0", "usb-1.1", "A0017", RunResult::Failed, ""},
        {u"sim:1", "usb-1.2", "%OS%", RunResult::Failed, ""},
        {u"sim:2", "usb-1.3", "usb-1.1", RunResult::Failed, ""},  // another's location as its serial
        {u"sim:3", "", "", RunResult::Failed, "", /*twin=*/true},
    };
    const std::pair<Shell, std::vector<std::string>> cases[] = {
        {Shell::Posix, {"A0017", "%OS%", "usb-1.3", "sim:3"}},
        {Shell::Windows, {"A0017", "usb-1.2", "usb-1.3", "sim:3"}},
    };
    for (const auto& [shell, names] : cases) {
        std::vector<std::string> got;
        for (const UnwrittenUnit& unit : units) got.push_back(retry_name(unit, units, shell));
        EXPECT_EQ(got, names);
    }
}

}  // namespace
}  // namespace wxr::cli
