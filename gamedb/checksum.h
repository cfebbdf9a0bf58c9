// CRC-32 (zlib's) of files and of what passes through a source or an
// output. It tells whether bytes changed since they were recorded; it is no
// defence against someone who wants a collision, and needs none.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gamedb/byte_io.h"

namespace gamedb {

class Crc32 {
public:
    void Add(std::span<const std::uint8_t> bytes);
    void Add(std::string_view bytes);
    std::uint32_t Value() const { return value_; }

private:
    std::uint32_t value_ = 0;
};

// Eight upper-case hex digits, and back (false when malformed).
std::string ChecksumText(std::uint32_t value);
bool ParseChecksum(std::string_view text, std::uint32_t& value);

// Reads the rest of `source` and returns the checksum of what it read.
std::uint32_t ChecksumRest(ByteSource& source);

// Passes reads through and keeps the checksum of every byte read. The
// source is forward-only, so once it is at its end the checksum covers the
// whole of it.
//
// A database is read a record at a time, a few hundred bytes, and a record's
// header in a read of its own: the inner source is read in large pieces
// through a buffer here, and the checksum taken a piece at a time, not a
// read at a time (each call of the checksum costs more than its bytes).
class ChecksummingSource final : public ByteSource {
public:
    explicit ChecksummingSource(ByteSource& inner) : inner_(inner), start_(inner.Position()) {}
    std::uint64_t Size() const override { return inner_.Size(); }
    std::uint64_t Position() const override { return inner_.Position() - (end_ - next_); }
    std::size_t ReadSome(std::span<std::uint8_t> out) override;
    const std::string& Label() const override { return inner_.Label(); }
    // Whether every byte from the start was read through this source.
    bool Whole() const { return start_ == 0 && Position() == Size(); }
    // Of the bytes read so far.
    std::uint32_t Value() const;

private:
    ByteSource& inner_;
    std::uint64_t start_;
    Crc32 crc_;  // of the bytes before the buffer's
    std::vector<std::uint8_t> buffer_;
    std::size_t next_ = 0;  // the next byte to hand out
    std::size_t end_ = 0;   // of what the buffer holds
};

}  // namespace gamedb
