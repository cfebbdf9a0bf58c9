#include "cli/archive_input.h"

#include <vector>

#include "archive/archive.h"
#include "archive/cp1251.h"
#include "archive/file_util.h"
#include "export/idb_reader.h"

namespace idb {

namespace {

bool IsItemsName(std::string_view name) {
    if (name.size() < 4) return false;
    std::string tail(name.substr(name.size() - 4));
    for (char& c : tail) c = static_cast<char>(resarc::AsciiLower(static_cast<unsigned char>(c)));
    return tail == ".idb";
}

}  // namespace

ArchiveInput ResolveArchiveInput(std::string_view arg) {
    ArchiveInput input;
    std::string memberName;
    if (const std::optional<resarc::MemberArgument> split = resarc::SplitMemberArgument(arg)) {
        input.path = resarc::PathFromUtf8(split->archive);
        memberName = split->member;
    } else if (resarc::IsArchiveFile(resarc::PathFromUtf8(arg))) {
        input.path = resarc::PathFromUtf8(arg);
    } else {
        return input;
    }
    input.inArchive = true;
    const std::string archiveName = "\"" + resarc::PathToUtf8(input.path) + "\"";
    try {
        const resarc::Archive archive = resarc::Archive::Open(input.path);
        const resarc::Entry* entry = nullptr;
        if (!memberName.empty()) {
            entry = archive.FindUtf8(memberName);
            if (!entry) {
                input.problem = "the archive " + archiveName + " has no member \"" + memberName + "\"";
                return input;
            }
        } else {
            std::vector<const resarc::Entry*> found;
            for (const resarc::Entry& candidate : archive.Entries()) {
                if (IsItemsName(candidate.name)) found.push_back(&candidate);
            }
            if (found.empty()) {
                input.problem = "the archive " + archiveName + " has no items database (no *.idb member)";
                return input;
            }
            if (found.size() > 1) {
                input.problem = "the archive " + archiveName + " holds several items databases:";
                for (const resarc::Entry* candidate : found) input.problem += " \"" + resarc::Cp1251ToUtf8(candidate->name) + "\"";
                input.problem += "; name one as ARCHIVE:MEMBER, e.g. " + archiveName.substr(0, archiveName.size() - 1) +
                                 ":" + resarc::Cp1251ToUtf8(found[0]->name) + "\"";
                return input;
            }
            entry = found[0];
        }
        input.region.offset = entry->offset;
        input.region.length = entry->size;
        input.region.label = archiveName.substr(0, archiveName.size() - 1) + ":" + resarc::Cp1251ToUtf8(entry->name) + "\"";
    } catch (const resarc::ArchiveError& error) {
        input.problem = error.what();
    }
    return input;
}

}  // namespace idb
