// Tab-separated table files and the number-to-text rules of their cells.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

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

// The same rules written at `out`; each returns the end of what it wrote.
// These are what the tables use: no string per cell.
//
// FormatLongTo needs room for "-2147483648". FormatSingleTo needs
// kSingleRoom + decimalSeparator.size(): its longest text "-1.234567E-38"
// less the separator, and 8 bytes it may overwrite past the end of its text,
// so that digits are copied in whole words.
inline constexpr std::size_t kMaxLongChars = 11;
inline constexpr std::size_t kSingleRoom = 12 + 8;
char* FormatLongTo(char* out, std::int32_t value);
char* FormatSingleTo(char* out, float value, std::string_view decimalSeparator);

// Writes one table: a header, then cells each ended by the delimiter and
// rows ended by CR LF. Output is buffered; every write to the file is
// checked and failures throw ConversionError naming the file.
//
// A cell is either written whole (WriteCell, WriteSingleCell, ...) or built
// from pieces (Append, AppendSingle, ...) and ended with EndCell.
class TableWriter {
public:
    explicit TableWriter(std::string decimalSeparator = ".");
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
        EndCell();
    }
    // FormatSingle, FormatLong and FormatByte of the value, then the delimiter.
    void WriteSingleCell(float value) {
        AppendSingle(value);
        EndCell();
    }
    void WriteLongCell(std::int32_t value) {
        AppendLong(value);
        EndCell();
    }
    void WriteByteCell(std::uint8_t value) { WriteLongCell(value); }

    void Append(std::string_view text) {
        if (text.size() > Room()) {
            AppendSlow(text);
            return;
        }
        std::memcpy(next_, text.data(), text.size());
        next_ += text.size();
    }
    void AppendSingle(float value) {
        if (Room() < singleRoom_) MakeRoom(singleRoom_);
        const auto bits = std::bit_cast<std::uint32_t>(value);
        CachedSingle& slot = singles_[(bits * 2654435769u) >> (32 - kCacheBits)];
        if (slot.bits == bits && slot.length != 0) {
            std::memcpy(next_, slot.text, sizeof slot.text);
            next_ += slot.length;
            return;
        }
        AppendNewSingle(value, slot);
    }
    void AppendLong(std::int32_t value) {
        if (Room() < kMaxLongChars) MakeRoom(kMaxLongChars);
        next_ = FormatLongTo(next_, value);
    }
    void EndCell() {
        if (Room() < 1) MakeRoom(1);
        *next_++ = '\t';
    }
    void EndRow() {
        if (Room() < 2) MakeRoom(2);
        next_[0] = '\r';
        next_[1] = '\n';
        next_ += 2;
        ++rows_;
    }
    // Flushes and closes, reporting a failed write or close.
    void Close();

    const std::string& DecimalSeparator() const noexcept { return decimalSeparator_; }
    const std::filesystem::path& Path() const noexcept { return path_; }
    // Rows ended since Create.
    long long Rows() const noexcept { return rows_; }

private:
    std::size_t Room() const noexcept { return static_cast<std::size_t>(end_ - next_); }
    // Flushes, and grows the buffer when `bytes` would not fit even then.
    void MakeRoom(std::size_t bytes);
    // Text that does not fit what is left of the buffer.
    void AppendSlow(std::string_view text);

    // Item data repeats its numbers a lot (prices, weights, zeros), so the
    // texts of recent singles are kept, by their bits. The text is copied
    // whole, which is why singleRoom_ is at least its size.
    struct CachedSingle {
        std::uint32_t bits = 0;
        std::uint32_t length = 0;  // 0: nothing kept here yet
        char text[24] = {};
    };
    static constexpr int kCacheBits = 9;
    void AppendNewSingle(float value, CachedSingle& slot);
    void Flush();
    void WriteOut(const char* data, std::size_t size);
    [[noreturn]] void Fail(const char* action, int errorNumber);

    static constexpr std::size_t kBufferSize = 64 * 1024;

    ScopedFile file_;
    std::filesystem::path path_;
    std::string decimalSeparator_;
    std::size_t singleRoom_;
    std::unique_ptr<CachedSingle[]> singles_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    char* next_ = nullptr;
    char* end_ = nullptr;
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
