// Tab-separated table files and the number-to-text rules of their cells.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "export/file_io.h"

namespace idb {

// Ends every cell and joins the titles of a header line.
inline constexpr std::string_view ColumnDelimiter = "\t";

// Decimal digits, a minus sign for negatives.
std::string FormatLong(std::int32_t value);
std::string FormatByte(std::uint8_t value);
// C's general format with 7 significant digits, upper-case exponent and the
// given decimal separator; zero (also negative zero) is "0", non-finite
// values are "INF", "-INF" and "NAN".
std::string FormatSingle(float value, std::string_view decimalSeparator);
// The same with 15 significant digits.
std::string FormatDouble(double value, std::string_view decimalSeparator);

// Writes one table: a header, then cells each ended by the delimiter and
// rows ended by CR LF. Output is buffered; every write to the file is
// checked and failures throw ConversionError naming the file.
class TableWriter {
public:
    explicit TableWriter(std::string decimalSeparator = ".") : decimalSeparator_(std::move(decimalSeparator)) {}
    TableWriter(const TableWriter&) = delete;
    TableWriter& operator=(const TableWriter&) = delete;
    // Flushes what was written so far and closes quietly.
    ~TableWriter();

    // Creates or replaces folder / fileName.
    void Create(const std::filesystem::path& folder, std::string_view fileName);
    // Text, then CR LF.
    void WriteHeader(std::string_view text);
    // Text, then the delimiter.
    void WriteCell(std::string_view text) {
        Append(text);
        Append(ColumnDelimiter);
    }
    void EndRow() {
        Append("\r\n");
        ++rows_;
    }
    // Flushes and closes, reporting a failed write or close.
    void Close();

    const std::string& DecimalSeparator() const noexcept { return decimalSeparator_; }
    const std::filesystem::path& Path() const noexcept { return path_; }
    // Rows ended since Create.
    long long Rows() const noexcept { return rows_; }

private:
    void Append(std::string_view text) {
        if (buffer_.size() + text.size() > kFlushAt) Flush();
        buffer_.insert(buffer_.end(), text.begin(), text.end());
    }
    void Flush();
    [[noreturn]] void Fail(const char* action, int errorNumber);

    static constexpr std::size_t kFlushAt = 64 * 1024;

    ScopedFile file_;
    std::filesystem::path path_;
    std::string decimalSeparator_;
    std::vector<char> buffer_;
    long long rows_ = 0;
};

// The five shop cells: "1" where character k of the flag string is "1".
void FlagCells(TableWriter& out, std::string_view flags);

}  // namespace idb

namespace idb {

// A group title standing above the column it opens (columns count from 1).
struct HeaderGroup {
    int column;
    std::string_view title;
};

// The two-line header text of a table: group titles over their first
// columns, then the column titles, each line joined by the delimiter.
std::string HeaderText(std::initializer_list<HeaderGroup> groups, std::initializer_list<std::string_view> titles);

}  // namespace idb
