#include "archive/archive_bits.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <variant>

#include "archive/cp1251.h"
#include "archive/file_util.h"

namespace resarc::bits {

namespace {

// The name as a message shows it: UTF-8, control characters as `?`.
std::string Printable(std::string_view cp1251) {
    std::string text = Cp1251ToUtf8(cp1251);
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return text;
}

}  // namespace

std::string Quoted(std::string_view cp1251) { return "\"" + Printable(cp1251) + "\""; }

[[noreturn]] void Fail(std::string_view archiveName, const std::string& what) {
    throw ArchiveError("archive \"" + std::string(archiveName) + "\": " + what);
}

// Copies `length` bytes of `region` to `sink`; `what` names the reader in messages.
void StreamRegion(const FileRegion& region, const std::string& what,
                  const std::function<void(std::string_view)>& sink) {
    std::error_code error;
    idb::ScopedFile file = idb::OpenForRead(region.path, error);
    if (!file) throw ArchiveError("cannot open \"" + PathToUtf8(region.path) + "\": " + error.message());
    if (!idb::SeekFile(file.Get(), region.offset)) {
        throw ArchiveError("cannot read \"" + PathToUtf8(region.path) + "\" at offset " +
                           std::to_string(region.offset) + ": " + LastErrorText());
    }
    std::string buffer(static_cast<std::size_t>(std::min<std::uint64_t>(region.length, kChunk)), '\0');
    std::uint64_t left = region.length;
    while (left > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
        errno = 0;
        const std::size_t got = std::fread(buffer.data(), 1, want, file.Get());
        if (got != want) {
            const std::uint64_t at = region.offset + (region.length - left) + got;
            throw ArchiveError("\"" + PathToUtf8(region.path) + "\" ends early at offset " + std::to_string(at) +
                               " while reading " + what + " (" + std::to_string(region.length) + " bytes from " +
                               std::to_string(region.offset) + ")" +
                               (std::ferror(file.Get()) ? ": " + LastErrorText() : std::string()));
        }
        sink(std::string_view(buffer.data(), got));
        left -= got;
    }
}

void StreamMember(const Member& member, const std::function<void(std::string_view)>& sink) {
    if (const auto* region = std::get_if<FileRegion>(&member.data)) {
        StreamRegion(*region, "the member " + Quoted(member.name), sink);
        return;
    }
    const std::string_view data = std::get<std::string>(member.data);
    for (std::size_t at = 0; at < data.size(); at += kChunk) sink(data.substr(at, kChunk));
}

std::string EncodeEntry(std::int32_t next, std::uint32_t size, std::uint32_t offset, std::int32_t time,
                        std::size_t nameLength, std::uint32_t nameOffset) {
    std::string entry;
    PutLe32(entry, static_cast<std::uint32_t>(next));
    PutLe32(entry, size);
    PutLe32(entry, offset);
    PutLe32(entry, static_cast<std::uint32_t>(time));
    entry += static_cast<char>(nameLength & 0xFF);
    entry += static_cast<char>((nameLength >> 8) & 0xFF);
    PutLe32(entry, nameOffset);
    return entry;
}

std::string EncodeHeader(std::uint32_t count, std::uint32_t tableOffset, std::uint32_t namesSize) {
    std::string header;
    PutLe32(header, kMagic);
    PutLe32(header, count);
    PutLe32(header, tableOffset);
    PutLe32(header, namesSize);
    return header;
}

}  // namespace resarc::bits
