#include "export/file_io.h"

#include <system_error>

namespace idb {

// The standard library compares device and inode here.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) noexcept {
    std::error_code error;
    const bool same = std::filesystem::equivalent(a, b, error);
    return same && !error;
}

}  // namespace idb
