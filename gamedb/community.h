// The community's database workbooks: one .xlsx holding the eight databases
// as 26 sheets, a title row and a row of `FLDt-e` codes over one row per
// record. Columns are found by their code; the titles are for people.
//
// The layout cannot carry every value exactly (floats are shown with six
// significant digits, -0 as 0, a NaN as the text `nan`, a `,` inside a list
// item as `;`), so packing works against the database the workbook is
// packed into, the base: a cell that shows the base's value as the layout
// would show it keeps the base's bytes, and anything else is an edit that
// lands. What the layout has no place for (unknown fields, repeated ones,
// size forms, shop bits 5-31, the trailer) is kept from the base as well.
//
// Records pair by position when a sheet has as many rows as the base block
// has records, else by their key as `diff` pairs them (the k-th record named
// N with the k-th row named N). A row without a partner is a new record,
// written by the game's rules (every field once in tag order, a `nan` as
// FF FF FF FF); a base record without a row is dropped.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gamedb/schema.h"

namespace workbook {
class WorkbookReader;
}

namespace gamedb {

struct CommunityColumn {
    std::string_view code;   // "FLD22-1"
    std::string_view title;  // "Unk22-1"
};

struct CommunitySheet {
    std::string_view name;   // "Weapons"
    std::string_view kind;   // "items"
    std::uint8_t block;      // the block's tag
    std::span<const CommunityColumn> columns;  // in the sheet's order, from column B
};

// The 26 sheets in the workbook's order.
std::span<const CommunitySheet> CommunitySheets();

// Whether the workbook has the community layout: a sheet of the layout
// whose third row holds column codes.
bool IsCommunityWorkbook(workbook::WorkbookReader& book);

// What packing one kind made.
struct CommunityPack {
    std::vector<std::uint8_t> bytes;   // the new database
    bool changed = false;              // differs from the base (always, without one)
    std::size_t kept = 0;              // values kept from the base that the cells show only roughly
    // The change report: edits against the base, the values kept, notes
    // (lines ending in '\n'; empty when nothing changed).
    std::string report;
};

// Builds the database of `kind` from the workbook's sheets of that kind.
// `base` is the database it is packed into (nullopt: none, the database is
// new); `baseLabel` names it in the report. Throws Error naming the sheet,
// row, column and cell for a sheet or code that is missing and a cell that
// cannot be its type.
CommunityPack PackCommunity(workbook::WorkbookReader& book, const std::string& bookLabel, const KindSpec& kind,
                            std::optional<std::span<const std::uint8_t>> base, const std::string& baseLabel);

// One database to write into a workbook.
struct CommunitySource {
    const KindSpec* kind = nullptr;
    std::span<const std::uint8_t> bytes;
    std::string label;   // for messages
};

// Writes a workbook in the layout to `path` (a new file: the caller stages
// it) from the databases given; the sheets of a kind not given have their
// title and code rows only. Throws Error when a database cannot be read.
void WriteCommunityWorkbook(const std::filesystem::path& path, std::span<const CommunitySource> sources,
                            const std::filesystem::path& tempDir = {});

}  // namespace gamedb
