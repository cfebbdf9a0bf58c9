// Whether two paths name one file, judged by the file system's identity of
// the file (device and inode, or volume serial and file index), not by name:
// hard links, symbolic links and other spellings of a path are caught too.
#pragma once

#include <filesystem>

namespace idb {

// False when either path does not name an existing file or cannot be examined.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) noexcept;

}  // namespace idb
