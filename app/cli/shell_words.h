// Words as a shell reads them back: a command printed for a person to paste.
// POSIX shells on Linux; on Windows one line that cmd.exe and PowerShell both
// read back word for word, else a line for each, labelled.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wxr::cli {

enum class Shell {
    Posix,
    Windows,  // cmd.exe and PowerShell
};

#ifdef _WIN32
inline constexpr Shell kNativeShell = Shell::Windows;
#else
inline constexpr Shell kNativeShell = Shell::Posix;
#endif

// No control character (C0, DEL, C1): such a word would drive the terminal it is printed on.
bool is_printable_word(std::string_view word);

// The word goes into the one line every shell of its kind reads back: on
// Windows nothing that cmd.exe or PowerShell expands inside double quotes.
bool pastes_safely(std::string_view word, Shell shell);

// The lines to paste, each ready to print. A word that no form of the shell
// takes back (a control character, or % in cmd.exe) leaves that form out and
// says so instead.
std::vector<std::string> shell_lines(const std::vector<std::string>& words, Shell shell);

}  // namespace wxr::cli
