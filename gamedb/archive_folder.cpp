#include "gamedb/provenance.h"
#include "gamedb/archive_folder.h"

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <system_error>

#include "archive/archive.h"
#include "archive/in_place.h"
#include "archive/cp1251.h"
#include "archive/file_util.h"
#include "export/file_io.h"
#include "gamedb/byte_io.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "gamedb/pack.h"
#include "gamedb/unpack.h"

namespace gamedb {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFormatLine = "gamedb archive 1";
constexpr std::string_view kFileKind = "file";

std::string Utf8Name(const resarc::Entry& entry) { return resarc::Cp1251ToUtf8(entry.name); }

fs::path MemberPath(const fs::path& archive, std::string_view cp1251Name) {
    const fs::path relative = resarc::SafeRelativePath(cp1251Name);
    if (relative.empty()) {
        FailAt(archive, "the member \"" + resarc::Cp1251ToUtf8(cp1251Name) +
                          "\" has a name that cannot be a path inside a folder (an empty part, `..`, a drive, a "
                          "control character, or a character or device name that Windows forbids)");
    }
    return relative;
}

}  // namespace

void CheckMemberPaths(const fs::path& archivePath, std::span<const resarc::Entry* const> entries, bool withRecord) {
    std::map<std::string, std::string> files;     // folded path -> member name
    std::map<std::string, std::string> folders;   // folded folder -> a member inside it
    for (const resarc::Entry* entry : entries) {
        MemberPath(archivePath, entry->name);
        std::string folded = entry->name;
        for (char& c : folded) c = static_cast<char>(resarc::Cp1251Lower(static_cast<unsigned char>(c)));
        const std::string name = Utf8Name(*entry);
        if (withRecord && folded == "~archive.txt")
            FailAt(archivePath, "the member \"" + name + "\" has the name of the folder's own record");
        if (const auto it = files.find(folded); it != files.end()) {
            FailAt(archivePath, "the members \"" + it->second + "\" and \"" + name +
                                  "\" would be the same file (names are one where case is ignored, as on Windows); "
                                  "nothing was written");
        }
        if (const auto it = folders.find(folded); it != folders.end()) {
            FailAt(archivePath, "the member \"" + name + "\" would be the folder of \"" + it->second + "\"");
        }
        files.emplace(folded, name);
        for (std::size_t slash = folded.find('\\'); slash != std::string::npos; slash = folded.find('\\', slash + 1)) {
            const std::string folder = folded.substr(0, slash);
            if (const auto it = files.find(folder); it != files.end()) {
                FailAt(archivePath, "the member \"" + it->second + "\" would be the folder of \"" + name + "\"");
            }
            folders.emplace(folder, name);
        }
    }
}

namespace {

void WriteMember(const resarc::Archive& archive, const resarc::Entry& entry, DiskOutputFolder& out,
                 const fs::path& relative) {
    const std::unique_ptr<TextOutput> file = out.CreateAt(relative);
    archive.Stream(entry, [&file](std::string_view piece) { file->Write(piece); });
    file->Close();
}

// Whether the file holds exactly the bytes of the member.
bool SameContent(const fs::path& file, const resarc::Archive& archive, const resarc::Entry& entry) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    if (error) FailAt(file, "cannot read: " + error.message());
    if (size != entry.size) return false;
    idb::ScopedFile in = idb::OpenForRead(file, error);
    if (!in) FailAt(file, "cannot open: " + error.message());
    bool same = true;
    std::string piece;
    archive.Stream(entry, [&](std::string_view expected) {
        if (!same) return;
        piece.resize(expected.size());
        if (std::fread(piece.data(), 1, piece.size(), in.Get()) != piece.size() || piece != expected) same = false;
    });
    return same;
}

struct ManifestMember {
    std::string name;   // UTF-8
    std::string kind;   // a kind name or "file"
    long long line = 0;
};

struct ArchiveManifest {
    std::string archive;   // UTF-8 path
    std::vector<ManifestMember> members;
};

ArchiveManifest ReadArchiveManifest(InputFolder& in) {
    const std::unique_ptr<ByteSource> source = in.Open(std::string(kArchiveManifestName));
    const std::string label = source->Label();
    std::vector<std::uint8_t> bytes;
    source->ReadInto(bytes, static_cast<std::size_t>(source->Size()), "the archive's record");
    std::string text(bytes.begin(), bytes.end());
    if (text.starts_with(kBom)) text.erase(0, kBom.size());
    const auto failHere = [&label](const std::string& problem) {
        Place place;
        place.file = label;
        throw Error(place, problem);
    };

    ArchiveManifest manifest;
    bool formatSeen = false;
    long long lineNumber = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const auto bad = [&](const std::string& what) {
            Place place;
            place.file = label;
            place.row = lineNumber;
            throw Error(place, what);
        };
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos) bad("expected KEY<Tab>VALUE");
        const std::string key = line.substr(0, tab);
        const std::string value = line.substr(tab + 1);
        if (key == "format") {
            if (value != kFormatLine) bad("unknown format \"" + value + "\", expected \"" + std::string(kFormatLine) + "\"");
            formatSeen = true;
        } else if (key == "archive") {
            manifest.archive = value;
        } else if (key == "member") {
            const std::size_t second = value.find('\t');
            if (second == std::string::npos) bad("expected member<Tab>NAME<Tab>KIND");
            ManifestMember member{value.substr(0, second), value.substr(second + 1), lineNumber};
            if (member.kind != kFileKind && !FindKind(member.kind)) bad("unknown kind \"" + member.kind + "\"");
            manifest.members.push_back(std::move(member));
        } else {
            bad("unknown key \"" + key + "\"");
        }
    }
    if (!formatSeen) failHere("has no format line");
    if (manifest.archive.empty()) failHere("does not say which archive it came from (archive line)");
    return manifest;
}

// Unpacks every database member into a part of `out` and, with `files`,
// writes the other members there as they are; `out` is committed.
ArchiveFolderSummary UnpackArchiveInto(const resarc::Archive& archive, const fs::path& archivePath,
                                       OutputFolder& out, DiskOutputFolder* files) {
    ArchiveFolderSummary summary;
    std::string manifest = "format\t" + std::string(kFormatLine) + "\n";
    manifest += "archive\t" + resarc::PathToUtf8(fs::absolute(archivePath)) + "\n";
    for (const resarc::Entry& entry : archive.Entries()) {
        const fs::path relative = MemberPath(archivePath, entry.name);
        const KindSpec* kind = KindForFileName(entry.name);
        if (kind) {
            const std::string label = "\"" + resarc::PathToUtf8(archivePath) + ":" + Utf8Name(entry) + "\"";
            FileRegionSource source(archivePath, entry.offset, entry.size, label);
            const std::unique_ptr<OutputFolder> part = out.Part(relative);
            ProvenanceFolder recorded(*part, {}, nullptr);
            Unpack(source, *kind, recorded);
            ++summary.databases;
        } else if (files) {
            WriteMember(archive, entry, *files, relative);
            ++summary.files;
        }
        manifest += "member\t" + Utf8Name(entry) + "\t" + (kind ? std::string(kind->name) : std::string(kFileKind)) + "\n";
    }
    const std::unique_ptr<TextOutput> record = out.Create(std::string(kArchiveManifestName));
    record->Write(manifest);
    record->Close();
    out.Commit();
    return summary;
}

}  // namespace

ArchiveFolderSummary UnpackArchive(const fs::path& archivePath, const fs::path& dir, bool force) {
    try {
        const resarc::Archive archive = resarc::Archive::Open(archivePath);
        std::vector<const resarc::Entry*> entries;
        for (const resarc::Entry& entry : archive.Entries()) entries.push_back(&entry);
        CheckMemberPaths(archivePath, entries, true);
        // Tables edited since the last unpack are not replaced unasked.
        if (!force)
            for (const resarc::Entry& entry : archive.Entries())
                if (KindForFileName(entry.name)) RefuseEditedTables(dir / MemberPath(archivePath, entry.name), archivePath);
        // One staged folder for everything: a failure leaves an earlier
        // unpack as it was, its ~archive.txt included.
        DiskOutputFolder out(dir, {archivePath});
        return UnpackArchiveInto(archive, archivePath, out, &out);
    } catch (const resarc::ArchiveError& error) {
        throw Error(Place{}, error.what());
    }
}

ArchiveFolderSummary UnpackArchive(const fs::path& archivePath, OutputFolder& out) {
    try {
        const resarc::Archive archive = resarc::Archive::Open(archivePath);
        std::vector<const resarc::Entry*> entries;
        for (const resarc::Entry& entry : archive.Entries()) entries.push_back(&entry);
        CheckMemberPaths(archivePath, entries, true);
        return UnpackArchiveInto(archive, archivePath, out, nullptr);
    } catch (const resarc::ArchiveError& error) {
        throw Error(Place{}, error.what());
    }
}

void ExtractMembers(const resarc::Archive& archive, const fs::path& archivePath,
                    std::span<const resarc::Entry* const> entries, const fs::path& dir) {
    CheckMemberPaths(archivePath, entries, false);
    DiskOutputFolder out(dir, {archivePath});
    for (const resarc::Entry* entry : entries) WriteMember(archive, *entry, out, MemberPath(archivePath, entry->name));
    out.Commit();
}

std::string RecordedArchive(InputFolder& in) { return ReadArchiveManifest(in).archive; }

bool IsArchiveFolder(const fs::path& dir) {
    std::error_code error;
    return fs::is_regular_file(dir / PathFromUtf8(kArchiveManifestName), error);
}

ArchiveFolderSummary PackArchive(const fs::path& dir, const fs::path& target) {
    DiskInputFolder in(dir);
    return PackArchive(in, target, true);
}

ArchiveFolderSummary PackArchive(InputFolder& in, const fs::path& target, bool filesInFolder) {
    ArchiveFolderSummary summary;
    const ArchiveManifest manifest = ReadArchiveManifest(in);
    const fs::path sourcePath = PathFromUtf8(manifest.archive);
    std::error_code error;
    if (fs::is_directory(target, error)) FailAt(target, "is a folder; expected the archive file to write");
    if (const fs::path record = in.PathOf(std::string(kArchiveManifestName)); !record.empty() && idb::SameFile(record, target)) {
        FailAt(target, "refusing to write the archive over the folder's own record");
    }
    try {
        const resarc::Archive archive = resarc::Archive::Open(sourcePath);
        std::vector<resarc::Edit> edits;
        // The packed databases, removed however the run ends.
        std::deque<RemovedUnlessKept> temporaries;
        for (const ManifestMember& listed : manifest.members) {
            const resarc::Entry* entry = archive.FindUtf8(listed.name);
            if (!entry) FailAt(sourcePath, "has no member \"" + listed.name + "\" any more (listed in " + in.Label() + ")");
            const std::u8string relative = MemberPath(sourcePath, entry->name).generic_u8string();
            const std::string name(relative.begin(), relative.end());
            fs::path content = in.PathOf(name);
            if (listed.kind == kFileKind) {
                // A member that is not in the folder stays as the archive has it.
                if (!filesInFolder) continue;
                if (idb::SameFile(content, target)) {
                    FailAt(target, "refusing to write the archive over one of its own members' files");
                }
            } else {
                if (filesInFolder && !fs::is_directory(content, error))
                    FailAt(content, "is missing: expected the tables of the member \"" + listed.name + "\"");
                const std::unique_ptr<InputFolder> tables = in.Part(name);
                content = temporaries.emplace_back(idb::TemporaryBeside(target)).Path();
                FileSink sink(content);
                Pack(*tables, sink);
                sink.Close();
            }
            if (SameContent(content, archive, *entry)) continue;
            std::uintmax_t size = fs::file_size(content, error);
            if (error) FailAt(content, "cannot read: " + error.message());
            edits.push_back(resarc::Edit{resarc::EditKind::kReplace,
                                         resarc::Member{entry->name, 0, resarc::FileRegion{content, 0, size}}});
            summary.replaced.push_back(Utf8Name(*entry));
            if (listed.kind == kFileKind) ++summary.files;
            else ++summary.databases;
        }
        summary.kept = archive.Entries().size() - summary.replaced.size();
        // Only what changed is written; with nothing changed, an archive
        // packed over itself is not touched.
        resarc::UpdateArchive(sourcePath, target, std::move(edits));
    } catch (const resarc::ArchiveError& archiveError) {
        throw Error(Place{}, archiveError.what());
    }
    return summary;
}

}  // namespace gamedb
