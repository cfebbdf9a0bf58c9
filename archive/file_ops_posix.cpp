#include <unistd.h>

#include <cerrno>

#include "archive/file_ops.h"

namespace resarc {

idb::ScopedFile OpenForUpdate(const std::filesystem::path& path, std::error_code& error) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    if (!file) error = std::error_code(errno ? errno : EIO, std::generic_category());
    else error.clear();
    return idb::ScopedFile(file);
}

bool TruncateFile(std::FILE* file, std::uint64_t size) {
    return std::fflush(file) == 0 && ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

bool SyncFile(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

}  // namespace resarc
