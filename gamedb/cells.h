// The value syntax of table cells: one field's payload <-> one cell text.
// The same syntax serves unpack, pack and the comparison of databases.
//
// A cell holds the typed value when decoding and re-encoding it gives back
// exactly the stored bytes ("canonical"); otherwise it holds the payload as
// hex after '#', which no typed value starts with.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gamedb/schema.h"

namespace gamedb {

inline constexpr char kHexMarker = '#';

// Appends the cell text of a field's payload: typed when canonical, else
// '#' and hex. Never fails.
void AppendCell(std::string& out, const FieldSpec& field, std::span<const std::uint8_t> payload);
// Whether the payload is canonical for the field's type.
bool IsCanonical(const FieldSpec& field, std::span<const std::uint8_t> payload);

// A cell that cannot be read as its type. `expected` says what was wanted.
struct CellProblem {
    std::string expected;
};

// Appends the payload a cell stands for. Throws CellProblem for a bad cell.
void ParseCell(std::string_view cell, const FieldSpec& field, std::vector<std::uint8_t>& out);

// Spreadsheets save a cell holding '"' as "..." with inner quotes doubled.
// No cell we write starts with '"', so such a cell is undone here; `scratch`
// holds the result when it differs from `cell`. Throws CellProblem when the
// quoting is broken.
std::string_view UnquoteCell(std::string_view cell, std::string& scratch);

// Hex digits, upper case, no separators.
void AppendHex(std::string& out, std::span<const std::uint8_t> bytes);
// Reads contiguous hex digits (either case); false when malformed.
bool ParseHex(std::string_view text, std::vector<std::uint8_t>& out);

// Windows-1251 text <-> UTF-8 cell text with the escapes \\ \t \r \n \xHH \| \; \#
// (and \e for an empty list item). `separators` lists the characters that
// must be escaped in this context besides the backslash and control bytes.
void AppendText(std::string& out, std::span<const std::uint8_t> cp1251, std::string_view separators = {});
// Appends the Windows-1251 bytes of a cell text (no terminator). Throws
// CellProblem for a bad escape or a character Windows-1251 lacks.
void ParseText(std::string_view text, std::vector<std::uint8_t>& out);

// Float bits <-> cell text: shortest round trip, "-0", "inf", "-inf",
// "nan:0xFFFFFFFF" for every NaN.
void AppendFloat(std::string& out, std::uint32_t bits);
// Accepts a decimal comma too. False when the text is not a float.
bool ParseFloat(std::string_view text, std::uint32_t& bits);

}  // namespace gamedb
