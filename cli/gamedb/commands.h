// The commands of the gamedb program. Each takes its parsed invocation and
// returns the exit status; a gamedb::Error or gamedb::UsageError thrown by a
// command is reported by main in one place.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "gamedb/archive_folder.h"
#include "gamedb/database.h"
#include "gamedb/folder.h"
#include "archive/in_place.h"
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
    bool strict = false;                 // --strict (check of a set)
    bool force = false;                  // --force (unpack over edited tables)
    bool asTyped = false;                // --as-typed (pack)
    std::string layout;                  // --layout L (unpack into a workbook)
};

// Writes a line "gamedb: MESSAGE" to stderr.
void Report(const std::string& message);
// Whether what went to stdout failed to reach it (a full device, a closed
// pipe); reports it when so. Output that was lost must not pass for success.
bool StdoutFailed(const std::string& what);
// Before a file named by the user is written: refuses a target that is not a
// regular file (a device, a pipe, a folder), and removes the temporaries a
// killed run of ours left beside it.
void PrepareTarget(const std::filesystem::path& target);

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
int PackIntoMember(const Invocation& invocation, InputFolder& in, const resarc::MemberArgument& member);
// The line saying what pack of a whole archive did.
int ReportPackedArchive(const Invocation& invocation, const ArchiveFolderSummary& summary);
std::string ResUsage();
// A member name typed by the user: UTF-8 to Windows-1251, `/` to `\`.
std::string MemberName(const std::string& utf8);
// What an in-place change of an archive did, for the summary line.
std::string ChangeSummary(const resarc::UpdateResult& result);

// The community's workbook layout (cli/gamedb/community.cpp): pack a
// workbook in that layout (nullopt when the first operand is none), and
// unpack into one (--layout community).
std::optional<int> TryPackCommunity(const Invocation& invocation);
int RunUnpackCommunity(const Invocation& invocation);
// Packs `dir` into `target` through PackToFile, with the change report
// against the tables' source on stdout.
PackSummary PackWithReport(const Invocation& invocation, InputFolder& in, const std::filesystem::path& target);

// The kind of the tables in `in`, checked against --kind and the name of
// the target (operand 2); throws UsageError when they disagree.
const KindSpec& CheckedKind(const Invocation& invocation, InputFolder& in);
// "packed X into Y (N bytes): ..." and the notes of the tables.
void ReportPacked(const Invocation& invocation, const std::string& from, const std::filesystem::path& target,
                  const PackSummary& summary);

// Unpacks `database` (given as `source` on the command line) into `out`,
// with the manifest's record of where it came from, and says so naming `to`.
int UnpackRecorded(const Invocation& invocation, OpenedDatabase& database, const std::string& source, OutputFolder& out,
                   const std::filesystem::path& to);

// Workbooks: unpack into one (a database or a whole archive), pack one
// back; a single path on the command line (a file dropped on the program)
// does whichever fits it.
int UnpackToWorkbook(const Invocation& invocation, const std::string& source, const std::filesystem::path& book);
int PackWorkbook(const Invocation& invocation, const std::filesystem::path& book, const std::string& target);
int RunDropped(const Invocation& invocation, const std::string& path);

// check over a set: several operands, a folder or an archive with databases.
bool IsSetCheck(const Invocation& invocation);
int RunCheckSet(const Invocation& invocation);
}  // namespace gamedb::cli

namespace gamedb {
struct LoadedSet;
struct KindSpec;
}  // namespace gamedb

namespace gamedb::cli {
// After a pack: the references that touch `packed` (every kind when nullptr)
// in the set `load` gives, as warnings on stderr; never a failure.
void ReportPackReferences(const Invocation& invocation, const std::function<std::optional<LoadedSet>()>& load,
                          const KindSpec* packed);

}  // namespace gamedb::cli
