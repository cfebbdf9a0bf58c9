#include <cstdio>
#include <cstring>
#include <cerrno>

#include "gamedb/error.h"
#include "gamedb/folder.h"

namespace gamedb {

void MoveOver(const std::filesystem::path& source, const std::filesystem::path& target) {
    // rename() replaces the target in one step; readers see the old or the new file.
    if (std::rename(source.c_str(), target.c_str()) != 0) {
        const int code = errno;
        Place place;
        place.file = QuotedPath(target);
        throw Error(place, "cannot replace it with " + QuotedPath(source) + ": " + std::strerror(code));
    }
}

}  // namespace gamedb
