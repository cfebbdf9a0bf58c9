// What changing a file in place needs beyond the shared file helpers:
// opening for update, cutting to a size and waiting until the data is on
// the disk. Per system in file_ops_posix.cpp and file_ops_win.cpp; sizes
// and offsets are 64-bit everywhere (32-bit Windows included).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "export/file_io.h"

namespace resarc {

// Opens an existing file to read and write raw bytes, without truncating it.
idb::ScopedFile OpenForUpdate(const std::filesystem::path& path, std::error_code& error);
// Flushes the stream, then sets the file's size (cutting or extending with 00).
bool TruncateFile(std::FILE* file, std::uint64_t size);
// Flushes the stream and asks the system to put the file's data on the disk.
bool SyncFile(std::FILE* file);

}  // namespace resarc
