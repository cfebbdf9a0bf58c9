// The unpack and pack commands.
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/gamedb/commands.h"
#include "gamedb/archive_folder.h"
#include "gamedb/archive_member.h"
#include "gamedb/byte_io.h"
#include "gamedb/check_set.h"
#include "gamedb/change_report.h"
#include "gamedb/checksum.h"
#include "gamedb/database.h"
#include "gamedb/folder.h"
#include "gamedb/pack.h"
#include "gamedb/provenance.h"
#include "gamedb/unpack.h"
#include "gamedb/workbook_folder.h"

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

// The database just written, as the set check reads it.
SetSource PackedSource(const std::filesystem::path& target, const KindSpec& kind) {
    FileRegionSource file(target, 0, UINT64_MAX, QuotedPath(target));
    SetSource source;
    source.kind = &kind;
    source.label = QuotedPath(target);
    file.ReadInto(source.bytes, static_cast<std::size_t>(file.Size()), "the database");
    return source;
}

}  // namespace

// The kind of the tables in `in`, checked against --kind and the target's name.
const KindSpec& CheckedKind(const Invocation& invocation, InputFolder& in) {
    // Tables of one kind packed under another kind's name would replace a
    // database the game reads as something else.
    const KindSpec& kind = ManifestKind(in);
    const std::string& target = invocation.operands[1];
    const KindSpec* named = KindForFileName(target);
    if (!invocation.kind.empty() && invocation.kind != kind.name)
        throw UsageError(in.Label() + " holds a " + std::string(kind.name) + " database, not " + invocation.kind);
    if (invocation.kind.empty() && named && named != &kind)
        throw UsageError(in.Label() + " holds a " + std::string(kind.name) + " database, but the name " +
                         QuotedPath(PathFromUtf8(target)) + " is that of a " + std::string(named->name) +
                         " database; give --kind " + std::string(kind.name) + " to write it all the same");
    return kind;
}

void ReportPacked(const Invocation& invocation, const std::string& from, const std::filesystem::path& target,
                  const PackSummary& summary) {
    if (invocation.quiet) return;
    Report("packed " + from + " into " + QuotedPath(target) + " (" + std::to_string(summary.bytes) +
           " bytes): " + Tables(summary.tables));
    for (const TableSummary& table : summary.tables) {
        if (table.cp1251) Report("note: " + table.name + " is not UTF-8 and was read as Windows-1251");
        if (!table.note.empty()) Report("note: " + table.name + ": " + table.note);
    }
}

PackSummary PackWithReport(const Invocation& invocation, InputFolder& in, const std::filesystem::path& target) {
    const SourceComparison comparison = CompareWithSource(in, ManifestKind(in), invocation.asTyped);
    const PackSummary summary = PackToFile(in, target, comparison.comparison.get());
    if (!invocation.quiet) {
        const std::string report = FormatChangeReport(comparison);
        std::fwrite(report.data(), 1, report.size(), stdout);
    } else if (comparison.comparison && !comparison.comparison->Warnings().empty()) {
        Report("warning: " + std::to_string(comparison.comparison->Warnings().size()) +
               " changes look like a spreadsheet's, not an edit; run pack without --quiet to see them");
    }
    return summary;
}

int RunUnpack(const Invocation& invocation) {
    if (invocation.layout == "community") return RunUnpackCommunity(invocation);
    if (!invocation.layout.empty()) throw UsageError("unknown layout \"" + invocation.layout + "\" (known: community)");
    if (IsWorkbookPath(PathFromUtf8(invocation.operands[1])))
        return UnpackToWorkbook(invocation, invocation.operands[0], PathFromUtf8(invocation.operands[1]));
    if (IsArchiveFile(PathFromUtf8(invocation.operands[0]))) return RunUnpackArchive(invocation);
    OpenedDatabase database = OpenDatabase(invocation.operands[0], invocation.kind);
    const std::filesystem::path dir = PathFromUtf8(invocation.operands[1]);
    if (!invocation.force) RefuseEditedTables(dir, database.path);
    DiskOutputFolder out(dir, {database.path});
    return UnpackRecorded(invocation, database, invocation.operands[0], out, dir);
}

int UnpackRecorded(const Invocation& invocation, OpenedDatabase& database, const std::string& source, OutputFolder& out,
                   const std::filesystem::path& to) {
    // The manifest records the source and what was written, for pack's
    // change report and the next unpack's check.
    ChecksummingSource checked(*database.source);
    ProvenanceFolder recorded(out, SourceName(source), &checked);
    const UnpackSummary summary = Unpack(checked, *database.kind, recorded);
    if (!invocation.quiet)
        Report("unpacked " + database.label + " (" + std::string(database.kind->name) + ") into " + QuotedPath(to) +
               ": " + Tables(summary.tables));
    return kExitOk;
}

int RunPack(const Invocation& invocation) {
    if (const std::optional<int> status = TryPackCommunity(invocation)) return *status;
    if (IsWorkbookPath(PathFromUtf8(invocation.operands[0])))
        return PackWorkbook(invocation, PathFromUtf8(invocation.operands[0]), invocation.operands[1]);
    const std::filesystem::path dir = PathFromUtf8(invocation.operands[0]);
    const std::filesystem::path target = PathFromUtf8(invocation.operands[1]);
    const auto member = SplitMemberArgument(invocation.operands[1]);
    PrepareTarget(member ? PathFromUtf8(member->archive) : target);
    if (IsArchiveFolder(dir)) {
        const int status = RunPackArchive(invocation);
        if (status == kExitOk)
            ReportPackReferences(invocation, [&] { return std::optional(LoadSetFromArchive(target)); }, nullptr);
        return status;
    }
    DiskInputFolder in(dir);
    const KindSpec& kind = CheckedKind(invocation, in);
    if (member) {
        const int status = RunPackIntoMember(invocation, *member);
        if (status == kExitOk)
            ReportPackReferences(invocation, [&] { return std::optional(LoadSetFromArchive(PathFromUtf8(member->archive))); }, &kind);
        return status;
    }
    const PackSummary summary = PackWithReport(invocation, in, target);
    RecordPackedSource(dir, invocation.operands[1]);
    ReportPacked(invocation, in.Label(), target, summary);
    ReportPackReferences(invocation, [&] { return SetAroundTables(dir, PackedSource(target, kind)); }, &kind);
    return kExitOk;
}

}  // namespace gamedb::cli
