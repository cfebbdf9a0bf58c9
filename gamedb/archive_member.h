// Databases inside the game's resource archives: `ARCHIVE:MEMBER` arguments
// and archives recognised by their first bytes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "archive/archive.h"
#include "gamedb/database.h"

namespace gamedb {

using resarc::IsArchiveFile;
using resarc::MemberArgument;
using resarc::SplitMemberArgument;

// Opens the member as a database read in place from the archive; the kind
// is `kindName` when given, else it comes from the member's name. Throws
// Error when the archive is damaged or has no such member.
OpenedDatabase OpenArchiveMember(const MemberArgument& arg, std::string_view kindName);

// The archive's members whose names tell a database kind, as UTF-8, one
// per line after two spaces; for messages asking to pick one.
std::string DatabaseMemberList(const std::filesystem::path& archive);

}  // namespace gamedb
