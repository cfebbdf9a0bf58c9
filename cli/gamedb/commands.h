// The commands of the gamedb program. Each takes its parsed invocation and
// returns the exit status; a gamedb::Error or gamedb::UsageError thrown by a
// command is reported by main in one place.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "gamedb/pack.h"

namespace gamedb::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct Invocation {
    std::vector<std::string> operands;   // UTF-8
    std::string kind;                    // --kind, empty when not given
    bool quiet = false;                  // --quiet
    std::string output;                  // -o DIR (res extract)
    std::string as;                      // --as NAME (res add, res replace)
    bool force = false;                  // --force (unpack over edited tables)
    bool asTyped = false;                // --as-typed (pack)
};

// Writes a line "gamedb: MESSAGE" to stderr.
void Report(const std::string& message);

int RunUnpack(const Invocation& invocation);
int RunPack(const Invocation& invocation);
int RunCheck(const Invocation& invocation);
int RunDiff(const Invocation& invocation);

// The archive commands; unpack and pack hand a whole archive to the last two.
int RunRes(const Invocation& invocation);
int RunUnpackArchive(const Invocation& invocation);
int RunPackArchive(const Invocation& invocation);
// pack DIR ARCHIVE:MEMBER: the database replaces that member.
int RunPackIntoMember(const Invocation& invocation, const resarc::MemberArgument& member);
std::string ResUsage();
// Packs `dir` into `target` through PackToFile, with the change report
// against the tables' source on stdout.
PackSummary PackWithReport(const Invocation& invocation, const std::filesystem::path& dir,
                                  const std::filesystem::path& target);

}  // namespace gamedb::cli
