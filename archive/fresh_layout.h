// A new archive laid out by the fixed recipe, the one the game's zone quest
// packs follow:
// - data starts at offset 16; every member starts on a 16-byte boundary, the
//   gaps (after the last member too) are 00; the entry table starts on the
//   next boundary after the data, the name pool ends the file;
// - entries are placed in data order: home slot = sum of the name's bytes,
//   unsigned, after lower-casing ASCII letters only, modulo the entry count;
//   on a collision the entry takes the highest free slot and is linked from
//   the end of the chain that starts at its home slot;
// - the name pool is in data order; an empty archive's table is at 16.
// An existing archive is changed with archive/in_place.h instead, which
// keeps its layout.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive.h"

namespace resarc {

// Slots and chains of a table by the recipe, for names given in data order.
struct SlotPlan {
    std::vector<std::uint32_t> slots;      // by name
    std::vector<std::int32_t> nextOfSlot;  // by slot
};
SlotPlan AssignSlots(std::span<const std::string_view> namesInDataOrder);

// Where the writer puts everything; entries in the members' order.
struct Layout {
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint32_t> slots;
    std::vector<std::int32_t> nextOfSlot;     // by slot
    std::vector<std::uint32_t> nameOffsets;
    std::uint32_t tableOffset = kHeaderSize;
    std::uint32_t namesSize = 0;
    std::uint64_t fileSize = kHeaderSize;
};

// Plans an archive; throws ArchiveError for a name over 65535 bytes or a
// total past 4 GiB. `archiveName` is for messages.
Layout PlanArchive(std::span<const Member> members, std::string_view archiveName);

// Writes an archive of `members` in their order to a temporary file beside
// `target` and renames it over `target` only when everything was written.
void WriteArchive(const std::filesystem::path& target, std::span<const Member> members);

// The members in name order as `res compact` writes them: Windows-1251
// letters in any case compared alike, then the stored bytes.
void SortByName(std::vector<Member>& members);

// Edits of a member list, as the commands make them. Each throws
// ArchiveError naming the member when the edit does not apply.
// Adds at the end with the current time; the name must be new in any case
// spelling (the lookup could not tell the two apart).
void AddMember(std::vector<Member>& members, Member member, std::string_view archiveName);
// Replaces the data of the member of that name in place, with the current
// time; the stored name keeps its spelling.
void ReplaceMember(std::vector<Member>& members, Member member, std::string_view archiveName);
void RemoveMember(std::vector<Member>& members, std::string_view name, std::string_view archiveName);

}  // namespace resarc
