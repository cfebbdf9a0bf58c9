#include "export/file_io.h"

#include <system_error>

namespace idb {

// The standard library compares device and inode here.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) noexcept {
    std::error_code error;
    const bool same = std::filesystem::equivalent(a, b, error);
    return same && !error;
}

// rename() replaces an existing target atomically.
std::error_code ReplaceByTemporary(const std::filesystem::path& temporary, const std::filesystem::path& target) {
    std::error_code error;
    std::filesystem::rename(temporary, target, error);
    return error;
}

}  // namespace idb
