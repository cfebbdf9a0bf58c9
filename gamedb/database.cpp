#include "gamedb/database.h"

#include "gamedb/adb.h"
#include "gamedb/archive_member.h"
#include "gamedb/error.h"

namespace gamedb {
namespace {

std::string KindList() {
    std::string list;
    for (const KindSpec& kind : Kinds()) {
        if (!list.empty()) list += ", ";
        list += std::string(kind.name) + " (" + std::string(kind.filePattern) + ")";
    }
    list += ", " + std::string(AnimKind().name) + " (" + std::string(AnimKind().filePattern) + ")";
    return list;
}

}  // namespace

const KindSpec& KindForArgument(std::string_view arg, std::string_view kindName) {
    if (!kindName.empty()) {
        if (const KindSpec* kind = FindKind(kindName)) return *kind;
        throw UsageError("unknown kind '" + std::string(kindName) + "'; the kinds are " + KindList());
    }
    if (const KindSpec* kind = KindForFileName(arg)) return *kind;
    throw UsageError("cannot tell the kind of database from the name \"" + std::string(arg) +
                     "\"; give --kind (" + KindList() + ")");
}

OpenedDatabase OpenDatabase(std::string_view arg, std::string_view kindName) {
    if (const std::optional<MemberArgument> member = SplitMemberArgument(arg)) {
        return OpenArchiveMember(*member, kindName);
    }
    if (IsArchiveFile(PathFromUtf8(arg))) {
        const std::string members = DatabaseMemberList(PathFromUtf8(arg));
        throw UsageError("\"" + std::string(arg) + "\" is an archive; name a database in it as ARCHIVE:MEMBER" +
                         (members.empty() ? std::string(" (it holds none)") : ", one of:\n" + members.substr(0, members.size() - 1)));
    }
    OpenedDatabase opened;
    opened.kind = &KindForArgument(arg, kindName);
    opened.path = PathFromUtf8(arg);
    opened.label = QuotedPath(opened.path);
    opened.source = std::make_unique<FileRegionSource>(opened.path, 0, UINT64_MAX, opened.label);
    return opened;
}

}  // namespace gamedb
