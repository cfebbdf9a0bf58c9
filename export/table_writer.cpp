#include "export/table_writer.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <system_error>

#include "export/conversion_error.h"

namespace idb {

namespace {

std::string FormatGeneral(double value, int precision, std::string_view decimalSeparator) {
    if (value == 0) return "0";
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    // to_chars rounds the exact binary value as C's %G does, on every
    // platform; the Windows C runtime's printf would not.
    char digits[48];
    const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, precision);
    std::string text;
    text.reserve(static_cast<std::size_t>(result.ptr - digits) + decimalSeparator.size());
    for (const char* p = digits; p != result.ptr; ++p) {
        if (*p == '.') text += decimalSeparator;
        else if (*p == 'e') text += 'E';
        else text += *p;
    }
    return text;
}

}  // namespace

std::string FormatLong(std::int32_t value) {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, result.ptr);
}

std::string FormatByte(std::uint8_t value) { return FormatLong(value); }

std::string FormatSingle(float value, std::string_view decimalSeparator) {
    return FormatGeneral(value, 7, decimalSeparator);
}

std::string FormatDouble(double value, std::string_view decimalSeparator) {
    return FormatGeneral(value, 15, decimalSeparator);
}

TableWriter::~TableWriter() {
    // Keep what was written when a conversion stops half-way; errors here
    // have nobody to go to.
    if (file_ && !buffer_.empty()) {
        std::fwrite(buffer_.data(), 1, buffer_.size(), file_.Get());
    }
}

void TableWriter::Create(const std::filesystem::path& folder, std::string_view fileName) {
    Close();
    path_ = folder / std::filesystem::path(std::u8string(fileName.begin(), fileName.end()));
    rows_ = 0;
    std::error_code error;
    file_ = OpenForWrite(path_, error);
    if (!file_) {
        throw ConversionError(FailureKind::CreateTable, path_, "cannot create " + QuotePath(path_) + ": " + error.message(),
                              error);
    }
    buffer_.reserve(kFlushAt);
}

void TableWriter::WriteHeader(std::string_view text) {
    Append(text);
    Append("\r\n");
}

void TableWriter::Flush() {
    if (buffer_.empty()) return;
    if (!file_) {
        buffer_.clear();
        throw ConversionError(FailureKind::WriteTable, path_, "cannot write " + QuotePath(path_) + ": the table is not open");
    }
    errno = 0;
    const std::size_t written = std::fwrite(buffer_.data(), 1, buffer_.size(), file_.Get());
    const int errorNumber = errno;
    if (written != buffer_.size()) {
        buffer_.clear();
        Fail("write", errorNumber);
    }
    buffer_.clear();
}

void TableWriter::Close() {
    if (!file_) return;
    Flush();
    // A full disk often shows only when the C library's own buffer goes out.
    errno = 0;
    int errorNumber = std::fflush(file_.Get()) == 0 ? 0 : (errno ? errno : EIO);
    errno = 0;
    if (!file_.Close() && errorNumber == 0) errorNumber = errno ? errno : EIO;
    if (errorNumber != 0) Fail("write", errorNumber);
}

void TableWriter::Fail(const char* action, int errorNumber) {
    const std::error_code error(errorNumber ? errorNumber : EIO, std::generic_category());
    file_.Close();
    throw ConversionError(FailureKind::WriteTable, path_,
                          std::string("cannot ") + action + " " + QuotePath(path_) + ": " + error.message(), error);
}

void FlagCells(TableWriter& out, std::string_view flags) {
    for (std::size_t k = 0; k < 5; ++k) {
        out.WriteCell(k < flags.size() && flags[k] == '1' ? "1" : "");
    }
}

}  // namespace idb

namespace idb {

std::string HeaderText(std::initializer_list<HeaderGroup> groups, std::initializer_list<std::string_view> titles) {
    std::vector<std::string_view> line1(titles.size());
    for (const HeaderGroup& group : groups) line1.at(static_cast<std::size_t>(group.column - 1)) = group.title;
    std::string text;
    for (std::size_t i = 0; i < line1.size(); ++i) {
        if (i) text += ColumnDelimiter;
        text += line1[i];
    }
    text += "\r\n";
    bool first = true;
    for (std::string_view title : titles) {
        if (!first) text += ColumnDelimiter;
        text += title;
        first = false;
    }
    return text;
}

}  // namespace idb
