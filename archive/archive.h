// The game's resource archives (`*.res`, zone quest packs `*.mq`, ...): a
// 16-byte header, the members' data, a table of 22-byte entries that is at
// the same time a hash table of the names, and a pool of the names.
//
// This header holds the reader. Two writers live beside it:
// - archive/fresh_layout.h lays out a new archive by the fixed recipe
//   (`res create`, `res compact`);
// - archive/in_place.h changes an existing archive and keeps everything
//   that did not change where it was (pack, `res add/replace/remove`).
// An archive's slots, pool order, data order, holes and padding are its
// history, not a rule: only the in-place writer keeps them.
// The reader finds a member whichever way a name with bytes >= 0x80 was
// hashed: bytes summed signed or unsigned, lower-cased as ASCII or as
// Windows-1251 letters.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace resarc {

// A damaged archive, a member that cannot be written, or a failed read or
// write. The message names the archive and, where it applies, the entry.
class ArchiveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::uint32_t kMagic = 0x019CE23C;
inline constexpr std::uint32_t kHeaderSize = 16;
inline constexpr std::uint32_t kEntrySize = 22;
inline constexpr std::uint32_t kAlignment = 16;

struct Entry {
    std::string name;           // Windows-1251 bytes, `\` between folders
    std::uint32_t offset = 0;   // of the data, from the start of the archive
    std::uint32_t size = 0;
    std::int32_t time = 0;      // seconds since 1970-01-01 UTC
    std::uint32_t slot = 0;     // place in the entry table
    std::uint32_t nameOffset = 0;  // place of the name in the name pool
};

// Bytes of the data area that belong to no member: left where a member was
// removed or moved away, or where a member shrank. The 00 padding up to the
// next 16-byte boundary after a member of an aligned archive is not a hole.
struct Hole {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// Home slot by the writer's rule; `slotCount` > 0.
std::uint32_t HomeSlot(std::string_view name, std::uint32_t slotCount);
// Names that the lookup takes as the same (Windows-1251 letters in any case).
bool SameName(std::string_view a, std::string_view b);

// A stretch of a file: a member read in place, or a whole file (offset 0).
struct FileRegion {
    std::filesystem::path path;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// One member of an archive to be written. Its data is streamed from a file
// region while writing, or taken from memory.
struct Member {
    std::string name;           // Windows-1251
    std::int32_t time = 0;
    std::variant<FileRegion, std::string> data;

    std::uint64_t Size() const;
};

// A member from a file on disk, with the current time.
Member MemberFromFile(const std::filesystem::path& file, std::string name);
// Now as the archive stores it (clamped to the 32-bit range).
std::int32_t CurrentTime();
// "2001-04-04 10:11:08" (UTC).
std::string FormatTime(std::int32_t time);

// An archive read and checked: header, entry table and name pool are held;
// member data is read from the file when asked for, so the file is not held
// open between calls (it may be replaced by a rewritten archive).
class Archive {
public:
    // Throws ArchiveError for a file that is not a sound archive.
    static Archive Open(const std::filesystem::path& path);
    // The same checks over bytes in memory; `displayName` stands for the
    // path in messages.
    static Archive FromMemory(std::string bytes, std::string displayName);

    // The path as given (UTF-8 on every system), for messages.
    const std::string& DisplayName() const { return displayName_; }
    // In data order.
    std::span<const Entry> Entries() const { return entries_; }
    // By Windows-1251 name, in any case; nullptr when there is none.
    const Entry* Find(std::string_view name) const;
    // By UTF-8 name, `/` also taken as `\`; nullptr when there is none.
    const Entry* FindUtf8(std::string_view utf8Name) const;

    // Where the member lies in the archive file (archives opened from a file).
    FileRegion Region(const Entry& entry) const;
    // The whole member in memory: for small members and tests.
    std::string Read(const Entry& entry) const;
    // Hands the member's bytes to `sink` in pieces of at most 64 KiB.
    void Stream(const Entry& entry, const std::function<void(std::string_view)>& sink) const;
    // Writes the member to `target` (temporary file, renamed on success).
    void Extract(const Entry& entry, const std::filesystem::path& target) const;

    // The members as they stand, in data order, ready to be written again.
    std::vector<Member> Members() const;

    // The file opened (empty for an archive in memory).
    const std::filesystem::path& Path() const { return path_; }
    std::uint32_t TableOffset() const { return tableOffset_; }
    std::uint32_t NamesSize() const { return namesSize_; }
    std::uint64_t FileSize() const { return std::uint64_t{tableOffset_} + entries_.size() * kEntrySize + namesSize_; }
    // The `next` link of every slot (-1: end of the chain).
    std::span<const std::int32_t> NextOfSlot() const { return next_; }
    // Whether every member and the table start on a 16-byte boundary, as in
    // the game's archives (an empty archive counts as aligned).
    bool Aligned() const;
    std::vector<Hole> Holes() const;

private:
    Archive() = default;
    void Load(std::string_view header, std::uint64_t fileSize,
              const std::function<std::string(std::uint64_t, std::uint32_t)>& readAt);
    std::string EntryLabel(const Entry& entry) const;

    std::string displayName_;
    std::filesystem::path path_;      // empty for an archive in memory
    std::string bytes_;               // the archive in memory
    std::vector<Entry> entries_;      // data order
    std::vector<std::uint32_t> indexOfSlot_;
    std::vector<std::int32_t> next_;  // by slot
    std::uint32_t tableOffset_ = kHeaderSize;
    std::uint32_t namesSize_ = 0;
};

// Whether the file starts with the archive signature.
bool IsArchiveFile(const std::filesystem::path& path);

// `ARCHIVE:MEMBER` (UTF-8) split at its last colon, when `arg` does not name
// an existing file itself and the part before the colon does. A drive
// letter (`C:\...`) is never taken for the separator.
struct MemberArgument {
    std::string archive;
    std::string member;
};
std::optional<MemberArgument> SplitMemberArgument(std::string_view arg);

// A member name (Windows-1251) as a relative path below a folder; an empty
// path when it could leave the folder or mean something else on some system:
// `..`, a root, a drive, `:` (Windows streams), control characters, empty
// parts, characters Windows forbids in names, a trailing dot or space, a
// device name (CON, NUL, COM1...).
std::filesystem::path SafeRelativePath(std::string_view name);

}  // namespace resarc
