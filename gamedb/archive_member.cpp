#include "gamedb/archive_member.h"

#include <system_error>

#include "archive/archive.h"
#include "archive/cp1251.h"
#include "export/file_io.h"
#include "gamedb/byte_io.h"
#include "gamedb/error.h"

namespace gamedb {

namespace {

[[noreturn]] void Rethrow(const resarc::ArchiveError& error) { throw Error(Place{}, error.what()); }

}  // namespace

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
