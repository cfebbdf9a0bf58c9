// idb2txt's DATABASE when it is an archive (its one *.idb member) or
// ARCHIVE:MEMBER: the member is converted in place.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "shell/conversion_run.h"

namespace idb {

struct ArchiveInput {
    bool inArchive = false;        // the argument named an archive or a member
    std::string problem;           // set: nothing to convert, say this (exit 2)
    std::filesystem::path path;    // the archive
    DatabaseRegion region;         // the member in it, with its label
};

// `inArchive` stays false for an ordinary file (or one that is missing).
ArchiveInput ResolveArchiveInput(std::string_view arg);

}  // namespace idb
