// Databases inside the game's resource archives: `ARCHIVE:MEMBER` arguments
// and archives recognised by their first bytes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "gamedb/database.h"

namespace gamedb {

// Whether the file starts with the archive signature (databases start with
// 01, so the two never mix up).
bool IsArchiveFile(const std::filesystem::path& path);

struct MemberArgument {
    std::string archive;   // UTF-8 path
    std::string member;    // UTF-8 member name
};

// `ARCHIVE:MEMBER` split at its last colon, when `arg` is not itself an
// existing file and the part before the colon is one. A drive letter
// (`C:\...`) is never taken for the separator.
std::optional<MemberArgument> SplitMemberArgument(std::string_view arg);

// Opens the member as a database read in place from the archive; the kind
// is `kindName` when given, else it comes from the member's name. Throws
// Error when the archive is damaged or has no such member.
OpenedDatabase OpenArchiveMember(const MemberArgument& arg, std::string_view kindName);

// The archive's members whose names tell a database kind, as UTF-8, one
// per line after two spaces; for messages asking to pick one.
std::string DatabaseMemberList(const std::filesystem::path& archive);

}  // namespace gamedb
