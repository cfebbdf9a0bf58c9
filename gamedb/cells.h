// The value syntax of table cells: one field's payload <-> one cell text.
// The same syntax serves unpack, pack and the comparison of databases.
//
// A cell holds the typed value when decoding and re-encoding it gives back
// exactly the stored bytes ("canonical"); otherwise it holds the payload as
// hex after '#', which no typed value starts with.
//
// Every cell either stays text in a spreadsheet or is a plain decimal the
// spreadsheet reads back to the same value: raw bytes are written after
// '#', and a text or number a spreadsheet could take for a number, date,
// time, percent, boolean or formula starts with the empty escape \e.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gamedb/schema.h"
#include "gamedb/text_sink.h"

namespace gamedb {

inline constexpr char kHexMarker = '#';
// Keeps a cell text to a spreadsheet; it stands for nothing.
inline constexpr std::string_view kTextMark = "\\e";

// Appends the cell text of a field's payload: typed when canonical, else
// '#' and hex. Never fails.
void AppendCell(std::string& out, const FieldSpec& field, std::span<const std::uint8_t> payload);
void AppendCell(TextSink& out, const FieldSpec& field, std::span<const std::uint8_t> payload);
// Whether the payload is canonical for the field's type.
bool IsCanonical(const FieldSpec& field, std::span<const std::uint8_t> payload);

// A cell that cannot be read as its type. `expected` says what was wanted.
struct CellProblem {
    std::string expected;
    std::size_t part = 0;  // the column of a split field at fault
};

// What the number cells of one table show about its decimal separator. A
// comma followed by exactly three digits ("1,000", "44,375") is a decimal
// comma in a table whose numbers have no decimal point (a spreadsheet in a
// Russian locale saves them so); where other numbers show no decimal comma
// either, the caller says how it read them.
struct NumberStyle {
    bool decimalComma = false;  // a comma that can only be decimal ("0,5", "12,25")
    bool decimalPoint = false;  // a number with '.'
    bool ambiguous = false;     // "1,000" seen and read as 1.0 for now
    bool Refused() const { return ambiguous && decimalPoint; }
    bool NeedsNote() const { return ambiguous && !decimalPoint && !decimalComma; }
};
inline constexpr std::string_view kAmbiguousComma =
    "a number without a comma that could separate thousands: '1,000' could be 1000 or 1.0, and the table's "
    "other numbers have decimal points; write 1000 or 1.0";

// Appends the payload a cell stands for. Throws CellProblem for a bad cell.
// Without `style` a comma that could separate thousands is refused; with it
// the cell is read with a decimal comma and `style` notes it, for the
// caller to refuse at the table's end unless the style settles it.
void ParseCell(std::string_view cell, const FieldSpec& field, std::vector<std::uint8_t>& out,
               NumberStyle* style = nullptr);

// A split field (IsSplit in schema.h) takes ColumnCount cells: appends
// them separated by tabs. A payload that is not canonical goes as '#' and
// hex into the first cell, the others left empty.
void AppendParts(std::string& out, const FieldSpec& field, std::span<const std::uint8_t> payload);
void AppendParts(TextSink& out, const FieldSpec& field, std::span<const std::uint8_t> payload);
// Appends the payload the cells of a split field stand for (already
// unquoted). Throws CellProblem naming the part at fault.
void ParseParts(std::span<const std::string_view> cells, const FieldSpec& field, std::vector<std::uint8_t>& out,
                NumberStyle* style = nullptr);

// Whether a spreadsheet might read this text as something other than text:
// a number, date, time, fraction, percent, currency, boolean or formula, or
// trim its blanks. Errs on the side of yes.
bool MightNotStayText(std::string_view text);

// Spreadsheets save a cell holding '"' as "..." with inner quotes doubled.
// No cell we write starts with '"', so such a cell is undone here; `scratch`
// holds the result when it differs from `cell`. Throws CellProblem when the
// quoting is broken.
// The quoted case, out of line: pack unquotes every cell.
std::string_view UnquoteQuotedCell(std::string_view cell, std::string& scratch);
inline std::string_view UnquoteCell(std::string_view cell, std::string& scratch) {
    return cell.empty() || cell[0] != '"' ? cell : UnquoteQuotedCell(cell, scratch);
}

// Hex digits, upper case, no separators.
void AppendHex(std::string& out, std::span<const std::uint8_t> bytes);
void AppendHex(TextSink& out, std::span<const std::uint8_t> bytes);
// Reads contiguous hex digits (either case); false when malformed.
bool ParseHex(std::string_view text, std::vector<std::uint8_t>& out);

// Windows-1251 text <-> UTF-8 cell text with the escapes \\ \t \r \n \xHH \| \; \#
// (and \e for an empty list item). `separators` lists the characters that
// must be escaped in this context besides the backslash and control bytes.
void AppendText(std::string& out, std::span<const std::uint8_t> cp1251, std::string_view separators = {});
void AppendText(TextSink& out, std::span<const std::uint8_t> cp1251, std::string_view separators = {});
// Appends the Windows-1251 bytes of a cell text (no terminator). Throws
// CellProblem for a bad escape or a character Windows-1251 lacks.
void ParseText(std::string_view text, std::vector<std::uint8_t>& out);

// Float bits <-> cell text: the shortest plain decimal that reads back to
// the same bits when it fits a spreadsheet's display (kMaxPlainFloat
// characters), else \e and the shortest form with an exponent; "\e-0",
// "inf", "\e-inf", "nan:0xFFFFFFFF" for every NaN.
inline constexpr std::size_t kMaxPlainFloat = 11;
void AppendFloat(std::string& out, std::uint32_t bits);
void AppendFloat(TextSink& out, std::uint32_t bits);
// Accepts a decimal comma, blanks around the number, a leading '+' and
// \e. False when the text is not a float, or when a comma could be a
// decimal comma or a thousands separator (1,000).
bool ParseFloat(std::string_view text, std::uint32_t& bits);
// The part of a number cell that holds the number: blanks around it, \e and
// a leading '+' taken off.
std::string_view NumberText(std::string_view cell);
// "1,000", "-12,345": a comma that may be a thousands separator.
bool AmbiguousComma(std::string_view number);

}  // namespace gamedb
