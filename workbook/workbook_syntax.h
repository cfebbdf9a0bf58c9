// Sheet names, cell names and the text escapes as both spreadsheets know them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace workbook {

// Why a workbook cannot hold a sheet of this name, or empty when it can.
std::string SheetNameProblem(std::string_view name);
// Whether two sheet names are one to a spreadsheet: ASCII letters without
// regard to case (the names this program writes are ASCII).
bool SameSheetName(std::string_view a, std::string_view b);
// Parses "AB12" into column 27 and row 11 (from 0); false when it is not a cell name.
bool ParseCellName(std::string_view name, std::uint32_t& column, std::uint32_t& row);

// A character XML cannot carry is written `_xHHHH_` (a UTF-16 unit), and a
// text that holds such a sequence literally escapes its `_` as `_x005F_`.
std::string DecodeEscapes(std::string_view text);
// The text with every literal `_xHHHH_` escaped, so DecodeEscapes gives it back.
std::string EscapeLookalikes(std::string_view text);

}  // namespace workbook
