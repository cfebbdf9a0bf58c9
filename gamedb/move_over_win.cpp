#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "gamedb/error.h"
#include "gamedb/folder.h"

namespace gamedb {

void MoveOver(const std::filesystem::path& source, const std::filesystem::path& target) {
    // _wrename fails when the target exists; MoveFileExW replaces it.
    if (!MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        Place place;
        place.file = QuotedPath(target);
        throw Error(place, "cannot replace it with " + QuotedPath(source) + ": system error " + std::to_string(code));
    }
}

}  // namespace gamedb
