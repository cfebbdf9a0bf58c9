// A whole resource archive unpacked into a folder and packed back: every
// member whose name tells a database kind becomes a folder of tables (as
// `unpack` makes for a single database), every other member is extracted as
// it is, and `~archive.txt` records the archive it came from and its
// members in data order. Packing writes a copy of that archive in which
// only the members whose content changed are replaced.
#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace resarc {
class Archive;
struct Entry;
}  // namespace resarc

namespace gamedb {

class InputFolder;
class OutputFolder;

inline constexpr std::string_view kArchiveManifestName = "~archive.txt";

struct ArchiveFolderSummary {
    std::size_t databases = 0;          // members unpacked into tables
    std::size_t files = 0;              // members extracted as they are
    std::vector<std::string> replaced;  // pack: members written anew (UTF-8 names)
    std::size_t kept = 0;               // pack: members copied unchanged
};

// Refuses members that could not all be written into one folder: a name
// that is no path inside it, two names that would be one file where case is
// ignored (refused on every system, so that the folder can go to Windows),
// a member on another's folder; with `withRecord`, the name of the folder's
// own record (~archive.txt).
void CheckMemberPaths(const std::filesystem::path& archivePath, std::span<const resarc::Entry* const> entries,
                      bool withRecord);

// Writes the members as they are into `dir` (res extract), all or nothing:
// after a failure `dir` is as it was.
void ExtractMembers(const resarc::Archive& archive, const std::filesystem::path& archivePath,
                    std::span<const resarc::Entry* const> entries, const std::filesystem::path& dir);

// Unpacks `archive` into `dir`, all or nothing. Throws Error (a damaged archive, a member
// name that would leave the folder, two members on one path, a damaged
// database member, without `force` a database folder whose tables were
// edited since they were unpacked); nothing of the archive itself is ever
// written.
ArchiveFolderSummary UnpackArchive(const std::filesystem::path& archive, const std::filesystem::path& dir,
                                   bool force = false);

// Unpacks the databases of `archive` into parts of `out` (a workbook) and
// commits it; the other members are only listed in the record: they stay
// in the archive, and packing takes them from there.
ArchiveFolderSummary UnpackArchive(const std::filesystem::path& archive, OutputFolder& out);

// The archive a folder (or workbook) with an archive's record was unpacked
// from, as the record names it (UTF-8). Throws Error for a bad record.
std::string RecordedArchive(InputFolder& in);

// Whether `dir` holds an unpacked archive rather than a database.
bool IsArchiveFolder(const std::filesystem::path& dir);

// Writes `target` as a copy of the archive recorded in `dir` with every
// member whose tables or file in `dir` differ from the archive's bytes
// replaced (and given the current time); everything else keeps its bytes,
// times and place (archive/in_place.h). `target` may be the recorded
// archive itself: it is then changed in place, and not written at all when
// nothing changed.
ArchiveFolderSummary PackArchive(const std::filesystem::path& dir, const std::filesystem::path& target);
// The same from any folder; without `filesInFolder` the members that are
// no databases are not in it and are kept as the archive has them.
ArchiveFolderSummary PackArchive(InputFolder& in, const std::filesystem::path& target, bool filesInFolder);

}  // namespace gamedb
