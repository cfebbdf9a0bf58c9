// Builds resource archives byte by byte with every field given explicitly,
// so that tests can make archives the library's writer never would: other
// hash rules, broken chains, overlapping data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace idb::testing {

struct RawEntry {
    std::string name;              // stored bytes
    std::string data;
    std::uint32_t slot = 0;
    std::int32_t next = -1;
    std::int32_t time = 0;
};

// Data in the given order from offset 16, 16-byte aligned with 00 padding;
// the table on the next boundary, the name pool in the same order.
class RawArchive {
public:
    explicit RawArchive(std::vector<RawEntry> entries);

    std::string Bytes() const;

    // Where the pieces are, for tests that damage them.
    std::uint32_t TableOffset() const { return tableOffset_; }
    std::uint32_t EntryOffset(std::uint32_t slot) const { return tableOffset_ + slot * 22; }

private:
    std::vector<RawEntry> entries_;
    std::uint32_t tableOffset_ = 16;
};

// Overwrites 4 bytes little-endian (or 2 for `Put16`) at `offset`.
void Put32(std::string& bytes, std::uint32_t offset, std::uint32_t value);
void Put16(std::string& bytes, std::uint32_t offset, std::uint16_t value);

}  // namespace idb::testing
