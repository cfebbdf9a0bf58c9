#include "gamedb/archive_member.h"

#include <system_error>

#include "archive/archive.h"
#include "archive/cp1251.h"
#include "export/file_io.h"
#include "gamedb/byte_io.h"
#include "gamedb/error.h"

namespace gamedb {

namespace {

bool IsRegularFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

[[noreturn]] void Rethrow(const resarc::ArchiveError& error) { throw Error(Place{}, error.what()); }

}  // namespace

bool IsArchiveFile(const std::filesystem::path& path) {
    std::error_code error;
    idb::ScopedFile file = idb::OpenForRead(path, error);
    unsigned char magic[4] = {};
    return file && std::fread(magic, 1, 4, file.Get()) == 4 && magic[0] == 0x3C && magic[1] == 0xE2 &&
           magic[2] == 0x9C && magic[3] == 0x01;
}

std::optional<MemberArgument> SplitMemberArgument(std::string_view arg) {
    if (IsRegularFile(PathFromUtf8(arg))) return std::nullopt;
    const std::size_t colon = arg.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == arg.size()) return std::nullopt;
    const bool driveLetter = colon == 1 && ((arg[0] >= 'A' && arg[0] <= 'Z') || (arg[0] >= 'a' && arg[0] <= 'z'));
    if (driveLetter) return std::nullopt;
    MemberArgument split{std::string(arg.substr(0, colon)), std::string(arg.substr(colon + 1))};
    if (!IsRegularFile(PathFromUtf8(split.archive))) return std::nullopt;
    return split;
}

OpenedDatabase OpenArchiveMember(const MemberArgument& arg, std::string_view kindName) {
    const std::filesystem::path path = PathFromUtf8(arg.archive);
    try {
        const resarc::Archive archive = resarc::Archive::Open(path);
        const resarc::Entry* entry = archive.FindUtf8(arg.member);
        if (!entry) {
            Place place;
            place.file = QuotedPath(path);
            throw Error(place, "the archive has no member \"" + arg.member + "\"");
        }
        OpenedDatabase opened;
        opened.kind = &KindForArgument(resarc::Cp1251ToUtf8(entry->name), kindName);
        opened.path = path;
        opened.label = "\"" + arg.archive + ":" + resarc::Cp1251ToUtf8(entry->name) + "\"";
        opened.source = std::make_unique<FileRegionSource>(path, entry->offset, entry->size, opened.label);
        return opened;
    } catch (const resarc::ArchiveError& error) {
        Rethrow(error);
    }
}

std::string DatabaseMemberList(const std::filesystem::path& path) {
    try {
        const resarc::Archive archive = resarc::Archive::Open(path);
        std::string list;
        for (const resarc::Entry& entry : archive.Entries()) {
            if (KindForFileName(entry.name)) list += "  " + resarc::Cp1251ToUtf8(entry.name) + "\n";
        }
        return list;
    } catch (const resarc::ArchiveError& error) {
        Rethrow(error);
    }
}

}  // namespace gamedb
