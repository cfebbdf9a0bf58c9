#include "tests/support/archive_builder.h"

#include <stdexcept>

namespace idb::testing {

namespace {

std::uint32_t Align(std::uint64_t value) { return static_cast<std::uint32_t>((value + 15) / 16 * 16); }

}  // namespace

RawArchive::RawArchive(std::vector<RawEntry> entries) : entries_(std::move(entries)) {
    std::uint64_t position = 16;
    for (const RawEntry& entry : entries_) position = Align(position + entry.data.size());
    tableOffset_ = static_cast<std::uint32_t>(position);
}

std::string RawArchive::Bytes() const {
    const auto count = static_cast<std::uint32_t>(entries_.size());
    std::string table(count * 22, '\0');
    std::string data;
    std::string names;
    for (const RawEntry& entry : entries_) {
        if (entry.slot >= count) throw std::logic_error("RawArchive: slot out of range");
        const auto offset = static_cast<std::uint32_t>(16 + data.size());
        data += entry.data;
        data.resize(Align(16 + data.size()) - 16, '\0');
        const std::uint32_t at = entry.slot * 22;
        Put32(table, at, static_cast<std::uint32_t>(entry.next));
        Put32(table, at + 4, static_cast<std::uint32_t>(entry.data.size()));
        Put32(table, at + 8, offset);
        Put32(table, at + 12, static_cast<std::uint32_t>(entry.time));
        Put16(table, at + 16, static_cast<std::uint16_t>(entry.name.size()));
        Put32(table, at + 18, static_cast<std::uint32_t>(names.size()));
        names += entry.name;
    }
    std::string header(16, '\0');
    Put32(header, 0, 0x019CE23C);
    Put32(header, 4, count);
    Put32(header, 8, tableOffset_);
    Put32(header, 12, static_cast<std::uint32_t>(names.size()));
    return header + data + table + names;
}

void Put32(std::string& bytes, std::uint32_t offset, std::uint32_t value) {
    for (std::uint32_t i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void Put16(std::string& bytes, std::uint32_t offset, std::uint16_t value) {
    bytes.at(offset) = static_cast<char>(value & 0xFF);
    bytes.at(offset + 1) = static_cast<char>(value >> 8);
}

}  // namespace idb::testing
