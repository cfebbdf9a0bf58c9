// Database -> folder of tables (one per block) and manifest.txt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gamedb/byte_io.h"
#include "gamedb/folder.h"
#include "gamedb/schema.h"

namespace gamedb {

inline constexpr std::string_view kManifestName = "manifest.txt";
inline constexpr std::string_view kTrailerFileName = "trailer.bin";
inline constexpr std::string_view kExtraColumn = "~extra";

struct TableSummary {
    std::string name;        // file name, e.g. "weapons.txt"
    long long rows = 0;
};

struct UnpackSummary {
    std::vector<TableSummary> tables;
    std::uint64_t bytes = 0;
};

// Reads the whole database and writes its tables; commits the folder only
// when everything was read. Throws Error naming file, block, record, field
// and offset.
UnpackSummary Unpack(ByteSource& database, const KindSpec& kind, OutputFolder& out);

// The table file name of a block: "<name>.txt", "block<tag>.txt" when the
// schema does not know the tag.
std::string TableName(const KindSpec& kind, std::uint8_t blockTag);

}  // namespace gamedb
