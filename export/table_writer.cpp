#include "export/table_writer.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <system_error>
#include <vector>

#include "export/conversion_error.h"

namespace idb {

namespace {

char* PutText(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

char* PutSeparator(char* out, std::string_view separator) {
    if (separator.size() == 1) {
        *out = separator[0];
        return out + 1;
    }
    return PutText(out, separator);
}

// The general format through to_chars, which rounds the exact binary value as
// C's %G does, on every platform (the Windows C runtime's printf would not).
// `out` has room for 24 characters and the separator.
char* FormatGeneralTo(char* out, double value, int precision, std::string_view decimalSeparator) {
    if (value == 0) return PutText(out, "0");
    if (std::isnan(value)) return PutText(out, "NAN");
    if (std::isinf(value)) return PutText(out, value < 0 ? "-INF" : "INF");
    char digits[48];
    const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, precision);
    for (const char* p = digits; p != result.ptr; ++p) {
        if (*p == '.') out = PutSeparator(out, decimalSeparator);
        else *out++ = *p == 'e' ? 'E' : *p;
    }
    return out;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Correctly rounded powers of ten from 1E-34 to 1E+52: every float times one
// of them lands in [1E+6, 1E+7).
constexpr int kLowestPower = -34;
constexpr double kPowersOfTen[] = {
    1e-34, 1e-33, 1e-32, 1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20,
    1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9,  1e-8,  1e-7,  1e-6,  1e-5,
    1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,   1e5,   1e6,   1e7,   1e8,   1e9,   1e10,
    1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21,  1e22,  1e23,  1e24,  1e25,
    1e26,  1e27,  1e28,  1e29,  1e30,  1e31,  1e32,  1e33,  1e34,  1e35,  1e36,  1e37,  1e38,  1e39,  1e40,
    1e41,  1e42,  1e43,  1e44,  1e45,  1e46,  1e47,  1e48,  1e49,  1e50,  1e51,  1e52};

double ScaledBy(double magnitude, int power) {
    return magnitude * kPowersOfTen[static_cast<std::size_t>(power - kLowestPower)];
}

// The magnitude of a finite non-zero float rounded to seven significant
// digits: digits in [1E+6, 1E+7) and the decimal exponent of the first one.
// to_chars with a precision is exact but slow; this is exact too, except
// where it declines. The float is exact in a double and one product with a
// correctly rounded power of ten is off by less than 1E-8 in a value below
// 2E+7, so the rounding is certain unless the fraction lies within 1E-6 of
// one half; those cases (the true ties among them) go to to_chars. The 32-bit
// build computes in SSE too (its toolchain file); x87's extended precision
// would stay as far inside the margin.
bool RoundToSevenDigits(float magnitude, std::uint32_t& digits, int& exponent) {
    const double value = magnitude;
    // 2^b <= value < 2^(b+1), so the decimal exponent is floor(b log10 2) or one more.
    const int binaryExponent = static_cast<int>(std::bit_cast<std::uint64_t>(value) >> 52) - 1023;
    exponent = (binaryExponent * 78913) >> 18;
    double scaled = ScaledBy(value, 6 - exponent);
    if (scaled >= 1e7) {
        ++exponent;
        scaled = ScaledBy(value, 6 - exponent);
    }
    const auto whole = static_cast<std::uint32_t>(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) < 1e-6) return false;
    digits = whole + (fraction > 0.5 ? 1 : 0);
    if (digits == 10000000) {
        digits = 1000000;
        ++exponent;
    }
    return digits >= 1000000 && digits < 10000000;
}

}  // namespace

char* FormatLongTo(char* out, std::int32_t value) { return std::to_chars(out, out + kMaxLongChars, value).ptr; }

char* FormatSingleTo(char* out, float value, std::string_view decimalSeparator) {
    if (value == 0) return PutText(out, "0");
    if (std::isnan(value)) return PutText(out, "NAN");
    if (std::isinf(value)) return PutText(out, value < 0 ? "-INF" : "INF");
    std::uint32_t rounded = 0;
    int exponent = 0;
    if (!RoundToSevenDigits(std::fabs(value), rounded, exponent)) {
        return FormatGeneralTo(out, value, 7, decimalSeparator);
    }
    if (value < 0) *out++ = '-';
    // Seven digits, two at a time, and eight bytes of room for word copies.
    char digits[16];
    const std::uint32_t low = rounded % 1000000;
    digits[0] = static_cast<char>('0' + rounded / 1000000);
    std::memcpy(digits + 1, kDigitPairs + 2 * (low / 10000), 2);
    std::memcpy(digits + 3, kDigitPairs + 2 * (low / 100 % 100), 2);
    std::memcpy(digits + 5, kDigitPairs + 2 * (low % 100), 2);
    std::memset(digits + 7, '0', 9);
    // The first digit is never 0, so this stops there at the latest.
    int length = 7;
    while (digits[length - 1] == '0') --length;
    if (exponent >= -4 && exponent < 7) {
        if (exponent < 0) {
            out = PutSeparator(PutText(out, "0"), decimalSeparator);
            // Up to three zeros, then the digits.
            std::memcpy(out, "000", 4);
            out += -exponent - 1;
            std::memcpy(out, digits, 8);
            return out + length;
        }
        const int whole = exponent + 1;
        std::memcpy(out, digits, 8);
        out += whole;
        if (length <= whole) return out;
        out = PutSeparator(out, decimalSeparator);
        std::memcpy(out, digits + whole, 8);
        return out + (length - whole);
    }
    *out++ = digits[0];
    if (length > 1) {
        out = PutSeparator(out, decimalSeparator);
        std::memcpy(out, digits + 1, 8);
        out += length - 1;
    }
    *out++ = 'E';
    *out++ = exponent < 0 ? '-' : '+';
    // Floats reach 1E-45 and 3E+38: always two exponent digits.
    const int magnitude = exponent < 0 ? -exponent : exponent;
    *out++ = static_cast<char>('0' + magnitude / 10);
    *out++ = static_cast<char>('0' + magnitude % 10);
    return out;
}

std::string FormatLong(std::int32_t value) {
    char digits[kMaxLongChars];
    return std::string(digits, FormatLongTo(digits, value));
}

std::string FormatByte(std::uint8_t value) { return FormatLong(value); }

std::string FormatSingle(float value, std::string_view decimalSeparator) {
    std::string text(kSingleRoom + decimalSeparator.size(), '\0');
    text.resize(static_cast<std::size_t>(FormatSingleTo(text.data(), value, decimalSeparator) - text.data()));
    return text;
}

std::string FormatDouble(double value, std::string_view decimalSeparator) {
    std::string text(24 + decimalSeparator.size(), '\0');
    text.resize(static_cast<std::size_t>(FormatGeneralTo(text.data(), value, 15, decimalSeparator) - text.data()));
    return text;
}

TableWriter::TableWriter(std::string decimalSeparator)
    : decimalSeparator_(std::move(decimalSeparator)),
      singleRoom_(std::max(kSingleRoom + decimalSeparator_.size(), sizeof(CachedSingle::text))),
      singles_(std::make_unique<CachedSingle[]>(std::size_t{1} << kCacheBits)) {
    MakeRoom(kBufferSize);
}

void TableWriter::AppendNewSingle(float value, CachedSingle& slot) {
    char* const start = next_;
    next_ = FormatSingleTo(next_, value, decimalSeparator_);
    const auto length = static_cast<std::size_t>(next_ - start);
    if (length > sizeof slot.text) return;
    slot.bits = std::bit_cast<std::uint32_t>(value);
    slot.length = static_cast<std::uint32_t>(length);
    // Whole, like the copy out: the room reserved for the text covers it.
    std::memcpy(slot.text, start, sizeof slot.text);
}

TableWriter::~TableWriter() {
    // Keep what was written when a conversion stops half-way; errors here
    // have nobody to go to.
    if (file_ && next_ != buffer_.get()) {
        std::fwrite(buffer_.get(), 1, static_cast<std::size_t>(next_ - buffer_.get()), file_.Get());
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
    // The writer has its own large buffer; the C library's would split every
    // block into two system calls.
    std::setvbuf(file_.Get(), nullptr, _IONBF, 0);
}

void TableWriter::WriteHeader(std::string_view text) {
    Append(text);
    Append("\r\n");
}

void TableWriter::MakeRoom(std::size_t bytes) {
    Flush();
    if (buffer_ && capacity_ >= bytes) return;
    // Only the constructor and separators of many kilobytes come here.
    capacity_ = std::max(bytes, kBufferSize);
    buffer_ = std::make_unique<char[]>(capacity_);
    next_ = buffer_.get();
    end_ = next_ + capacity_;
}

void TableWriter::AppendSlow(std::string_view text) {
    MakeRoom(0);
    if (text.size() <= Room()) {
        Append(text);
        return;
    }
    // Longer than the whole buffer: straight to the file, after what came before.
    WriteOut(text.data(), text.size());
}

void TableWriter::Flush() {
    if (next_ == buffer_.get()) return;
    const auto size = static_cast<std::size_t>(next_ - buffer_.get());
    // Emptied first: a failed write must not be tried again by the destructor.
    next_ = buffer_.get();
    WriteOut(buffer_.get(), size);
}

void TableWriter::WriteOut(const char* data, std::size_t size) {
    if (!file_) {
        throw ConversionError(FailureKind::WriteTable, path_, "cannot write " + QuotePath(path_) + ": the table is not open");
    }
    errno = 0;
    const std::size_t written = std::fwrite(data, 1, size, file_.Get());
    if (written != size) Fail("write", errno);
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
    // All five cells in one piece: "1" and a Tab, or the Tab alone.
    char cells[10];
    char* p = cells;
    for (std::size_t k = 0; k < 5; ++k) {
        if (k < flags.size() && flags[k] == '1') *p++ = '1';
        *p++ = '\t';
    }
    out.Append({cells, static_cast<std::size_t>(p - cells)});
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
