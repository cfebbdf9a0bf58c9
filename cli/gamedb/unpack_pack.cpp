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

PackSummary PackWithReport(const Invocation& invocation, const std::filesystem::path& dir,
                           const std::filesystem::path& target) {
    DiskInputFolder in(dir);
    const SourceComparison comparison = CompareWithSource(in, ManifestKind(in), invocation.asTyped);
    const PackSummary summary = PackToFile(dir, target, comparison.comparison.get());
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
    if (IsArchiveFile(PathFromUtf8(invocation.operands[0]))) return RunUnpackArchive(invocation);
    OpenedDatabase database = OpenDatabase(invocation.operands[0], invocation.kind);
    const std::filesystem::path dir = PathFromUtf8(invocation.operands[1]);
    if (!invocation.force) RefuseEditedTables(dir, database.path);
    DiskOutputFolder out(dir, {database.path});
    // The manifest records the source and what was written, for pack's
    // change report and the next unpack's check.
    ChecksummingSource source(*database.source);
    ProvenanceFolder recorded(out, SourceName(invocation.operands[0]), &source);
    const UnpackSummary summary = Unpack(source, *database.kind, recorded);
    if (!invocation.quiet)
        Report("unpacked " + database.label + " (" + std::string(database.kind->name) + ") into " + QuotedPath(dir) +
               ": " + Tables(summary.tables));
    return kExitOk;
}

int RunPack(const Invocation& invocation) {
    if (const std::optional<int> status = TryPackCommunity(invocation)) return *status;
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
    if (member) {
        const int status = RunPackIntoMember(invocation, *member);
        if (status == kExitOk)
            ReportPackReferences(invocation, [&] { return std::optional(LoadSetFromArchive(PathFromUtf8(member->archive))); }, &kind);
        return status;
    }
    const PackSummary summary = PackWithReport(invocation, dir, target);
    RecordPackedSource(dir, invocation.operands[1]);
    if (!invocation.quiet) {
        Report("packed " + QuotedPath(dir) + " into " + QuotedPath(target) + " (" + std::to_string(summary.bytes) +
               " bytes): " + Tables(summary.tables));
        for (const TableSummary& table : summary.tables) {
            if (table.cp1251) Report("note: " + table.name + " is not UTF-8 and was read as Windows-1251");
            if (!table.note.empty()) Report("note: " + table.name + ": " + table.note);
        }
    }
    ReportPackReferences(invocation, [&] { return SetAroundTables(dir, PackedSource(target, kind)); }, &kind);
    return kExitOk;
}

}  // namespace gamedb::cli
