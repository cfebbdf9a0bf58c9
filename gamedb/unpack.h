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
// Tab-separated tables open in a spreadsheet's text import; pack also reads
// the ".txt" tables of format 1, where an array or nested record was one cell.
inline constexpr std::string_view kTableExtension = ".tsv";
inline constexpr int kTableFormat = 2;
// How unpack writes a table's text: UTF-8 with a byte-order mark (so that
// spreadsheets know the encoding), CR LF line ends.
inline constexpr std::string_view kBom = "\xEF\xBB\xBF";
inline constexpr std::string_view kNewline = "\r\n";

struct TableSummary {
    std::string name;        // file name, e.g. "weapons.tsv"
    long long rows = 0;
    bool cp1251 = false;     // pack read the table as Windows-1251 (not UTF-8)
    std::string note;        // how pack read what could be read two ways
};

struct UnpackSummary {
    std::vector<TableSummary> tables;
    std::uint64_t bytes = 0;
};

// Reads the whole database and writes its tables; commits the folder only
// when everything was read. Throws Error naming file, block, record, field
// and offset.
UnpackSummary Unpack(ByteSource& database, const KindSpec& kind, OutputFolder& out);

// The table file name of a block: "<name>.tsv", "block<tag>.tsv" when the
// schema does not know the tag.
std::string TableName(const KindSpec& kind, std::uint8_t blockTag);

}  // namespace gamedb
