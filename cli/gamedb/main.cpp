// gamedb: unpack the game's databases into tables, pack them back, check and compare.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/gamedb/commands.h"
#include "cli/utf8_args.h"
#include "export/file_io.h"
#include "gamedb/byte_io.h"
#include "gamedb/database.h"
#include "gamedb/error.h"

#ifndef GAMEDB_VERSION
#define GAMEDB_VERSION "0.0.0"
#endif

namespace gamedb::cli {
namespace {

struct Command {
    std::string_view name;
    std::string_view operands;      // for the usage line
    std::size_t minOperands;
    std::size_t maxOperands;
    int (*run)(const Invocation&);
    std::string_view summary;
};

// One line per command.
constexpr Command kCommands[] = {
    {"unpack", "DATABASE OUTDIR|BOOK.xlsx", 2, 2, RunUnpack,
     "write one table per block and manifest.txt into OUTDIR, or one sheet per block into a workbook"},
    {"pack", "DIR|BOOK.xlsx DATABASE", 2, 2, RunPack, "write DATABASE from the tables in DIR or the workbook"},
    {"check", "DATABASE...|DIR|ARCHIVE", 1, SIZE_MAX, RunCheck,
     "every problem; for a set, every reference that fails"},
    {"diff", "OLD NEW", 2, 2, RunDiff, "show the records added, removed and changed from OLD to NEW"},
    {"res", "list|extract|add|replace|remove|create ARCHIVE ...", 2, SIZE_MAX, RunRes, "the archive commands below"},
};

void Print(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }

std::string Usage() {
    std::string text =
        "Usage: gamedb [--kind K] [--quiet] COMMAND ARGUMENTS\n"
        "       gamedb FILE   (what dropping FILE on the program does: a database or archive\n"
        "                     is unpacked into a workbook beside it, FILE.xlsx or FILE (2).xlsx;\n"
        "                     a workbook is packed back into the database or archive it came\n"
        "                     from, which is first copied to FILE.bak)\n"
        "\nCommands:\n";
    for (const Command& command : kCommands) {
        std::string line = "  " + std::string(command.name) + " " + std::string(command.operands);
        line.resize(std::max<std::size_t>(line.size() + 1, 30), ' ');
        text += line + std::string(command.summary) + "\n";
    }
    text +=
        "\nOptions:\n"
        "  --kind K     the database kind (items, levers, perks, prints, spells, units,\n"
        "               quests, acks, anims); by default it comes from the file name. For\n"
        "               pack the manifest names it; K confirms it for a DATABASE\n"
        "               whose name is that of another kind\n"
        "  --quiet      print nothing on success but the count of pack's warnings\n"
        "  --strict     check of a set: what the game's own data breaks too is an\n"
        "               error, not a warning\n"
        "  --force      unpack: replace tables edited since the last unpack\n"
        "  --as-typed   pack: write values that equal the stored ones at the cell's\n"
        "               precision as typed, not as stored\n"
        "  --layout community  unpack: write one .xlsx in the community's workbook\n"
        "               layout (pack recognises such a workbook by itself)\n"
        "  --help       show this help and exit\n"
        "  --version    show the version and exit\n"
        "\nExit status: 0 success, 1 failure, 2 bad usage.\n"
        "check: 1 when it finds a problem (of a set: an error; warnings and notes\n"
        "do not count). diff: 0 equal, 1 different, 2 on error.\n";
    text += ResUsage();
    return text;
}

int BadUsage(const std::string& message) {
    Report(message);
    Print(stderr, "Try 'gamedb --help'.\n");
    return kExitUsage;
}

int Run(std::span<const std::string> args) {
    Invocation invocation;
    const Command* command = nullptr;
    std::string dropped;   // a path given alone: a file dropped on the program
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
            if (!command) {
                for (const Command& c : kCommands)
                    if (c.name == a) command = &c;
                if (!command && !dropped.empty()) return BadUsage("unknown command '" + dropped + "'");
                if (!command) dropped = args[i];
            } else {
                invocation.operands.push_back(args[i]);
            }
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            Print(stdout, Usage());
            return StdoutFailed("the help") ? kExitFailure : kExitOk;
        } else if (a == "--version") {
            Print(stdout, "gamedb " GAMEDB_VERSION "\n");
            return StdoutFailed("the version") ? kExitFailure : kExitOk;
        } else if (a == "--quiet" || a == "-q") {
            invocation.quiet = true;
        } else if (a == "--strict") {
            invocation.strict = true;
        } else if (a == "--force") {
            invocation.force = true;
        } else if (a == "--as-typed") {
            invocation.asTyped = true;
        } else if (a == "--layout") {
            if (i + 1 >= args.size()) return BadUsage("--layout needs a layout");
            invocation.layout = args[++i];
        } else if (a.starts_with("--layout=")) {
            invocation.layout = std::string(a.substr(9));
        } else if (a == "--kind") {
            if (i + 1 >= args.size()) return BadUsage("--kind needs a kind");
            invocation.kind = args[++i];
        } else if (a.starts_with("--kind=")) {
            invocation.kind = std::string(a.substr(7));
        } else if (a == "-o" || a == "--as") {
            if (i + 1 >= args.size()) return BadUsage(std::string(a) + " needs a value");
            (a == "-o" ? invocation.output : invocation.as) = args[++i];
        } else {
            return BadUsage("unknown option '" + args[i] + "'");
        }
    }
    if (!command && !dropped.empty()) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(PathFromUtf8(dropped), error))
            return BadUsage("unknown command '" + dropped + "'");
        return RunDropped(invocation, dropped);
    }
    if (!command) return BadUsage("no command given");
    if (invocation.operands.size() < command->minOperands || invocation.operands.size() > command->maxOperands)
        return BadUsage("usage: gamedb " + std::string(command->name) + " " + std::string(command->operands));
    try {
        return command->run(invocation);
    } catch (const gamedb::UsageError& e) {
        return BadUsage(e.what());
    } catch (const std::exception& e) {
        Report(e.what());
        return kExitFailure;
    }
}

}  // namespace

void Report(const std::string& message) {
    Print(stderr, "gamedb: ");
    Print(stderr, message);
    Print(stderr, "\n");
}

bool StdoutFailed(const std::string& what) {
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return false;
    Report("cannot write " + what + " to the standard output");
    return true;
}

void PrepareTarget(const std::filesystem::path& target) {
    if (const std::string problem = idb::NotReplaceable(target); !problem.empty()) {
        Place place;
        place.file = QuotedPath(target);
        throw Error(place, problem);
    }
    idb::RemoveStaleTemporaries(target);
}

}  // namespace gamedb::cli

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return gamedb::cli::Run(idb::Utf8Arguments(argc, argv)); }
#else
int main(int argc, char** argv) { return gamedb::cli::Run(idb::Utf8Arguments(argc, argv)); }
#endif
