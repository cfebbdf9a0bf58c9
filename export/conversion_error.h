// The one error type that leaves the conversion core.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace idb {

// A failure of the conversion: damaged input, an I/O error, a refused request.
// The message is complete and names the file (and where it applies the
// category, record and byte offset); `Code` carries the system's reason for
// I/O failures so that a front end can word it in its own language.
class ConversionError : public std::runtime_error {
public:
    explicit ConversionError(const std::string& message, std::error_code code = {})
        : std::runtime_error(message), code_(code) {}

    std::error_code Code() const noexcept { return code_; }

private:
    std::error_code code_;
};

// A read that found the database damaged or short. The conversion run
// catches it to add the category and record it happened in.
class IdbFormatError : public ConversionError {
public:
    IdbFormatError(const std::string& message, long long offset)
        : ConversionError(message), offset_(offset) {}

    long long Offset() const noexcept { return offset_; }

private:
    long long offset_;
};

// Quotes a path for a message, as UTF-8 on every platform.
std::string QuotePath(const std::filesystem::path& path);

}  // namespace idb
