// Runs a built program as a user would, keeping its exit status and what it
// wrote to stdout and stderr.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/temp_dir.h"

namespace idb::testing {

// `text` as one word of a POSIX shell.
inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}
inline std::string Quote(const std::filesystem::path& path) { return Quote(path.string()); }

struct RunResult {
    int exitCode = -1;  // -1: the program did not end by exiting
    std::string out;
    std::string err;
};

// Runs `program` with `args` (already quoted) in `dir`, stdin empty, with
// `env` assignments put before the command.
inline RunResult RunProgram(const TempDir& dir, const std::string& program, const std::string& args,
                            const std::string& env = "") {
    const std::string command = "cd " + Quote(dir.path()) + " && " + (env.empty() ? "" : env + " ") +
                                Quote(program) + " " + args + " >.stdout 2>.stderr </dev/null";
    const int status = std::system(command.c_str());
    RunResult result;
    if (status != -1 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    const auto take = [&dir](const char* name) {
        const std::filesystem::path path = dir / name;
        std::string text;
        {
            std::ifstream file(path, std::ios::binary);
            text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
        std::filesystem::remove(path);
        return text;
    };
    result.out = take(".stdout");
    result.err = take(".stderr");
    return result;
}

}  // namespace idb::testing
