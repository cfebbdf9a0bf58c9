// Forward-only reader over the framing of an items database (Items.idb).
#pragma once

#include <bit>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "export/conversion_error.h"
#include "export/file_io.h"

namespace idb {

// The base-2 digits of `value`, most significant first, padded with "0" to 8
// characters. A negative value gives its 32 two's-complement digits.
std::string ToBitDigits(std::int32_t value);

// What the first byte of a file says, read apart from any run: the window's
// command checks it before it asks for the output folder.
enum class SignatureVerdict {
    Database,     // the first byte is 1
    NotDatabase,  // the file was read: empty, or another first byte
    CannotOpen,   // missing, locked, a folder, unreadable: see `error`
};
struct SignatureCheck {
    SignatureVerdict verdict = SignatureVerdict::CannotOpen;
    std::error_code error;  // the system's reason for CannotOpen
    int firstByte = -1;     // -1 for an empty file or one not read
};
SignatureCheck InspectSignature(const std::filesystem::path& path);

// Whether `path` names a readable file whose first byte is 1. A missing,
// unreadable or empty file answers false.
bool CheckSignature(const std::filesystem::path& path);
// Why the signature check fails ("the file is empty", "its first byte is
// 0x41, not 0x1", the system's reason it cannot be opened); empty when it
// passes.
std::string SignatureProblem(const std::filesystem::path& path);

// Reads the database from front to back in small little-endian values and
// keeps the two counters that decide where a category and a record end.
// Every read past the end of the file, and every header the counters cannot
// work with, throws IdbFormatError naming the byte offset and what was read.
class IdbReader {
public:
    IdbReader() = default;
    IdbReader(const IdbReader&) = delete;
    IdbReader& operator=(const IdbReader&) = delete;

    // Opens the file for reading raw bytes at position 0; throws ConversionError.
    void Open(const std::filesystem::path& path);
    // Reads the `length` bytes from `offset` as the whole database (a member
    // of an archive); offsets in messages count from the region's start.
    void Open(const std::filesystem::path& path, std::uint64_t offset, std::uint64_t length);
    void Close() noexcept;
    const std::filesystem::path& Path() const noexcept { return path_; }

    // The small reads are inline: a record is mostly made of them.
    std::uint8_t ReadByte() {
        Require(1);
        return buffer_[next_++];
    }
    std::int16_t ReadInteger() {
        Require(2);
        const unsigned char* p = buffer_.data() + next_;
        next_ += 2;
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
    }
    std::int32_t ReadLong() {
        Require(4);
        const unsigned char* p = buffer_.data() + next_;
        next_ += 4;
        const std::uint32_t value = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                    (static_cast<std::uint32_t>(p[2]) << 16) |
                                    (static_cast<std::uint32_t>(p[3]) << 24);
        return static_cast<std::int32_t>(value);
    }
    float ReadSingle() { return std::bit_cast<float>(static_cast<std::uint32_t>(ReadLong())); }
    // `length` bytes with every NUL removed.
    std::string ReadText(int length);
    // Same, into `text`, reusing its storage.
    void ReadText(int length, std::string& text);
    // `length` bytes exactly as stored.
    void ReadRaw(int length, std::string& bytes);
    // FieldLength \ 4 single floats.
    std::vector<float> ReadSingleArray(int fieldLength);
    // Same, into `values`, reusing its storage.
    void ReadSingleArray(int fieldLength, std::vector<float>& values);
    // Flag digit string, least significant bit first.
    std::string ReadFlags();
    // Same, into `digits`, reusing its storage.
    void ReadFlags(std::string& digits);
    void Skip(int length);

    void ReadFileHeader();
    // Sets CategoryLimit; CategoryPosition := 0.
    void ReadCategoryHeader();
    bool HasMoreRecords() const noexcept { return categoryPosition_ < categoryLimit_; }
    // Sets RecordSize and HeaderLength, RecordPosition := HeaderLength and
    // advances CategoryPosition. A SizeWord with bit 15 set is damage.
    void ReadRecordHeader();
    std::string ReadItemName();
    // Same, into `name`, reusing its storage.
    void ReadItemName(std::string& name);
    // Sets FieldTag and FieldLength; RecordPosition += 2 + FieldLength.
    void ReadFieldHeader() {
        ++fieldNumber_;
        reading_ = Reading::FieldHeader;
        fieldTag_ = ReadByte();
        fieldLength_ = ReadByte() >> 1;
        recordPosition_ += 2 + fieldLength_;
        reading_ = Reading::FieldValue;
    }
    bool HasMoreFields() const noexcept { return recordPosition_ <= recordSize_; }

    std::int32_t CategoryLimit() const noexcept { return categoryLimit_; }
    std::int32_t CategoryPosition() const noexcept { return categoryPosition_; }
    std::int32_t RecordPosition() const noexcept { return recordPosition_; }
    std::int32_t RecordSize() const noexcept { return recordSize_; }
    int HeaderLength() const noexcept { return headerLength_; }
    std::uint8_t FieldTag() const noexcept { return fieldTag_; }
    int FieldLength() const noexcept { return fieldLength_; }
    // Records started in the current category, counting from 1.
    int RecordNumber() const noexcept { return recordNumber_; }
    // Byte offset of the next byte to be read.
    long long Offset() const noexcept { return bufferOffset_ + static_cast<long long>(next_); }

private:
    // Makes `count` bytes available at next_ or throws.
    void Require(std::size_t count) {
        if (end_ - next_ < count) Refill(count);
    }
    void Refill(std::size_t count);
    // `at` is the offset to report when it is not the next byte's.
    [[noreturn]] void Fail(Damage damage, const std::string& problem, long long at = -1) const;

    ScopedFile file_;
    std::filesystem::path path_;
    std::vector<unsigned char> buffer_;
    std::size_t next_ = 0;
    std::size_t end_ = 0;
    long long bufferOffset_ = 0;
    std::uint64_t unread_ = UINT64_MAX;   // bytes of the region not yet in the buffer
    // What the next read belongs to, for error messages.
    enum class Reading { FileHeader, CategoryHeader, RecordHeader, ItemName, FieldHeader, FieldValue };
    Reading reading_ = Reading::FileHeader;

    std::int32_t categoryLimit_ = 0;
    std::int32_t categoryPosition_ = 0;
    std::int32_t recordPosition_ = 0;
    std::int32_t recordSize_ = 0;
    int headerLength_ = 0;
    std::uint8_t fieldTag_ = 0;
    int fieldLength_ = 0;
    int recordNumber_ = 0;
    int fieldNumber_ = 0;
};

}  // namespace idb
