// The one error type that leaves the conversion core.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace idb {

enum class FailureKind {
    OpenDatabase,     // the database cannot be opened
    DamagedDatabase,  // the database is short or its framing is impossible
    CreateFolder,     // the output folder cannot be created
    CreateTable,      // a table file cannot be created
    WriteTable,       // a write to a table or its close failed
    Busy,             // a conversion is already running
};

// A failure of the conversion. The message is complete, in English, and names
// the file (and where it applies the category, record and byte offset); the
// parts are kept apart too, so that a front end can word it in its own language.
class ConversionError : public std::runtime_error {
public:
    ConversionError(FailureKind kind, std::filesystem::path path, const std::string& message,
                    std::error_code code = {})
        : std::runtime_error(message), kind_(kind), path_(std::move(path)), code_(code) {}

    FailureKind Kind() const noexcept { return kind_; }
    // The file the failure concerns; empty for Busy.
    const std::filesystem::path& Path() const noexcept { return path_; }
    // The system's reason for I/O failures.
    std::error_code Code() const noexcept { return code_; }

private:
    FailureKind kind_;
    std::filesystem::path path_;
    std::error_code code_;
};

enum class Damage {
    EndOfData,    // a read past the end of the file
    ReadError,    // the system failed to read
    BadSizeWord,  // a record size word with bit 15 set
};

// A read that found the database damaged or short. The conversion run adds
// the category and the record it happened in.
class IdbFormatError : public ConversionError {
public:
    IdbFormatError(Damage damage, const std::filesystem::path& path, long long offset, const std::string& message,
                   int category = -1, int record = 0)
        : ConversionError(FailureKind::DamagedDatabase, path, message),
          damage_(damage), offset_(offset), category_(category), record_(record) {}

    Damage What() const noexcept { return damage_; }
    long long Offset() const noexcept { return offset_; }
    // Index of the category in file order, -1 when not known.
    int Category() const noexcept { return category_; }
    // Record number within the category counting from 1; 0 outside records.
    int Record() const noexcept { return record_; }

private:
    Damage damage_;
    long long offset_;
    int category_;
    int record_;
};

// Quotes a path for a message, as UTF-8 on every platform.
std::string QuotePath(const std::filesystem::path& path);
// "0x1F3": how messages show byte offsets and byte values.
std::string Hex(long long value);

}  // namespace idb
