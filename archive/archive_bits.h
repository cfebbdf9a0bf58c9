// Small pieces the reader and the two writers share: little-endian fields,
// alignment, messages, and streaming a stretch of a file. Internal to the
// archive library.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>

#include "archive/archive.h"

namespace resarc::bits {

inline constexpr std::size_t kChunk = 64 * 1024;
inline constexpr std::uint64_t kMaxOffset = std::numeric_limits<std::uint32_t>::max();

inline std::uint32_t Le32(const char* p) {
    const auto b = [p](int i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])); };
    return b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24);
}

inline void PutLe32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

inline std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment = kAlignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// One 22-byte table entry.
std::string EncodeEntry(std::int32_t next, std::uint32_t size, std::uint32_t offset, std::int32_t time,
                        std::size_t nameLength, std::uint32_t nameOffset);
// The 16-byte header.
std::string EncodeHeader(std::uint32_t count, std::uint32_t tableOffset, std::uint32_t namesSize);

// The name as a message shows it: UTF-8 in quotes, control characters as `?`.
std::string Quoted(std::string_view cp1251);

[[noreturn]] void Fail(std::string_view archiveName, const std::string& what);

// Hands `region` to `sink` in pieces of at most 64 KiB; `what` names the
// reader in messages.
void StreamRegion(const FileRegion& region, const std::string& what,
                  const std::function<void(std::string_view)>& sink);
// A member's data, wherever it is held, in pieces.
void StreamMember(const Member& member, const std::function<void(std::string_view)>& sink);

}  // namespace resarc::bits
