// The unpack and pack commands.
#include <filesystem>
#include <string>

#include "cli/gamedb/commands.h"
#include "gamedb/archive_folder.h"
#include "gamedb/archive_member.h"
#include "gamedb/byte_io.h"
#include "gamedb/database.h"
#include "gamedb/folder.h"
#include "gamedb/pack.h"
#include "gamedb/unpack.h"

namespace gamedb::cli {
namespace {

std::string Tables(const std::vector<TableSummary>& tables) {
    std::string text;
    for (const TableSummary& table : tables) {
        if (!text.empty()) text += ", ";
        text += table.name + " " + std::to_string(table.rows);
    }
    return text.empty() ? "no blocks" : text + " rows";
}

}  // namespace

int RunUnpack(const Invocation& invocation) {
    if (IsArchiveFile(PathFromUtf8(invocation.operands[0]))) return RunUnpackArchive(invocation);
    OpenedDatabase database = OpenDatabase(invocation.operands[0], invocation.kind);
    const std::filesystem::path dir = PathFromUtf8(invocation.operands[1]);
    DiskOutputFolder out(dir, {database.path});
    const UnpackSummary summary = Unpack(*database.source, *database.kind, out);
    if (!invocation.quiet)
        Report("unpacked " + database.label + " (" + std::string(database.kind->name) + ") into " + QuotedPath(dir) +
               ": " + Tables(summary.tables));
    return kExitOk;
}

int RunPack(const Invocation& invocation) {
    if (IsArchiveFolder(PathFromUtf8(invocation.operands[0]))) return RunPackArchive(invocation);
    const std::filesystem::path dir = PathFromUtf8(invocation.operands[0]);
    const std::filesystem::path target = PathFromUtf8(invocation.operands[1]);
    // Tables of one kind packed under another kind's name would replace a
    // database the game reads as something else.
    DiskInputFolder in(dir);
    const KindSpec& kind = ManifestKind(in);
    const KindSpec* named = KindForFileName(invocation.operands[1]);
    if (!invocation.kind.empty() && invocation.kind != kind.name)
        throw UsageError(QuotedPath(dir) + " holds a " + std::string(kind.name) + " database, not " + invocation.kind);
    if (invocation.kind.empty() && named && named != &kind)
        throw UsageError(QuotedPath(dir) + " holds a " + std::string(kind.name) + " database, but the name " +
                         QuotedPath(target) + " is that of a " + std::string(named->name) + " database; give --kind " +
                         std::string(kind.name) + " to write it all the same");
    if (const auto member = SplitMemberArgument(invocation.operands[1])) return RunPackIntoMember(invocation, *member);
    const PackSummary summary = PackToFile(dir, target);
    if (!invocation.quiet) {
        Report("packed " + QuotedPath(dir) + " into " + QuotedPath(target) + " (" + std::to_string(summary.bytes) +
               " bytes): " + Tables(summary.tables));
        for (const TableSummary& table : summary.tables) {
            if (table.cp1251) Report("note: " + table.name + " is not UTF-8 and was read as Windows-1251");
            if (!table.note.empty()) Report("note: " + table.name + ": " + table.note);
        }
    }
    return kExitOk;
}

}  // namespace gamedb::cli
