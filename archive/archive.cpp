#include "archive/archive.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>
#include <limits>
#include <optional>
#include <system_error>
#include <tuple>
#include <utility>

#include "archive/archive_bits.h"
#include "archive/cp1251.h"
#include "archive/file_util.h"
#include "archive/in_place.h"

namespace resarc {

using bits::Fail;
using bits::kChunk;
using bits::kMaxOffset;
using bits::Le32;
using bits::Quoted;

namespace {

// The four ways a name may have been hashed: bytes lower-cased as ASCII or
// as Windows-1251, summed as unsigned or as signed chars. The first is the
// writer's own rule.
std::array<std::uint32_t, 4> CandidateHomes(std::string_view name, std::uint32_t slotCount) {
    std::uint32_t asciiUnsigned = 0, asciiSigned = 0, fullUnsigned = 0, fullSigned = 0;
    for (const char ch : name) {
        const unsigned char ascii = AsciiLower(static_cast<unsigned char>(ch));
        const unsigned char full = Cp1251Lower(static_cast<unsigned char>(ch));
        asciiUnsigned += ascii;
        fullUnsigned += full;
        // A signed char sign-extended into the 32-bit sum.
        asciiSigned += ascii >= 0x80 ? ascii + 0xFFFFFF00u : ascii;
        fullSigned += full >= 0x80 ? full + 0xFFFFFF00u : full;
    }
    return {asciiUnsigned % slotCount, fullUnsigned % slotCount, asciiSigned % slotCount, fullSigned % slotCount};
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

std::uint32_t HomeSlot(std::string_view name, std::uint32_t slotCount) {
    return CandidateHomes(name, slotCount)[0];
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Cp1251Lower(static_cast<unsigned char>(a[i])) != Cp1251Lower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::uint64_t Member::Size() const {
    if (const auto* region = std::get_if<FileRegion>(&data)) return region->length;
    return std::get<std::string>(data).size();
}

Member MemberFromFile(const std::filesystem::path& file, std::string name) {
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (error) throw ArchiveError("cannot read \"" + PathToUtf8(file) + "\": " + error.message());
    if (!std::filesystem::is_regular_file(status)) {
        throw ArchiveError("\"" + PathToUtf8(file) + "\" is not a file");
    }
    const std::uint64_t size = std::filesystem::file_size(file, error);
    if (error) throw ArchiveError("cannot read \"" + PathToUtf8(file) + "\": " + error.message());
    return Member{std::move(name), CurrentTime(), FileRegion{file, 0, size}};
}

std::int32_t CurrentTime() {
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(now, 0, std::numeric_limits<std::int32_t>::max()));
}

std::string FormatTime(std::int32_t time) {
    std::int64_t days = time / 86400;
    std::int64_t seconds = time % 86400;
    if (seconds < 0) seconds += 86400, --days;
    std::int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02d:%02d:%02d", static_cast<long long>(year), month, day,
                  static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

// ---------------------------------------------------------------------------
// Reading

Archive Archive::Open(const std::filesystem::path& path) {
    // A change that was killed half-way is undone before anyone reads.
    RollBackInterruptedChange(path);
    Archive archive;
    archive.path_ = path;
    archive.displayName_ = PathToUtf8(path);
    std::error_code error;
    idb::ScopedFile file = idb::OpenForRead(path, error);
    if (!file) Fail(archive.displayName_, "cannot open: " + error.message());
    const std::uint64_t fileSize = std::filesystem::file_size(path, error);
    if (error) Fail(archive.displayName_, "cannot read: " + error.message());

    const auto readAt = [&](std::uint64_t offset, std::uint32_t length) {
        std::string bytes(length, '\0');
        errno = 0;
        if (!idb::SeekFile(file.Get(), offset) || std::fread(bytes.data(), 1, length, file.Get()) != length) {
            Fail(archive.displayName_, "cannot read " + std::to_string(length) + " bytes at offset " +
                                           std::to_string(offset) + ": " +
                                           (std::ferror(file.Get()) ? LastErrorText() : "the file ends early"));
        }
        return bytes;
    };
    const std::string header = readAt(0, static_cast<std::uint32_t>(std::min<std::uint64_t>(fileSize, kHeaderSize)));
    archive.Load(header, fileSize, readAt);
    return archive;
}

Archive Archive::FromMemory(std::string bytes, std::string displayName) {
    Archive archive;
    archive.displayName_ = std::move(displayName);
    archive.bytes_ = std::move(bytes);
    const std::string_view all = archive.bytes_;
    const auto readAt = [all](std::uint64_t offset, std::uint32_t length) {
        return std::string(all.substr(static_cast<std::size_t>(offset), length));
    };
    archive.Load(all.substr(0, kHeaderSize), all.size(), readAt);
    return archive;
}

std::string Archive::EntryLabel(const Entry& entry) const {
    return "entry in slot " + std::to_string(entry.slot) + " (" + Quoted(entry.name) + ")";
}

// Every count and offset is checked against the file size before anything
// is allocated from it, and every chain is checked once here, so lookups
// can neither run off the table nor loop.
void Archive::Load(std::string_view header, std::uint64_t fileSize,
                   const std::function<std::string(std::uint64_t, std::uint32_t)>& readAt) {
    const std::string& name = displayName_;
    if (header.size() < kHeaderSize) {
        Fail(name, "too short for an archive (" + std::to_string(fileSize) + " bytes, the header alone has 16)");
    }
    const std::uint32_t magic = Le32(header.data());
    if (magic != kMagic) {
        char text[80];
        std::snprintf(text, sizeof text, "not an archive (first 4 bytes %02X %02X %02X %02X, expected 3C E2 9C 01)",
                      static_cast<unsigned char>(header[0]), static_cast<unsigned char>(header[1]),
                      static_cast<unsigned char>(header[2]), static_cast<unsigned char>(header[3]));
        Fail(name, text);
    }
    const std::uint32_t count = Le32(header.data() + 4);
    const std::uint32_t tableOffset = Le32(header.data() + 8);
    const std::uint32_t namesSize = Le32(header.data() + 12);
    const std::uint64_t tableSize = std::uint64_t{count} * kEntrySize;
    if (tableOffset < kHeaderSize) {
        Fail(name, "entry table offset " + std::to_string(tableOffset) + " lies inside the 16-byte header");
    }
    if (std::uint64_t{tableOffset} + tableSize + namesSize != fileSize) {
        Fail(name, "header does not fit the file: table offset " + std::to_string(tableOffset) + " + " +
                       std::to_string(count) + " entries x 22 + name pool " + std::to_string(namesSize) + " = " +
                       std::to_string(std::uint64_t{tableOffset} + tableSize + namesSize) + " bytes, the file has " +
                       std::to_string(fileSize));
    }
    // Only a file past 4 GiB could match the sizes with such a count.
    if (tableSize > kMaxOffset) Fail(name, std::to_string(count) + " entries are more than the format can address");
    tableOffset_ = tableOffset;
    namesSize_ = namesSize;
    const std::string table = readAt(tableOffset, static_cast<std::uint32_t>(tableSize));
    const std::string pool = readAt(tableOffset + tableSize, namesSize);

    entries_.resize(count);
    next_.resize(count);
    // The name pool is written in data order: it orders empty members.
    std::vector<std::uint32_t> nameOffsets(count);
    for (std::uint32_t slot = 0; slot < count; ++slot) {
        const char* raw = table.data() + std::size_t{slot} * kEntrySize;
        Entry& entry = entries_[slot];
        entry.slot = slot;
        next_[slot] = static_cast<std::int32_t>(Le32(raw));
        entry.size = Le32(raw + 4);
        entry.offset = Le32(raw + 8);
        entry.time = static_cast<std::int32_t>(Le32(raw + 12));
        const auto nameLength = static_cast<std::uint32_t>(static_cast<unsigned char>(raw[16]) |
                                                           (static_cast<unsigned char>(raw[17]) << 8));
        const std::uint32_t nameOffset = Le32(raw + 18);
        if (std::uint64_t{nameOffset} + nameLength > namesSize) {
            Fail(name, "entry in slot " + std::to_string(slot) + ": name of " + std::to_string(nameLength) +
                           " bytes at " + std::to_string(nameOffset) + " lies outside the name pool of " +
                           std::to_string(namesSize) + " bytes");
        }
        entry.name = pool.substr(nameOffset, nameLength);
        if (entry.offset < kHeaderSize || std::uint64_t{entry.offset} + entry.size > tableOffset) {
            Fail(name, EntryLabel(entry) + ": data of " + std::to_string(entry.size) + " bytes at offset " +
                           std::to_string(entry.offset) + " lies outside the data area (16.." +
                           std::to_string(tableOffset) + ")");
        }
        if (next_[slot] < -1 || next_[slot] >= static_cast<std::int64_t>(count)) {
            Fail(name, EntryLabel(entry) + ": next slot " + std::to_string(next_[slot]) + " is out of range (-1.." +
                           std::to_string(std::int64_t{count} - 1) + ")");
        }
        nameOffsets[slot] = nameOffset;
        entry.nameOffset = nameOffset;
    }

    // Hash chains: each slot linked from at most one other, no loops. Then
    // every slot has a chain and a position in it.
    std::vector<std::int32_t> linkedFrom(count, -1);
    for (std::uint32_t slot = 0; slot < count; ++slot) {
        const std::int32_t next = next_[slot];
        if (next < 0) continue;
        const auto to = static_cast<std::uint32_t>(next);
        if (linkedFrom[to] >= 0) {
            Fail(name, EntryLabel(entries_[to]) + " is linked from two slots (" + std::to_string(linkedFrom[to]) +
                           " and " + std::to_string(slot) + ")");
        }
        linkedFrom[to] = static_cast<std::int32_t>(slot);
    }
    std::vector<std::uint32_t> chainOf(count, std::numeric_limits<std::uint32_t>::max());
    std::vector<std::uint32_t> positionIn(count, 0);
    for (std::uint32_t head = 0; head < count; ++head) {
        if (linkedFrom[head] >= 0) continue;
        std::uint32_t position = 0;
        for (std::int32_t slot = static_cast<std::int32_t>(head); slot >= 0; slot = next_[static_cast<std::size_t>(slot)]) {
            chainOf[static_cast<std::size_t>(slot)] = head;
            positionIn[static_cast<std::size_t>(slot)] = position++;
        }
    }
    for (std::uint32_t slot = 0; slot < count; ++slot) {
        if (chainOf[slot] == std::numeric_limits<std::uint32_t>::max()) {
            Fail(name, EntryLabel(entries_[slot]) + ": its hash chain loops");
        }
    }
    for (const Entry& entry : entries_) {
        bool found = false;
        for (const std::uint32_t home : CandidateHomes(entry.name, count)) {
            found = found || (chainOf[home] == chainOf[entry.slot] && positionIn[home] <= positionIn[entry.slot]);
        }
        if (!found) {
            Fail(name, EntryLabel(entry) + " cannot be found: it is not in the hash chain of its slot " +
                           std::to_string(HomeSlot(entry.name, count)));
        }
    }

    // Data order; empty members may share an offset with the next member,
    // and the name pool (written in data order) tells them apart.
    std::vector<std::uint32_t> order(count);
    for (std::uint32_t i = 0; i < count; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return std::tie(entries_[a].offset, nameOffsets[a], a) < std::tie(entries_[b].offset, nameOffsets[b], b);
    });
    std::vector<Entry> sorted;
    sorted.reserve(count);
    for (const std::uint32_t slot : order) sorted.push_back(std::move(entries_[slot]));
    entries_ = std::move(sorted);

    const Entry* previous = nullptr;
    for (const Entry& entry : entries_) {
        if (entry.size == 0) continue;
        if (previous && std::uint64_t{previous->offset} + previous->size > entry.offset) {
            Fail(name, EntryLabel(entry) + ": data at offset " + std::to_string(entry.offset) + " overlaps the " +
                           EntryLabel(*previous) + " (" + std::to_string(previous->size) + " bytes at offset " +
                           std::to_string(previous->offset) + ")");
        }
        previous = &entry;
    }
    indexOfSlot_.assign(count, 0);
    for (std::uint32_t i = 0; i < count; ++i) indexOfSlot_[entries_[i].slot] = i;
}

bool Archive::Aligned() const {
    return std::all_of(entries_.begin(), entries_.end(), [](const Entry& e) { return e.offset % kAlignment == 0; }) &&
           tableOffset_ % kAlignment == 0;
}

std::vector<Hole> Archive::Holes() const {
    const std::uint64_t padding = Aligned() ? kAlignment : 1;
    std::vector<Hole> holes;
    std::uint64_t end = kHeaderSize;  // of the data before, padding included
    const auto gapUpTo = [&](std::uint64_t start) {
        if (start > end) holes.push_back(Hole{end, start - end});
    };
    for (const Entry& entry : entries_) {
        if (entry.size == 0) continue;
        gapUpTo(entry.offset);
        end = std::max(end, bits::AlignUp(std::uint64_t{entry.offset} + entry.size, padding));
    }
    gapUpTo(tableOffset_);
    return holes;
}

const Entry* Archive::Find(std::string_view name) const {
    if (entries_.empty()) return nullptr;
    const auto count = static_cast<std::uint32_t>(entries_.size());
    for (const std::uint32_t home : CandidateHomes(name, count)) {
        // Chains were checked on opening: they end.
        for (std::int32_t slot = static_cast<std::int32_t>(home); slot >= 0; slot = next_[static_cast<std::size_t>(slot)]) {
            const Entry& entry = entries_[indexOfSlot_[static_cast<std::size_t>(slot)]];
            if (SameName(entry.name, name)) return &entry;
        }
    }
    // A name hashed with ASCII lower-casing only sits where its own Cyrillic
    // capitals put it, which another spelling cannot reach through the hash.
    for (const Entry& entry : entries_) {
        if (SameName(entry.name, name)) return &entry;
    }
    return nullptr;
}

const Entry* Archive::FindUtf8(std::string_view utf8Name) const {
    std::optional<std::string> name = Utf8ToCp1251(utf8Name);
    if (!name) return nullptr;
    // A stored name may hold a `/` of its own.
    if (const Entry* entry = Find(*name)) return entry;
    if (name->find('/') == std::string::npos) return nullptr;
    std::replace(name->begin(), name->end(), '/', '\\');
    return Find(*name);
}

FileRegion Archive::Region(const Entry& entry) const {
    if (path_.empty()) Fail(displayName_, "is in memory, not in a file");
    return FileRegion{path_, entry.offset, entry.size};
}

void Archive::Stream(const Entry& entry, const std::function<void(std::string_view)>& sink) const {
    if (path_.empty()) {
        const std::string_view data = std::string_view(bytes_).substr(entry.offset, entry.size);
        for (std::size_t at = 0; at < data.size(); at += kChunk) sink(data.substr(at, kChunk));
        return;
    }
    bits::StreamRegion(Region(entry), "the " + EntryLabel(entry) + " of archive \"" + displayName_ + "\"", sink);
}

std::string Archive::Read(const Entry& entry) const {
    std::string data;
    data.reserve(entry.size);
    Stream(entry, [&data](std::string_view piece) { data += piece; });
    return data;
}

void Archive::Extract(const Entry& entry, const std::filesystem::path& target) const {
    // Replacing the archive would change what the later reads see.
    if (!path_.empty() && idb::SameFile(path_, target)) {
        Fail(displayName_, "the " + EntryLabel(entry) + " would be written over the archive itself");
    }
    TempOutput output(target);
    Stream(entry, [&output](std::string_view piece) { output.Write(piece); });
    output.Commit();
}

std::vector<Member> Archive::Members() const {
    std::vector<Member> members;
    members.reserve(entries_.size());
    for (const Entry& entry : entries_) {
        Member member{entry.name, entry.time, std::string()};
        if (path_.empty()) member.data = bytes_.substr(entry.offset, entry.size);
        else member.data = Region(entry);
        members.push_back(std::move(member));
    }
    return members;
}

bool IsArchiveFile(const std::filesystem::path& path) {
    std::error_code error;
    // Only a regular file is looked into: a pipe's first bytes belong to the reader after us.
    if (!std::filesystem::is_regular_file(path, error)) return false;
    idb::ScopedFile file = idb::OpenForRead(path, error);
    char magic[4] = {};
    return file && std::fread(magic, 1, 4, file.Get()) == 4 && Le32(magic) == kMagic;
}

std::optional<MemberArgument> SplitMemberArgument(std::string_view arg) {
    const auto isFile = [](std::string_view utf8) {
        std::error_code error;
        return std::filesystem::is_regular_file(PathFromUtf8(utf8), error);
    };
    if (isFile(arg)) return std::nullopt;
    const std::size_t colon = arg.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == arg.size()) return std::nullopt;
    const bool driveLetter = colon == 1 && ((arg[0] >= 'A' && arg[0] <= 'Z') || (arg[0] >= 'a' && arg[0] <= 'z'));
    if (driveLetter || !isFile(arg.substr(0, colon))) return std::nullopt;
    return MemberArgument{std::string(arg.substr(0, colon)), std::string(arg.substr(colon + 1))};
}

namespace {

// CON, PRN, AUX, NUL, COM1..9, LPT1..9, with or without an extension: on
// Windows such a file name opens the device.
bool IsDeviceName(std::string_view part) {
    std::string stem(part.substr(0, part.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) c = static_cast<char>(AsciiLower(static_cast<unsigned char>(c)));
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") return true;
    return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) && stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

std::filesystem::path SafeRelativePath(std::string_view name) {
    std::filesystem::path path;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('\\', start), name.size());
        const std::string_view part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || IsDeviceName(part)) return {};
        // Windows drops a trailing dot or space, which would make two names one.
        if (part.back() == '.' || part.back() == ' ') return {};
        for (const char c : part) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F || std::string_view("/:<>\"|?*").find(c) != std::string_view::npos) return {};
        }
        path /= PathFromUtf8(Cp1251ToUtf8(part));
        start = end + 1;
    }
    return path;
}

}  // namespace resarc
