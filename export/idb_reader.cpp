#include "export/idb_reader.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "export/conversion_error.h"

namespace idb {

namespace {

// Large enough that a refill is rare, small enough that memory stays flat.
constexpr std::size_t kBufferSize = 64 * 1024;

// Texts are short and seldom hold a NUL: a scan in words, the last one
// overlapping, costs less than a library search, and the copy is one block.
template <typename Word>
bool WordHasNul(const char* bytes) {
    constexpr Word kOnes = static_cast<Word>(~Word{0}) / 0xFF;
    Word word;
    std::memcpy(&word, bytes, sizeof word);
    return ((word - kOnes) & ~word & (kOnes << 7)) != 0;
}

bool HasNul(const char* bytes, std::size_t count) {
    if (count >= 8) {
        for (std::size_t i = 0; i + 8 < count; i += 8) {
            if (WordHasNul<std::uint64_t>(bytes + i)) return true;
        }
        return WordHasNul<std::uint64_t>(bytes + count - 8);
    }
    if (count >= 4) return WordHasNul<std::uint32_t>(bytes) || WordHasNul<std::uint32_t>(bytes + count - 4);
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] == '\0') return true;
    }
    return false;
}

}  // namespace

std::string QuotePath(const std::filesystem::path& path) {
    const auto utf8 = path.u8string();
    std::string text;
    text.reserve(utf8.size() + 2);
    text += '"';
    text.append(utf8.begin(), utf8.end());
    text += '"';
    return text;
}

std::string Hex(long long value) {
    char digits[24] = "0x";
    const auto result = std::to_chars(digits + 2, digits + sizeof digits, value, 16);
    std::string text(digits, result.ptr);
    for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
    return text;
}

std::string ToBitDigits(std::int32_t value) {
    // Two's complement for negatives: digit k is bit k of the stored value.
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    const int width = value < 0 ? 32 : std::max(8, static_cast<int>(std::bit_width(bits)));
    std::string digits(static_cast<std::size_t>(width), '0');
    for (int i = width - 1; i >= 0 && bits != 0; --i, bits >>= 1) {
        if (bits & 1u) digits[static_cast<std::size_t>(i)] = '1';
    }
    return digits;
}

SignatureCheck InspectSignature(const std::filesystem::path& path) {
    SignatureCheck check;
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        check.error = std::make_error_code(std::errc::is_a_directory);
        return check;
    }
    ScopedFile file = OpenForRead(path, error);
    if (!file) {
        check.error = error;
        return check;
    }
    errno = 0;
    const int first = std::fgetc(file.Get());
    if (first == EOF && std::ferror(file.Get())) {
        check.error = std::error_code(errno ? errno : EIO, std::generic_category());
        return check;
    }
    check.firstByte = first == EOF ? -1 : first;
    check.verdict = first == 1 ? SignatureVerdict::Database : SignatureVerdict::NotDatabase;
    return check;
}

std::string SignatureProblem(const std::filesystem::path& path) {
    const SignatureCheck check = InspectSignature(path);
    switch (check.verdict) {
    case SignatureVerdict::Database: return {};
    case SignatureVerdict::CannotOpen: return check.error.message();
    case SignatureVerdict::NotDatabase: break;
    }
    if (check.firstByte < 0) return "the file is empty";
    return "its first byte is " + Hex(check.firstByte) + ", not 0x1";
}

bool CheckSignature(const std::filesystem::path& path) {
    return InspectSignature(path).verdict == SignatureVerdict::Database;
}

void IdbReader::Open(const std::filesystem::path& path) { Open(path, 0, UINT64_MAX); }

void IdbReader::Open(const std::filesystem::path& path, std::uint64_t offset, std::uint64_t length) {
    std::error_code error;
    ScopedFile file = OpenForRead(path, error);
    if (!file) {
        throw ConversionError(FailureKind::OpenDatabase, path, "cannot open " + QuotePath(path) + ": " + error.message(),
                              error);
    }
    // A 64-bit seek: an archive member may start past 2 GiB, beyond a 32-bit long.
    if (offset > 0 && !SeekFile(file.Get(), offset)) {
        throw ConversionError(FailureKind::OpenDatabase, path,
                              "cannot read " + QuotePath(path) + " at offset " + std::to_string(offset), error);
    }
    unread_ = length;
    file_ = std::move(file);
    // The reader has its own large buffer; the C library's would split every
    // refill into two system calls.
    std::setvbuf(file_.Get(), nullptr, _IONBF, 0);
    path_ = path;
    buffer_.resize(kBufferSize);
    next_ = end_ = 0;
    bufferOffset_ = 0;
    reading_ = Reading::FileHeader;
}

void IdbReader::Close() noexcept {
    file_.Close();
    buffer_.clear();
    buffer_.shrink_to_fit();
    next_ = end_ = 0;
}

void IdbReader::Refill(std::size_t count) {
    if (!file_) Fail(Damage::ReadError, "the database is not open");
    const std::size_t kept = end_ - next_;
    std::memmove(buffer_.data(), buffer_.data() + next_, kept);
    bufferOffset_ += static_cast<long long>(next_);
    next_ = 0;
    end_ = kept;
    // A skip or raw read longer than the buffer must not look like the end.
    if (buffer_.size() < count) buffer_.resize(count);
    while (end_ < count) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size() - end_, unread_));
        const std::size_t got = want == 0 ? 0 : std::fread(buffer_.data() + end_, 1, want, file_.Get());
        unread_ -= got;
        if (got == 0) {
            if (std::ferror(file_.Get())) Fail(Damage::ReadError, "read error");
            Fail(Damage::EndOfData, "unexpected end of data");
        }
        end_ += got;
    }
}

void IdbReader::Fail(Damage damage, const std::string& problem, long long at) const {
    std::string what;
    switch (reading_) {
        case Reading::FileHeader: what = "the file header"; break;
        case Reading::CategoryHeader: what = "the category header"; break;
        case Reading::RecordHeader: what = "the record header"; break;
        case Reading::ItemName: what = "the item name"; break;
        case Reading::FieldHeader: what = "the header of field " + std::to_string(fieldNumber_); break;
        case Reading::FieldValue:
            what = "the value of field " + std::to_string(fieldNumber_) + " (tag " + std::to_string(fieldTag_) +
                   ", length " + std::to_string(fieldLength_) + ")";
            break;
    }
    const long long offset = at >= 0 ? at : Offset();
    throw IdbFormatError(damage, path_, offset,
                         problem + " at offset " + Hex(offset) + " (" + std::to_string(offset) + ") while reading " + what);
}

void IdbReader::ReadRaw(int length, std::string& bytes) {
    const auto count = static_cast<std::size_t>(std::max(length, 0));
    Require(count);
    const char* p = reinterpret_cast<const char*>(buffer_.data() + next_);
    bytes.assign(p, count);
    next_ += count;
}

void IdbReader::ReadText(int length, std::string& text) {
    const auto count = static_cast<std::size_t>(std::max(length, 0));
    Require(count);
    const char* from = reinterpret_cast<const char*>(buffer_.data() + next_);
    next_ += count;
    if (!HasNul(from, count)) {
        text.assign(from, count);
        return;
    }
    text.clear();
    for (std::size_t k = 0; k < count; ++k) {
        if (from[k] != '\0') text += from[k];
    }
}

std::string IdbReader::ReadText(int length) {
    std::string text;
    ReadText(length, text);
    return text;
}

std::vector<float> IdbReader::ReadSingleArray(int fieldLength) {
    std::vector<float> values;
    ReadSingleArray(fieldLength, values);
    return values;
}

void IdbReader::ReadSingleArray(int fieldLength, std::vector<float>& values) {
    values.resize(static_cast<std::size_t>(std::max(fieldLength / 4, 0)));
    for (float& value : values) value = ReadSingle();
}

std::string IdbReader::ReadFlags() {
    std::string digits;
    ReadFlags(digits);
    return digits;
}

void IdbReader::ReadFlags(std::string& digits) {
    // ToBitDigits reversed, made in place: character k is bit k.
    const std::int32_t value = ReadLong();
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    const int width = value < 0 ? 32 : std::max(8, static_cast<int>(std::bit_width(bits)));
    digits.assign(static_cast<std::size_t>(width), '0');
    for (std::size_t k = 0; bits != 0; ++k, bits >>= 1) {
        if (bits & 1u) digits[k] = '1';
    }
}

void IdbReader::Skip(int length) {
    const auto count = static_cast<std::size_t>(std::max(length, 0));
    Require(count);
    next_ += count;
}

void IdbReader::ReadFileHeader() {
    reading_ = Reading::FileHeader;
    ReadByte();
    ReadLong();
}

void IdbReader::ReadCategoryHeader() {
    recordNumber_ = 0;
    reading_ = Reading::CategoryHeader;
    ReadByte();
    const std::int32_t sizeValue = ReadLong();
    // In 64 bits: the smallest size value would overflow the subtraction.
    categoryLimit_ = static_cast<std::int32_t>((static_cast<std::int64_t>(sizeValue) - 1) / 2);
    categoryPosition_ = 0;
}

void IdbReader::ReadRecordHeader() {
    ++recordNumber_;
    fieldNumber_ = 0;
    reading_ = Reading::RecordHeader;
    const long long headerStart = Offset();
    ReadByte();
    std::int16_t sizeWord = ReadInteger();
    if (sizeWord < 0) {
        // Bit 15 would make CategoryPosition fall and the category never end.
        // Reported where the damaged header starts, as every other damage is.
        Fail(Damage::BadSizeWord, "damaged record size word " + Hex(static_cast<std::uint16_t>(sizeWord)),
             headerStart);
    }
    headerLength_ = 3;
    if (sizeWord > 256) {
        ReadInteger();
        ReadByte();
        headerLength_ = 6;
        --sizeWord;
    }
    recordSize_ = sizeWord / 2;
    recordPosition_ = headerLength_;
    categoryPosition_ += headerLength_ + recordSize_;
}

std::string IdbReader::ReadItemName() {
    std::string name;
    ReadItemName(name);
    return name;
}

void IdbReader::ReadItemName(std::string& name) {
    reading_ = Reading::ItemName;
    const int length = ReadByte() >> 1;
    ReadText(length, name);
    recordPosition_ += 1 + length;
}


}  // namespace idb
