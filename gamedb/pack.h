// Folder of tables and manifest.txt -> database. At most one block is held
// in memory; the file node's size is patched in at the end.
#pragma once

#include <cstdint>
#include <filesystem>

#include "gamedb/byte_io.h"
#include "gamedb/folder.h"
#include "gamedb/unpack.h"

namespace gamedb {

struct PackSummary {
    std::vector<TableSummary> tables;
    std::uint64_t bytes = 0;
};

// Writes the database to `out`. Throws Error naming table, row, column, the
// cell and what was expected; `out` then holds a partial database.
PackSummary Pack(InputFolder& in, ByteSink& out);

// Packs `dir` into `target` through a temporary file beside it, renamed over
// the target only on success. Refuses a target that is one of the folder's
// own files.
PackSummary PackToFile(const std::filesystem::path& dir, const std::filesystem::path& target);

}  // namespace gamedb
