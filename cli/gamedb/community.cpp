// pack and unpack with the community's workbook layout (gamedb/community.h).
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/cp1251.h"
#include "archive/file_util.h"
#include "archive/in_place.h"
#include "cli/gamedb/commands.h"
#include "export/file_io.h"
#include "gamedb/archive_member.h"
#include "gamedb/byte_io.h"
#include "gamedb/community.h"
#include "gamedb/workbook_folder.h"
#include "gamedb/database.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "workbook/workbook.h"

namespace gamedb::cli {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadAll(const fs::path& path) {
    FileRegionSource source(path, 0, UINT64_MAX, QuotedPath(path));
    Bytes bytes;
    source.ReadInto(bytes, static_cast<std::size_t>(source.Size()), "the database");
    return bytes;
}

Bytes AsBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

void RefuseSameFile(const fs::path& input, const fs::path& output) {
    if (!idb::SameFile(input, output)) return;
    Place place;
    place.file = QuotedPath(output);
    throw Error(place, "is the workbook itself; refusing to write over it");
}

void PrintReport(const Invocation& invocation, const std::string& heading, const CommunityPack& pack) {
    if (invocation.quiet || pack.report.empty()) return;
    const std::string text = heading + pack.report;
    std::fwrite(text.data(), 1, text.size(), stdout);
}

std::string Kept(const CommunityPack& pack) {
    return pack.kept == 0 ? std::string() : "; " + std::to_string(pack.kept) + " values kept from it at the workbook's precision";
}

int PackIntoDatabase(const Invocation& invocation, workbook::WorkbookReader& book, const std::string& label) {
    const fs::path target = PathFromUtf8(invocation.operands[1]);
    const KindSpec& kind = KindForArgument(invocation.operands[1], invocation.kind);
    std::error_code error;
    const bool exists = fs::exists(target, error);
    const Bytes base = exists ? ReadAll(target) : Bytes();
    const CommunityPack pack = PackCommunity(book, label, kind, exists ? std::optional(std::span<const std::uint8_t>(base)) : std::nullopt,
                                             QuotedPath(target));
    PrintReport(invocation, "", pack);
    if (!pack.changed) {
        if (!invocation.quiet) Report("packed " + label + " into " + QuotedPath(target) + ": nothing changed; not written" + Kept(pack));
        return kExitOk;
    }
    const RemovedUnlessKept staged(idb::TemporaryBeside(target));
    {
        FileSink sink(staged.Path());
        sink.Write(pack.bytes);
        sink.Close();
    }
    MoveOver(staged.Path(), target);
    if (!invocation.quiet)
        Report("packed " + label + " into " + QuotedPath(target) + " (" + std::string(kind.name) + ", " +
               std::to_string(pack.bytes.size()) + " bytes)" + Kept(pack));
    return kExitOk;
}

int PackIntoArchive(const Invocation& invocation, workbook::WorkbookReader& book, const std::string& label,
                    const std::optional<MemberArgument>& member) {
    const fs::path archivePath = PathFromUtf8(member ? member->archive : invocation.operands[1]);
    const resarc::Archive archive = resarc::Archive::Open(archivePath);
    const std::string archiveName = resarc::PathToUtf8(archivePath);
    std::vector<resarc::Edit> edits;
    std::size_t kept = 0;
    std::vector<std::string> notes;
    // Everything is built before the archive is touched: a bad cell leaves it as it was.
    const auto one = [&](const KindSpec& kind, const resarc::Entry* entry, const std::string& name) {
        const Bytes base = entry ? AsBytes(archive.Read(*entry)) : Bytes();
        const std::string baseLabel = "\"" + archiveName + ":" + (entry ? resarc::Cp1251ToUtf8(entry->name) : name) + "\"";
        const CommunityPack pack = PackCommunity(book, label, kind, entry ? std::optional(std::span<const std::uint8_t>(base)) : std::nullopt, baseLabel);
        PrintReport(invocation, entry && !pack.report.empty() ? "== " + baseLabel + "\n" : std::string(), pack);
        kept += pack.kept;
        if (!pack.changed) return;
        const std::string bytes(pack.bytes.begin(), pack.bytes.end());
        edits.push_back(resarc::Edit{entry ? resarc::EditKind::kReplace : resarc::EditKind::kAdd,
                                     resarc::Member{entry ? entry->name : MemberName(name), resarc::CurrentTime(), bytes}});
    };
    if (member) {
        const KindSpec& kind = KindForArgument(member->member, invocation.kind);
        one(kind, archive.FindUtf8(member->member), member->member);
    } else {
        for (const KindSpec& kind : Kinds()) {
            std::vector<const resarc::Entry*> found;
            for (const resarc::Entry& entry : archive.Entries())
                if (KindForFileName(entry.name) == &kind) found.push_back(&entry);
            if (found.size() > 1)
                throw UsageError(QuotedPath(archivePath) + " holds more than one " + std::string(kind.name) +
                                 " database; name the one to pack into as ARCHIVE:MEMBER:\n" + DatabaseMemberList(archivePath));
            if (found.empty()) notes.push_back("note: " + QuotedPath(archivePath) + " has no " + std::string(kind.name) +
                                               " database; the workbook's " + std::string(kind.name) + " sheets were not packed");
            else one(kind, found.front(), {});
        }
    }
    const std::size_t changed = edits.size();
    const resarc::UpdateResult result = resarc::UpdateArchive(archivePath, archivePath, std::move(edits));
    if (!invocation.quiet) {
        for (const std::string& note : notes) Report(note);
        Report("packed " + label + " into " + QuotedPath(archivePath) + ": " + std::to_string(changed) +
               (changed == 1 ? " database" : " databases") + " changed; " + ChangeSummary(result) +
               (kept ? "; " + std::to_string(kept) + " values kept from the archive at the workbook's precision" : ""));
    }
    return kExitOk;
}

}  // namespace

std::optional<int> TryPackCommunity(const Invocation& invocation) {
    const fs::path bookPath = PathFromUtf8(invocation.operands[0]);
    std::error_code error;
    if (!IsWorkbookPath(bookPath) || !fs::is_regular_file(bookPath, error)) return std::nullopt;
    workbook::WorkbookReader book(bookPath);
    if (!IsCommunityWorkbook(book)) return std::nullopt;
    const std::string label = QuotedPath(bookPath);
    const std::optional<MemberArgument> member = SplitMemberArgument(invocation.operands[1]);
    const fs::path target = PathFromUtf8(member ? member->archive : invocation.operands[1]);
    PrepareTarget(target);
    RefuseSameFile(bookPath, target);
    if (member || IsArchiveFile(target)) return PackIntoArchive(invocation, book, label, member);
    return PackIntoDatabase(invocation, book, label);
}

int RunUnpackCommunity(const Invocation& invocation) {
    const std::string& input = invocation.operands[0];
    const fs::path output = PathFromUtf8(invocation.operands[1]);
    if (!IsWorkbookPath(output)) throw UsageError("--layout community writes a workbook: name it *.xlsx");
    std::vector<Bytes> contents;
    std::vector<CommunitySource> sources;
    fs::path inputFile;
    const auto add = [&](const KindSpec& kind, Bytes bytes, std::string label) {
        contents.push_back(std::move(bytes));
        sources.push_back({&kind, {}, std::move(label)});
    };
    if (const auto member = SplitMemberArgument(input)) {
        inputFile = PathFromUtf8(member->archive);
        OpenedDatabase db = OpenArchiveMember(*member, invocation.kind);
        Bytes bytes;
        db.source->ReadInto(bytes, static_cast<std::size_t>(db.source->Size()), "the database");
        add(*db.kind, std::move(bytes), db.label);
    } else if (IsArchiveFile(PathFromUtf8(input))) {
        inputFile = PathFromUtf8(input);
        const resarc::Archive archive = resarc::Archive::Open(inputFile);
        for (const KindSpec& kind : Kinds()) {
            const resarc::Entry* first = nullptr;
            for (const resarc::Entry& entry : archive.Entries()) {
                if (KindForFileName(entry.name) != &kind) continue;
                if (first)
                    throw UsageError(QuotedPath(inputFile) + " holds more than one " + std::string(kind.name) +
                                     " database; a workbook holds one: unpack one as ARCHIVE:MEMBER");
                first = &entry;
            }
            if (first) add(kind, AsBytes(archive.Read(*first)), "\"" + input + ":" + resarc::Cp1251ToUtf8(first->name) + "\"");
        }
    } else {
        inputFile = PathFromUtf8(input);
        const KindSpec& kind = KindForArgument(input, invocation.kind);
        add(kind, ReadAll(inputFile), QuotedPath(inputFile));
    }
    for (std::size_t i = 0; i < sources.size(); ++i) sources[i].bytes = contents[i];
    PrepareTarget(output);
    if (idb::SameFile(inputFile, output)) {
        Place place;
        place.file = QuotedPath(output);
        throw Error(place, "is the input itself; refusing to write over it");
    }
    const RemovedUnlessKept staged(idb::TemporaryBeside(output));
    fs::remove(staged.Path());
    // The workbook library's own temporary files go beside the output too
    // (on Windows the system's place for them may not be writable).
    std::error_code error;
    WriteCommunityWorkbook(staged.Path(), sources, fs::absolute(output, error).parent_path());
    MoveOver(staged.Path(), output);
    if (!invocation.quiet) {
        std::string kinds;
        for (const CommunitySource& s : sources) kinds += (kinds.empty() ? "" : ", ") + std::string(s.kind->name);
        Report("unpacked " + QuotedPath(inputFile) + " into " + QuotedPath(output) + " (community layout: " +
               (kinds.empty() ? std::string("no databases") : kinds) + ")");
    }
    return kExitOk;
}

}  // namespace gamedb::cli
