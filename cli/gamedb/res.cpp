// The archive commands (`res ...`), and unpack and pack of a whole archive.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "archive/archive.h"
#include "archive/fresh_layout.h"
#include "archive/in_place.h"
#include "archive/cp1251.h"
#include "archive/file_util.h"
#include "cli/gamedb/commands.h"
#include "export/file_io.h"
#include "gamedb/archive_folder.h"
#include "gamedb/byte_io.h"
#include "gamedb/database.h"
#include "gamedb/folder.h"
#include "gamedb/pack.h"
#include "gamedb/provenance.h"

namespace gamedb::cli {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& utf8) { return "\"" + utf8 + "\""; }

}  // namespace

std::string MemberName(const std::string& utf8) {
    std::optional<std::string> name = resarc::Utf8ToCp1251(utf8);
    if (!name) throw UsageError("the member name " + Quoted(utf8) + " has characters that Windows-1251 cannot hold");
    for (char& c : *name) {
        if (c == '/') c = '\\';
    }
    if (name->empty()) throw UsageError("a member name cannot be empty");
    return *name;
}

namespace {

// The name a FILE operand gets in the archive: the path as given, without
// leading `./`; a path that leaves the current folder needs --as.
std::string NameForFile(const std::string& utf8Path) {
    const fs::path relative = fs::path(PathFromUtf8(utf8Path)).lexically_normal();
    bool safe = !relative.empty() && relative.is_relative() && !relative.has_root_name();
    for (const fs::path& part : relative) safe = safe && part != ".." && part != ".";
    if (!safe || !relative.has_filename()) {
        throw UsageError("cannot make a member name of " + Quoted(utf8Path) +
                         " (it leaves the current folder); give the name with --as");
    }
    std::string utf8 = resarc::PathToUtf8(relative.generic_u8string());
    return MemberName(utf8);
}

// "no holes" or "3 holes hold 10412 bytes (res compact drops them)".
std::string HoleSummary(const resarc::Archive& archive) {
    const std::vector<resarc::Hole> holes = archive.Holes();
    if (holes.empty()) return "no holes";
    std::uint64_t bytes = 0;
    for (const resarc::Hole& hole : holes) bytes += hole.length;
    return std::to_string(holes.size()) + (holes.size() == 1 ? " hole holds " : " holes hold ") +
           std::to_string(bytes) + " bytes (res compact drops them)";
}

}  // namespace

std::string ChangeSummary(const resarc::UpdateResult& result) {
    if (!result.written) return "nothing changed (the same bytes); the archive was not written";
    std::string text;
    for (const std::string& name : result.moved) {
        text += (text.empty() ? "" : ", ") + Quoted(resarc::Cp1251ToUtf8(name));
    }
    if (!text.empty()) text = "; written after the last member: " + text;
    if (result.tableRebuilt) text += "; the table was rebuilt (the number of members changed)";
    return "other members kept in place" + text;
}

namespace {

int List(const Invocation& invocation) {
    const resarc::Archive archive = resarc::Archive::Open(PathFromUtf8(invocation.operands[1]));
    std::string text;
    for (const resarc::Entry& entry : archive.Entries()) {
        std::string name = resarc::Cp1251ToUtf8(entry.name);
        // A control character in a name must not reach the terminal as such.
        for (char& c : name) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
        }
        char size[24];
        std::snprintf(size, sizeof size, "%12u", entry.size);
        text += std::string(size) + "  " + resarc::FormatTime(entry.time) + "  " + name + "\n";
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (StdoutFailed("the list")) return kExitFailure;
    if (!invocation.quiet)
        Report(std::to_string(archive.Entries().size()) + " members in " + Quoted(archive.DisplayName()) + "; " +
               HoleSummary(archive));
    return kExitOk;
}

int Extract(const Invocation& invocation) {
    if (invocation.output.empty()) throw UsageError("res extract needs -o DIR");
    const fs::path archivePath = PathFromUtf8(invocation.operands[1]);
    const resarc::Archive archive = resarc::Archive::Open(archivePath);
    std::vector<const resarc::Entry*> chosen;
    if (invocation.operands.size() == 2) {
        for (const resarc::Entry& entry : archive.Entries()) chosen.push_back(&entry);
    }
    for (std::size_t i = 2; i < invocation.operands.size(); ++i) {
        const resarc::Entry* entry = archive.FindUtf8(invocation.operands[i]);
        if (!entry) {
            throw resarc::ArchiveError("archive " + Quoted(archive.DisplayName()) + ": no member " +
                                       Quoted(invocation.operands[i]));
        }
        // A member named twice is written once.
        if (std::find(chosen.begin(), chosen.end(), entry) == chosen.end()) chosen.push_back(entry);
    }
    ExtractMembers(archive, archivePath, chosen, PathFromUtf8(invocation.output));
    if (!invocation.quiet) {
        Report("extracted " + std::to_string(chosen.size()) + " members of " + Quoted(archive.DisplayName()) +
               " into " + Quoted(invocation.output));
    }
    return kExitOk;
}

// create writes a new archive; add, replace and remove change the archive
// in place (archive/in_place.h), so a failure leaves it as it was.
int Change(const Invocation& invocation) {
    const std::string& verb = invocation.operands[0];
    const fs::path archivePath = PathFromUtf8(invocation.operands[1]);
    const std::string& label = invocation.operands[1];
    PrepareTarget(archivePath);
    if (verb == "create") {
        if (!invocation.as.empty()) throw UsageError("--as goes with res add and res replace");
        std::vector<resarc::Member> members;
        for (std::size_t i = 2; i < invocation.operands.size(); ++i) {
            const std::string& file = invocation.operands[i];
            resarc::AddMember(members, resarc::MemberFromFile(PathFromUtf8(file), NameForFile(file)), label);
        }
        resarc::WriteArchive(archivePath, members);
        if (!invocation.quiet) Report("created " + Quoted(label) + ": " + std::to_string(members.size()) + " members now");
        return kExitOk;
    }
    const std::string& operand = invocation.operands[2];
    resarc::Edit edit;
    if (verb == "remove") {
        if (!invocation.as.empty()) throw UsageError("--as goes with res add and res replace");
        edit = resarc::Edit{resarc::EditKind::kRemove, resarc::Member{MemberName(operand), 0, std::string()}};
    } else {
        const std::string name = invocation.as.empty() ? NameForFile(operand) : MemberName(invocation.as);
        if (idb::SameFile(PathFromUtf8(operand), archivePath)) {
            throw UsageError("refusing to put the archive " + Quoted(label) + " into itself");
        }
        edit = resarc::Edit{verb == "add" ? resarc::EditKind::kAdd : resarc::EditKind::kReplace,
                            resarc::MemberFromFile(PathFromUtf8(operand), name)};
    }
    std::vector<resarc::Edit> edits;
    edits.push_back(std::move(edit));
    const resarc::UpdateResult result = resarc::UpdateArchive(archivePath, archivePath, std::move(edits));
    if (!invocation.quiet) {
        const std::size_t count = resarc::Archive::Open(archivePath).Entries().size();
        Report((verb == "remove" ? "removed from " : verb == "add" ? "added to " : "replaced in ") + Quoted(label) +
               ": " + std::to_string(count) + " members now; " + ChangeSummary(result));
    }
    return kExitOk;
}

// A fresh archive by the recipe: holes dropped, members in name order.
int Compact(const Invocation& invocation) {
    const fs::path archivePath = PathFromUtf8(invocation.operands[1]);
    const resarc::Archive archive = resarc::Archive::Open(archivePath);
    std::vector<resarc::Member> members = archive.Members();
    resarc::SortByName(members);
    const std::string holes = HoleSummary(archive);
    const std::uint64_t before = archive.FileSize();
    resarc::WriteArchive(archivePath, members);
    if (!invocation.quiet) {
        Report("compacted " + Quoted(invocation.operands[1]) + ": " + std::to_string(members.size()) +
               " members in name order, " + std::to_string(before) + " -> " +
               std::to_string(fs::file_size(archivePath)) + " bytes (before: " + holes + ")");
    }
    return kExitOk;
}

}  // namespace

std::string ResUsage() {
    return "\nArchive commands (names are shown and taken as UTF-8; `/` may stand for `\\`):\n"
           "  res list ARCHIVE                    size, time (UTC) and name of every member\n"
           "  res extract ARCHIVE [MEMBER...] -o DIR\n"
           "                                      write the members (all by default) into DIR\n"
           "  res add ARCHIVE FILE [--as NAME]    add FILE as a new member\n"
           "  res replace ARCHIVE FILE [--as NAME]\n"
           "                                      replace the member of that name by FILE\n"
           "  res remove ARCHIVE MEMBER           remove a member\n"
           "  res create ARCHIVE FILE...          write a new archive of the FILEs\n"
           "  res compact ARCHIVE                 rewrite it fresh: holes dropped, members in name order\n"
           "unpack and pack take an archive too: unpack ARCHIVE OUTDIR, pack DIR ARCHIVE;\n"
           "unpack, pack, check and diff take ARCHIVE:MEMBER wherever they take a database.\n";
}

int RunRes(const Invocation& invocation) {
    const std::string& verb = invocation.operands[0];
    const std::size_t count = invocation.operands.size();
    if (verb == "list" && count == 2) return List(invocation);
    if (verb == "extract" && count >= 2) return Extract(invocation);
    if ((verb == "add" || verb == "replace" || verb == "remove") && count == 3) return Change(invocation);
    if (verb == "create" && count >= 2) return Change(invocation);
    if (verb == "compact" && count == 2) return Compact(invocation);
    throw UsageError("usage: gamedb res list|extract|add|replace|remove|create|compact ARCHIVE ... (see gamedb --help)");
}

int RunUnpackArchive(const Invocation& invocation) {
    const fs::path dir = PathFromUtf8(invocation.operands[1]);
    const ArchiveFolderSummary summary = UnpackArchive(PathFromUtf8(invocation.operands[0]), dir, invocation.force);
    if (!invocation.quiet) {
        Report("unpacked " + Quoted(invocation.operands[0]) + " into " + Quoted(invocation.operands[1]) + ": " +
               std::to_string(summary.databases) + " databases as tables, " + std::to_string(summary.files) +
               " other members as files");
    }
    return kExitOk;
}

int RunPackIntoMember(const Invocation& invocation, const resarc::MemberArgument& member) {
    DiskInputFolder in(PathFromUtf8(invocation.operands[0]));
    const int status = PackIntoMember(invocation, in, member);
    RecordPackedSource(PathFromUtf8(invocation.operands[0]), invocation.operands[1]);
    return status;
}

int PackIntoMember(const Invocation& invocation, InputFolder& in, const resarc::MemberArgument& member) {
    const fs::path archivePath = PathFromUtf8(member.archive);
    // The database is packed beside the archive first; a bad table stops
    // the run before the archive is touched.
    const RemovedUnlessKept temporary(idb::TemporaryBeside(archivePath));
    const fs::path& packed = temporary.Path();
    const PackSummary summary = PackWithReport(invocation, in, packed);
    std::vector<resarc::Edit> edits;
    edits.push_back(resarc::Edit{resarc::EditKind::kReplace, resarc::MemberFromFile(packed, MemberName(member.member))});
    const resarc::UpdateResult result = resarc::UpdateArchive(archivePath, archivePath, std::move(edits));
    if (!invocation.quiet) {
        Report("packed " + Quoted(invocation.operands[0]) + " into " + Quoted(invocation.operands[1]) + " (" +
               std::to_string(summary.bytes) + " bytes); " + ChangeSummary(result));
    }
    return kExitOk;
}

int RunPackArchive(const Invocation& invocation) {
    return ReportPackedArchive(invocation, PackArchive(PathFromUtf8(invocation.operands[0]), PathFromUtf8(invocation.operands[1])));
}

int ReportPackedArchive(const Invocation& invocation, const ArchiveFolderSummary& summary) {
    if (!invocation.quiet) {
        std::string replaced;
        for (const std::string& name : summary.replaced) replaced += (replaced.empty() ? "" : ", ") + Quoted(name);
        Report("packed " + Quoted(invocation.operands[0]) + " into " + Quoted(invocation.operands[1]) + ": " +
               (replaced.empty() ? std::string("nothing changed") : "replaced " + replaced) + "; " +
               std::to_string(summary.kept) + " members unchanged");
    }
    return kExitOk;
}

}  // namespace gamedb::cli
