// Prints the arguments it was given, as the program's own reading of its
// command line makes them, each ended by 0x1E (UTF-8): what a pasted retry
// command hands wxr7305.exe.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

int main() {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; args && i < count; ++i) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, args[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(static_cast<std::size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
        WideCharToMultiByte(CP_UTF8, 0, args[i], -1, text.data(), bytes, nullptr, nullptr);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc(0x1E, stdout);
    }
    return 0;
}
