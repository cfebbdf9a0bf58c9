// A program's arguments after its name, as UTF-8, for the command-line
// programs' entry points.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace idb {

#ifdef _WIN32
// Wide arguments (wmain) keep file names outside the ANSI code page intact.
inline std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::u8string utf8 = std::filesystem::path(argv[i]).u8string();
        args.emplace_back(utf8.begin(), utf8.end());
    }
    return args;
}
#else
inline std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}
#endif

}  // namespace idb
