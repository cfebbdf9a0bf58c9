#include "archive/fresh_layout.h"

#include <algorithm>
#include <utility>

#include "archive/archive_bits.h"
#include "archive/cp1251.h"
#include "archive/file_util.h"

namespace resarc {

using bits::AlignUp;
using bits::Fail;
using bits::kMaxOffset;
using bits::Quoted;

SlotPlan AssignSlots(std::span<const std::string_view> namesInDataOrder) {
    const auto count = static_cast<std::uint32_t>(namesInDataOrder.size());
    SlotPlan plan;
    // Coalesced chains: an entry whose home is taken goes to the highest
    // free slot, linked from the end of the chain through its home. `ahead`
    // points further along a chain, so the end is found without walking it
    // all again each time.
    plan.nextOfSlot.assign(count, -1);
    std::vector<bool> used(count, false);
    std::vector<std::uint32_t> ahead(count);
    std::uint32_t highestFree = count;
    for (const std::string_view name : namesInDataOrder) {
        const std::uint32_t home = HomeSlot(name, count);
        std::uint32_t slot = home;
        if (used[home]) {
            std::uint32_t end = home;
            while (ahead[end] != end) end = ahead[end];
            for (std::uint32_t s = home; s != end;) {
                const std::uint32_t further = ahead[s];
                ahead[s] = end;
                s = further;
            }
            while (used[highestFree - 1]) --highestFree;
            slot = highestFree - 1;
            plan.nextOfSlot[end] = static_cast<std::int32_t>(slot);
            ahead[end] = slot;
        }
        used[slot] = true;
        ahead[slot] = slot;
        plan.slots.push_back(slot);
    }
    return plan;
}

Layout PlanArchive(std::span<const Member> members, std::string_view archiveName) {
    if (members.size() > (kMaxOffset - kHeaderSize) / kEntrySize) Fail(archiveName, "too many members");
    const auto count = static_cast<std::uint32_t>(members.size());
    Layout layout;

    // Repeated names are written as they come: an archive that has them is
    // rewritten unchanged. The edits refuse to make new ones.
    for (const Member& member : members) {
        if (member.name.size() > 0xFFFF) {
            Fail(archiveName, "the name " + Quoted(member.name.substr(0, 40)) + "... is longer than 65535 bytes");
        }
    }

    std::uint64_t position = kHeaderSize;
    std::uint64_t namesSize = 0;
    std::vector<std::string_view> names;
    for (const Member& member : members) {
        if (position + member.Size() > kMaxOffset) {
            Fail(archiveName, "the member " + Quoted(member.name) + " would end past 4 GiB, the format's limit");
        }
        layout.offsets.push_back(static_cast<std::uint32_t>(position));
        position = AlignUp(position + member.Size());
        layout.nameOffsets.push_back(static_cast<std::uint32_t>(namesSize));
        namesSize += member.name.size();
        names.push_back(member.name);
    }
    layout.fileSize = position + std::uint64_t{count} * kEntrySize + namesSize;
    if (layout.fileSize > kMaxOffset) Fail(archiveName, "the archive would pass 4 GiB, the format's limit");
    layout.tableOffset = static_cast<std::uint32_t>(position);
    layout.namesSize = static_cast<std::uint32_t>(namesSize);
    SlotPlan slots = AssignSlots(names);
    layout.slots = std::move(slots.slots);
    layout.nextOfSlot = std::move(slots.nextOfSlot);
    return layout;
}

void WriteArchive(const std::filesystem::path& target, std::span<const Member> members) {
    const std::string archiveName = PathToUtf8(target);
    const Layout layout = PlanArchive(members, archiveName);
    const auto count = static_cast<std::uint32_t>(members.size());

    TempOutput output(target);
    output.Write(bits::EncodeHeader(count, layout.tableOffset, layout.namesSize));
    static const std::string kZeros(kAlignment, '\0');
    for (std::uint32_t i = 0; i < count; ++i) {
        bits::StreamMember(members[i], [&output](std::string_view piece) { output.Write(piece); });
        const std::uint64_t end = std::uint64_t{layout.offsets[i]} + members[i].Size();
        output.Write(std::string_view(kZeros).substr(0, static_cast<std::size_t>(AlignUp(end) - end)));
    }
    std::string table(std::size_t{count} * kEntrySize, '\0');
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t slot = layout.slots[i];
        table.replace(std::size_t{slot} * kEntrySize, kEntrySize,
                      bits::EncodeEntry(layout.nextOfSlot[slot], static_cast<std::uint32_t>(members[i].Size()),
                                        layout.offsets[i], members[i].time, members[i].name.size(),
                                        layout.nameOffsets[i]));
    }
    output.Write(table);
    for (const Member& member : members) output.Write(member.name);
    output.Commit();
}

void SortByName(std::vector<Member>& members) {
    const auto key = [](const std::string& name) {
        std::string lower = name;
        for (char& c : lower) c = static_cast<char>(Cp1251Lower(static_cast<unsigned char>(c)));
        return lower;
    };
    std::stable_sort(members.begin(), members.end(), [&key](const Member& a, const Member& b) {
        const std::string ka = key(a.name), kb = key(b.name);
        return ka != kb ? ka < kb : a.name < b.name;
    });
}

// ---------------------------------------------------------------------------
// Edits

namespace {

std::vector<Member>::iterator FindMember(std::vector<Member>& members, std::string_view name) {
    return std::find_if(members.begin(), members.end(),
                        [name](const Member& member) { return SameName(member.name, name); });
}

}  // namespace

void AddMember(std::vector<Member>& members, Member member, std::string_view archiveName) {
    if (member.name.empty()) Fail(archiveName, "a member needs a name");
    if (FindMember(members, member.name) != members.end()) {
        Fail(archiveName, "already has a member " + Quoted(member.name) + " (replace it instead)");
    }
    member.time = CurrentTime();
    members.push_back(std::move(member));
}

void ReplaceMember(std::vector<Member>& members, Member member, std::string_view archiveName) {
    const auto it = FindMember(members, member.name);
    if (it == members.end()) Fail(archiveName, "has no member " + Quoted(member.name) + " to replace");
    it->data = std::move(member.data);
    it->time = CurrentTime();
}

void RemoveMember(std::vector<Member>& members, std::string_view name, std::string_view archiveName) {
    const auto it = FindMember(members, name);
    if (it == members.end()) Fail(archiveName, "has no member " + Quoted(name) + " to remove");
    members.erase(it);
}

}  // namespace resarc
