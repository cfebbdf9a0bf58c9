#include <io.h>

#include <cerrno>

#include "archive/file_ops.h"

namespace resarc {

idb::ScopedFile OpenForUpdate(const std::filesystem::path& path, std::error_code& error) {
    errno = 0;
    // The narrow fopen would squeeze the name through the ANSI code page.
    std::FILE* file = _wfopen(path.c_str(), L"r+b");
    if (!file) error = std::error_code(errno ? errno : EIO, std::generic_category());
    else error.clear();
    return idb::ScopedFile(file);
}

// _chsize_s takes a 64-bit size, so archives past 2 GiB are cut right on 32-bit Windows too.
bool TruncateFile(std::FILE* file, std::uint64_t size) {
    return std::fflush(file) == 0 && _chsize_s(_fileno(file), static_cast<long long>(size)) == 0;
}

bool SyncFile(std::FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

}  // namespace resarc
