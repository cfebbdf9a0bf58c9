// A whole resource archive unpacked into a folder and packed back: every
// member whose name tells a database kind becomes a folder of tables (as
// `unpack` makes for a single database), every other member is extracted as
// it is, and `~archive.txt` records the archive it came from and its
// members in data order. Packing writes a copy of that archive in which
// only the members whose content changed are replaced.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace gamedb {

inline constexpr std::string_view kArchiveManifestName = "~archive.txt";

struct ArchiveFolderSummary {
    std::size_t databases = 0;          // members unpacked into tables
    std::size_t files = 0;              // members extracted as they are
    std::vector<std::string> replaced;  // pack: members written anew (UTF-8 names)
    std::size_t kept = 0;               // pack: members copied unchanged
};

// Unpacks `archive` into `dir`. Throws Error (a damaged archive, a member
// name that would leave the folder, two members on one path, a damaged
// database member); nothing of the archive itself is ever written.
ArchiveFolderSummary UnpackArchive(const std::filesystem::path& archive, const std::filesystem::path& dir);

// Whether `dir` holds an unpacked archive rather than a database.
bool IsArchiveFolder(const std::filesystem::path& dir);

// Writes `target` as a copy of the archive recorded in `dir` with every
// member whose tables or file in `dir` differ from the archive's bytes
// replaced (and given the current time); everything else keeps its bytes,
// times and place (archive/in_place.h). `target` may be the recorded
// archive itself: it is then changed in place, and not written at all when
// nothing changed.
ArchiveFolderSummary PackArchive(const std::filesystem::path& dir, const std::filesystem::path& target);

}  // namespace gamedb
