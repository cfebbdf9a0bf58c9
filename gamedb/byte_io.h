// Byte sources and sinks. A database is not always a whole file (an archive
// holds several), so a file source reads a region of a file; memory sources
// and sinks let tests and fuzzers run without touching the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "export/file_io.h"

namespace gamedb {

// Reserves room for `n` bytes in `buffer` and asks the system to back a
// large room with large pages: filling a fresh buffer of tens of MiB costs
// a page fault per 4 KiB page otherwise, which on a virtual machine is
// several times the work of the filling. A hint: where the system has no
// such pages, it is the plain reserve.
void ReserveLarge(std::vector<std::uint8_t>& buffer, std::size_t n);

// A forward-only, buffered reader. Reads past the end throw gamedb::Error
// naming the label and the offset.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Length of the whole source in bytes.
    virtual std::uint64_t Size() const = 0;
    // Offset of the next byte, counted from the start of the source.
    virtual std::uint64_t Position() const = 0;
    // Copies up to out.size() bytes; returns how many (0 only at the end).
    virtual std::size_t ReadSome(std::span<std::uint8_t> out) = 0;
    // How the source is named in messages (a path, "ARCHIVE:MEMBER", ...).
    virtual const std::string& Label() const = 0;

    std::uint64_t Remaining() const { return Size() - Position(); }
    // Exactly out.size() bytes or an error mentioning `what`.
    void Read(std::span<std::uint8_t> out, const char* what);
    // Reads n bytes into `buffer` (resized; its capacity is reused).
    void ReadInto(std::vector<std::uint8_t>& buffer, std::size_t n, const char* what);
    // Reads n bytes onto the end of `buffer`; returns where they are.
    std::span<std::uint8_t> ReadAppend(std::vector<std::uint8_t>& buffer, std::size_t n, const char* what);
    void Skip(std::uint64_t n, const char* what);

private:
    void CheckRemaining(std::size_t n, const char* what) const;
};

// The bytes [offset, offset + length) of a file, read through a 64 KiB buffer.
class FileRegionSource final : public ByteSource {
public:
    // Opens the file; throws Error when it cannot be opened or is shorter
    // than the region. `length` of UINT64_MAX means "to the end of the file".
    FileRegionSource(const std::filesystem::path& path, std::uint64_t offset = 0,
                     std::uint64_t length = UINT64_MAX, std::string label = {});

    std::uint64_t Size() const override { return length_; }
    std::uint64_t Position() const override { return position_; }
    std::size_t ReadSome(std::span<std::uint8_t> out) override;
    const std::string& Label() const override { return label_; }

private:
    idb::ScopedFile file_;
    std::string label_;
    std::uint64_t length_ = 0;
    std::uint64_t position_ = 0;   // within the region
    std::vector<std::uint8_t> buffer_;
    std::size_t bufferPos_ = 0;
    std::size_t bufferEnd_ = 0;
};

// Bytes held by the caller; they must outlive the source.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes, std::string label = "memory");

    std::uint64_t Size() const override { return bytes_.size(); }
    std::uint64_t Position() const override { return position_; }
    std::size_t ReadSome(std::span<std::uint8_t> out) override;
    const std::string& Label() const override { return label_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
    std::string label_;
};

// Bytes it owns, for text made in memory (a table read from a workbook).
class OwningMemorySource final : public ByteSource {
public:
    OwningMemorySource(std::string bytes, std::string label)
        : bytes_(std::move(bytes)),
          source_(std::span(reinterpret_cast<const std::uint8_t*>(bytes_.data()), bytes_.size()), std::move(label)) {}
    // The source points into its own string.
    OwningMemorySource(const OwningMemorySource&) = delete;
    OwningMemorySource& operator=(const OwningMemorySource&) = delete;
    std::uint64_t Size() const override { return source_.Size(); }
    std::uint64_t Position() const override { return source_.Position(); }
    std::size_t ReadSome(std::span<std::uint8_t> out) override { return source_.ReadSome(out); }
    const std::string& Label() const override { return source_.Label(); }

private:
    std::string bytes_;
    MemorySource source_;
};

// Where pack writes a database. Write appends; Patch overwrites bytes
// already written (the file node's size is known only at the end).
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void Write(std::span<const std::uint8_t> bytes) = 0;
    virtual void Patch(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
    virtual std::uint64_t Position() const = 0;
};

class MemorySink final : public ByteSink {
public:
    void Write(std::span<const std::uint8_t> bytes) override;
    void Patch(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    std::uint64_t Position() const override { return bytes_.size(); }
    std::vector<std::uint8_t>& Bytes() { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// A new file (never one that exists, nor a link) written through a buffer; Close() reports whether every byte
// reached the disk. Throws Error on any failure.
class FileSink final : public ByteSink {
public:
    explicit FileSink(const std::filesystem::path& path);
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    void Write(std::span<const std::uint8_t> bytes) override;
    void Patch(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    std::uint64_t Position() const override { return position_; }
    void Close();

private:
    void Flush();

    std::filesystem::path path_;
    idb::ScopedFile file_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t position_ = 0;
};

// "\"path\"" as UTF-8 on every platform, for labels and messages.
std::string QuotedPath(const std::filesystem::path& path);
std::filesystem::path PathFromUtf8(std::string_view text);
// Throws Error naming the file `path` and the problem.
[[noreturn]] void FailAt(const std::filesystem::path& path, const std::string& problem);

}  // namespace gamedb
