// The per-system halves behind file_io.h (file_io_posix.cpp, file_io_win.cpp).
#pragma once

#include <filesystem>
#include <system_error>

#include "export/file_io.h"

namespace idb::system {

unsigned long CurrentProcess();
bool ProcessRunning(unsigned long process);
// A regular file (not a link) that the current user owns.
bool OwnedRegularFile(const std::filesystem::path& path);
// A new file for writing; fails with std::errc::file_exists when the name is taken.
ScopedFile CreateNew(const std::filesystem::path& path, std::error_code& error);
// One-step rename over an existing target.
std::error_code Rename(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace idb::system
