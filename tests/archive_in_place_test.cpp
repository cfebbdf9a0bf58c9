// Archives changed in place: what did not change keeps its bytes and its
// place. The archives here are built byte by byte the way the game's own
// archives are laid out (data not in name order, the pool in yet another
// order, a hole holding an older member's bytes, slots away from where the
// fresh-layout recipe would put them, with or without 16-byte alignment),
// and every property is checked over many of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <numeric>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/cp1251.h"
#include "archive/fresh_layout.h"
#include "archive/in_place.h"
#include "tests/support/archive_builder.h"
#include "tests/support/idb_builder.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using idb::testing::Put16;
using idb::testing::Put32;
using idb::testing::ReadFile;
using idb::testing::TempDir;
using idb::testing::WriteFile;
using resarc::Archive;
using resarc::Edit;
using resarc::EditKind;
using resarc::Entry;
using resarc::Member;

namespace {

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t step) { return (value + step - 1) / step * step; }

std::string Random(std::mt19937& random, std::size_t size) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

// An archive with a history, from `seed`.
std::string HistoryArchive(unsigned seed, bool aligned) {
    std::mt19937 random(seed);
    const std::size_t n = 3 + random() % 10;
    std::vector<std::string> names, data;
    for (std::size_t i = 0; i < n; ++i) {
        // Zero-size members, and members that end exactly on a boundary.
        const std::size_t size = random() % 5 == 0 ? 0 : random() % 4 == 0 ? 16 * (1 + random() % 4) : random() % 300;
        names.push_back((i % 3 == 0 ? "Data\\" : "") + std::string(1, static_cast<char>('a' + (random() % 26))) +
                        std::to_string(i) + (i % 2 ? ".adb" : ".idb"));
        data.push_back(Random(random, size));
    }
    std::vector<std::size_t> dataOrder(n), poolOrder(n), slotOrder(n);
    std::iota(dataOrder.begin(), dataOrder.end(), 0);
    std::iota(poolOrder.begin(), poolOrder.end(), 0);
    std::iota(slotOrder.begin(), slotOrder.end(), 0);
    std::shuffle(dataOrder.begin(), dataOrder.end(), random);
    std::shuffle(poolOrder.begin(), poolOrder.end(), random);
    std::shuffle(slotOrder.begin(), slotOrder.end(), random);
    const std::size_t holeAfter = random() % n;

    std::string body;  // from offset 16
    std::vector<std::uint32_t> offset(n);
    const std::uint64_t step = aligned ? 16 : 1;
    for (const std::size_t i : dataOrder) {
        offset[i] = static_cast<std::uint32_t>(16 + body.size());
        body += data[i];
        body.resize(AlignUp(16 + body.size(), step) - 16, '\0');
        // An older member's bytes, left where they were.
        if (i == holeAfter) body += Random(random, aligned ? 16 * (1 + random() % 3) : 1 + 2 * (random() % 20));
    }
    std::string pool;
    std::vector<std::uint32_t> nameOffset(n);
    for (const std::size_t i : poolOrder) {
        nameOffset[i] = static_cast<std::uint32_t>(pool.size());
        pool += names[i];
    }
    // Chains built in an order of their own; a collision takes any free slot.
    std::vector<std::uint32_t> slot(n);
    std::vector<std::int32_t> next(n, -1);
    std::vector<bool> used(n, false);
    for (const std::size_t i : slotOrder) {
        const std::uint32_t home = resarc::HomeSlot(names[i], static_cast<std::uint32_t>(n));
        std::uint32_t s = home;
        if (used[home]) {
            std::vector<std::uint32_t> free;
            for (std::uint32_t f = 0; f < n; ++f) {
                if (!used[f]) free.push_back(f);
            }
            s = free[random() % free.size()];
            std::uint32_t end = home;
            while (next[end] >= 0) end = static_cast<std::uint32_t>(next[end]);
            next[end] = static_cast<std::int32_t>(s);
        }
        used[s] = true;
        slot[i] = s;
    }
    const auto tableOffset = static_cast<std::uint32_t>(16 + body.size());
    std::string table(n * 22, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t at = slot[i] * 22;
        Put32(table, at, static_cast<std::uint32_t>(next[slot[i]]));
        Put32(table, at + 4, static_cast<std::uint32_t>(data[i].size()));
        Put32(table, at + 8, offset[i]);
        Put32(table, at + 12, static_cast<std::uint32_t>(random()));
        Put16(table, at + 16, static_cast<std::uint16_t>(names[i].size()));
        Put32(table, at + 18, nameOffset[i]);
    }
    std::string header(16, '\0');
    Put32(header, 0, resarc::kMagic);
    Put32(header, 4, static_cast<std::uint32_t>(n));
    Put32(header, 8, tableOffset);
    Put32(header, 12, static_cast<std::uint32_t>(pool.size()));
    return header + body + table + pool;
}

Edit Replace(const std::string& name, std::string data) { return Edit{EditKind::kReplace, Member{name, 0, std::move(data)}}; }

resarc::UpdateResult Update(const fs::path& path, std::vector<Edit> edits, bool inPlace) {
    resarc::UpdateOptions options;
    options.copyUpTo = inPlace ? 0 : UINT64_MAX;
    options.durable = false;
    return resarc::UpdateArchive(path, path, std::move(edits), options);
}

std::string Pool(const std::string& bytes, const Archive& archive) {
    return bytes.substr(archive.TableOffset() + archive.Entries().size() * 22);
}

// Whether new data of `size` fits where the member is: up to the next
// member with data or the table, and not inside the data before it.
bool Fits(const Archive& archive, std::size_t index, std::uint64_t size) {
    const auto entries = archive.Entries();
    std::uint64_t end = archive.TableOffset(), previousEnd = 16;
    for (std::size_t j = index + 1; j < entries.size() && end == archive.TableOffset(); ++j) {
        if (entries[j].size > 0) end = entries[j].offset;
    }
    for (std::size_t j = 0; j < index; ++j) previousEnd = std::max<std::uint64_t>(previousEnd, entries[j].offset + entries[j].size);
    return size == 0 || (entries[index].offset >= previousEnd && entries[index].offset + size <= end);
}

// `bytes` with the stored times of `reference` (same table place and size):
// two runs may fall on two sides of a second.
std::string WithTimesOf(std::string bytes, const std::string& reference) {
    const Archive archive = Archive::FromMemory(reference, "reference");
    for (const Entry& entry : archive.Entries()) {
        Put32(bytes, archive.TableOffset() + entry.slot * 22 + 12, static_cast<std::uint32_t>(entry.time));
    }
    return bytes;
}

struct Seeded {
    unsigned seed;
    bool aligned;
};

std::vector<Seeded> Archives(unsigned count = 24) {
    std::vector<Seeded> all;
    for (unsigned seed = 1; seed <= count; ++seed) all.push_back({seed, seed % 3 != 0});
    return all;
}

}  // namespace

TEST(ArchiveInPlace, GeneratedArchivesReadAsTheirHistorySays) {
    for (const auto& [seed, aligned] : Archives()) {
        const Archive archive = Archive::FromMemory(HistoryArchive(seed, aligned), "h.res");
        EXPECT_EQ(archive.Aligned(), aligned) << seed;
        EXPECT_FALSE(archive.Holes().empty()) << seed;
    }
}

TEST(ArchiveInPlace, NothingChangedWritesNothing) {
    TempDir dir;
    for (const auto& [seed, aligned] : Archives()) {
        const std::string original = HistoryArchive(seed, aligned);
        WriteFile(dir / "h.res", original);
        const auto old = fs::file_time_type::clock::now() - std::chrono::hours(30);
        fs::last_write_time(dir / "h.res", old);
        const Archive archive = Archive::Open(dir / "h.res");
        std::vector<Edit> edits;
        for (const Entry& entry : archive.Entries()) edits.push_back(Replace(entry.name, archive.Read(entry)));
        for (const bool inPlace : {false, true}) {
            const resarc::UpdateResult result = Update(dir / "h.res", edits, inPlace);
            EXPECT_FALSE(result.written) << seed;
            EXPECT_TRUE(result.changed.empty()) << seed;
            EXPECT_EQ(ReadFile(dir / "h.res"), original) << seed;
            EXPECT_EQ(fs::last_write_time(dir / "h.res"), old) << seed;
        }
        // A new copy is the same bytes.
        resarc::UpdateArchive(dir / "h.res", dir / "copy.res", edits);
        EXPECT_EQ(ReadFile(dir / "copy.res"), original) << seed;
    }
}

// One member replaced by data of the same size, smaller, a little larger
// and much larger: only its data, its entry, and (when it no longer fits)
// the header's table offset and what follows the last member change. The
// copy and the journalled in-place path give the same bytes.
TEST(ArchiveInPlace, OneChangedMemberChangesOnlyWhatItMust) {
    TempDir dir;
    std::mt19937 random(7);
    for (const auto& [seed, aligned] : Archives(9)) {
        const std::string original = HistoryArchive(seed, aligned);
        const Archive before = Archive::FromMemory(original, "h.res");
        const std::uint64_t step = aligned ? 16 : 1;
        for (std::size_t index = 0; index < before.Entries().size(); ++index) {
            const Entry& old = before.Entries()[index];
            for (const std::size_t size : {std::size_t{old.size}, std::size_t{old.size / 2}, std::size_t{old.size + 3},
                                           std::size_t{old.size + 400}}) {
                std::string data = Random(random, size);
                if (data == before.Read(old)) continue;
                const std::int32_t now = resarc::CurrentTime();
                std::string results[2];
                for (const bool inPlace : {false, true}) {
                    WriteFile(dir / "h.res", original);
                    const resarc::UpdateResult result = Update(dir / "h.res", {Replace(old.name, data)}, inPlace);
                    EXPECT_TRUE(result.written);
                    EXPECT_EQ(result.inPlace, inPlace);
                    EXPECT_FALSE(result.tableRebuilt);
                    results[inPlace] = ReadFile(dir / "h.res");
                }
                const std::string context = "seed " + std::to_string(seed) + " member " + std::to_string(index) +
                                            " size " + std::to_string(old.size) + " -> " + std::to_string(size);
                ASSERT_TRUE(WithTimesOf(results[1], results[0]) == results[0]) << context;
                const std::string& bytes = results[0];
                const Archive after = Archive::FromMemory(bytes, "h.res");
                ASSERT_EQ(after.Entries().size(), before.Entries().size());
                EXPECT_TRUE(std::equal(after.NextOfSlot().begin(), after.NextOfSlot().end(), before.NextOfSlot().begin())) << context;
                EXPECT_EQ(Pool(bytes, after), Pool(original, before)) << context;
                const Entry* changed = after.Find(old.name);
                ASSERT_NE(changed, nullptr) << context;
                EXPECT_EQ(after.Read(*changed), data) << context;
                EXPECT_GE(changed->time, now) << context;
                EXPECT_EQ(changed->slot, old.slot) << context;
                std::uint64_t lastEnd = 16;
                for (const Entry& other : before.Entries()) {
                    if (other.slot == old.slot) continue;
                    const Entry* kept = after.Find(other.name);
                    ASSERT_NE(kept, nullptr) << context;
                    EXPECT_EQ(kept->offset, other.offset) << context;
                    EXPECT_EQ(kept->time, other.time) << context;
                    EXPECT_EQ(kept->nameOffset, other.nameOffset) << context;
                    EXPECT_EQ(after.Read(*kept), before.Read(other)) << context;
                    lastEnd = std::max<std::uint64_t>(lastEnd, std::uint64_t{other.offset} + other.size);
                }
                // The bytes that may differ.
                std::vector<std::pair<std::uint64_t, std::uint64_t>> allowed;
                const bool fits = Fits(before, index, size);
                if (fits) {
                    EXPECT_EQ(changed->offset, old.offset) << context;
                    EXPECT_EQ(after.TableOffset(), before.TableOffset()) << context;
                    allowed.push_back({old.offset, old.offset + std::max<std::uint64_t>(old.size, size)});
                    allowed.push_back({before.TableOffset() + old.slot * 22, before.TableOffset() + old.slot * 22 + 22});
                    // The rest of its old space is 00.
                    for (std::uint64_t at = old.offset + size; at < old.offset + old.size; ++at) EXPECT_EQ(bytes[at], '\0') << context;
                } else {
                    EXPECT_EQ(changed->offset, AlignUp(lastEnd, step)) << context;
                    EXPECT_EQ(after.TableOffset(), AlignUp(changed->offset + size, step)) << context;
                    allowed.push_back({8, 12});
                    allowed.push_back({changed->offset, UINT64_MAX});
                }
                for (std::uint64_t at = 0; at < std::min(bytes.size(), original.size()); ++at) {
                    const bool ok = bytes[at] == original[at] ||
                                    std::any_of(allowed.begin(), allowed.end(),
                                                [at](const auto& r) { return at >= r.first && at < r.second; });
                    if (!ok) {
                        ADD_FAILURE() << context << ": byte " << at << " changed";
                        break;
                    }
                }
            }
        }
    }
}

// Adding and removing change the number of slots: the table follows the
// recipe over the new data order, the pool keeps the order of the members
// that stay; every kept member keeps its offset, bytes and time.
TEST(ArchiveInPlace, AddAndRemoveRebuildOnlyTheTable) {
    TempDir dir;
    for (const auto& [seed, aligned] : Archives()) {
        const std::string original = HistoryArchive(seed, aligned);
        const Archive before = Archive::FromMemory(original, "h.res");
        const Entry& gone = before.Entries()[seed % before.Entries().size()];
        std::vector<Edit> edits = {Edit{EditKind::kRemove, Member{gone.name, 0, std::string()}},
                                   Edit{EditKind::kAdd, Member{"new\\added.txt", 0, std::string(100 + seed, 'n')}},
                                   Edit{EditKind::kAdd, Member{"empty.txt", 0, std::string()}}};
        std::string results[2];
        for (const bool inPlace : {false, true}) {
            WriteFile(dir / "h.res", original);
            const resarc::UpdateResult result = Update(dir / "h.res", edits, inPlace);
            EXPECT_TRUE(result.tableRebuilt);
            EXPECT_EQ(result.changed.size(), 3u);
            results[inPlace] = ReadFile(dir / "h.res");
        }
        ASSERT_TRUE(WithTimesOf(results[1], results[0]) == results[0]) << seed;
        const Archive after = Archive::FromMemory(results[0], "h.res");
        ASSERT_EQ(after.Entries().size(), before.Entries().size() + 1) << seed;
        EXPECT_EQ(after.Find(gone.name), nullptr) << seed;
        EXPECT_EQ(after.Read(*after.Find("new\\added.txt")), std::string(100 + seed, 'n')) << seed;
        std::vector<const Entry*> byPool;
        for (const Entry& entry : before.Entries()) {
            if (entry.slot == gone.slot) continue;
            const Entry* kept = after.Find(entry.name);
            ASSERT_NE(kept, nullptr) << seed;
            EXPECT_EQ(kept->offset, entry.offset) << seed;
            EXPECT_EQ(kept->time, entry.time) << seed;
            EXPECT_EQ(after.Read(*kept), before.Read(entry)) << seed;
            byPool.push_back(&entry);
        }
        std::sort(byPool.begin(), byPool.end(), [](const Entry* a, const Entry* b) { return a->nameOffset < b->nameOffset; });
        std::string pool;
        for (const Entry* entry : byPool) pool += entry->name;
        EXPECT_EQ(Pool(results[0], after), pool + "new\\added.txt" + "empty.txt") << seed;
        std::vector<std::string_view> names;
        for (const Entry& entry : after.Entries()) names.push_back(entry.name);
        const resarc::SlotPlan slots = resarc::AssignSlots(names);
        for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(after.Entries()[i].slot, slots.slots[i]) << seed;
        // Up to the new data, only the header and the table's old place may differ.
        const std::uint64_t dataEnd = after.Find("new\\added.txt")->offset;
        EXPECT_EQ(results[0].substr(16, std::min<std::uint64_t>(dataEnd, before.TableOffset()) - 16),
                  original.substr(16, std::min<std::uint64_t>(dataEnd, before.TableOffset()) - 16)) << seed;
    }
}

// A failure before any write to the file (a full disk, a killed process)
// leaves a readable archive equal to the old one or the new one; so does
// a failure in the middle of a write. "Killed" leaves the undo journal
// behind, and the next Open puts the old bytes back.
TEST(ArchiveInPlace, AFailureAtEveryWriteLeavesTheOldArchiveOrTheNew) {
    TempDir dir;
    struct Injected : std::runtime_error {
        Injected() : std::runtime_error("injected failure") {}
    };
    for (const unsigned seed : {2u, 3u}) {
        const std::string original = HistoryArchive(seed, seed != 3);
        const Archive before = Archive::FromMemory(original, "h.res");
        const Entry& first = before.Entries().front();
        const Entry& last = before.Entries().back();
        const std::vector<std::vector<Edit>> cases = {
            {Replace(first.name, std::string(first.size / 2, 's'))},                  // in place, shorter
            {Replace(first.name, std::string(first.size + 500, 'g'))},                // after the last member
            {Replace(last.name, std::string(last.size + 70000, 'L'))},                // over the old table
            {Edit{EditKind::kRemove, Member{last.name, 0, std::string()}}},           // the file gets shorter
            {Edit{EditKind::kAdd, Member{"added", 0, std::string(3000, 'a')}}},
        };
        for (std::size_t c = 0; c < cases.size(); ++c) {
            WriteFile(dir / "h.res", original);
            Update(dir / "h.res", cases[c], false);
            const std::string changed = ReadFile(dir / "h.res");
            for (const int mode : {0, 1, 2}) {  // copy; in place; in place, killed
                resarc::UpdateOptions options;
                options.copyUpTo = mode == 0 ? UINT64_MAX : 0;
                options.rollBackOnFailure = mode != 2;
                options.durable = false;
                std::size_t writes = 0, failAt = 0;
                options.beforeWrite = [&] {
                    if (++writes == failAt) throw Injected{};
                };
                WriteFile(dir / "h.res", original);
                resarc::UpdateArchive(dir / "h.res", dir / "h.res", cases[c], options);
                const std::size_t total = writes;
                ASSERT_GT(total, 2u);
                for (failAt = 1; failAt <= total; ++failAt) {
                    const std::string context = "seed " + std::to_string(seed) + " case " + std::to_string(c) +
                                                " mode " + std::to_string(mode) + " failing write " + std::to_string(failAt);
                    WriteFile(dir / "h.res", original);
                    writes = 0;
                    EXPECT_THROW(resarc::UpdateArchive(dir / "h.res", dir / "h.res", cases[c], options), Injected) << context;
                    // Undone at once unless the process was "killed".
                    if (mode != 2) {
                        EXPECT_FALSE(fs::exists(resarc::JournalPath(dir / "h.res"))) << context;
                    }
                    Archive::Open(dir / "h.res");  // undoes what a killed change left
                    const std::string now = ReadFile(dir / "h.res");
                    EXPECT_TRUE(now == original || now == changed) << context;
                    std::set<std::string> files;
                    for (const auto& file : fs::directory_iterator(dir.path())) files.insert(file.path().filename().string());
                    EXPECT_EQ(files, std::set<std::string>{"h.res"}) << context;
                }
            }
        }
    }
}

TEST(ArchiveInPlace, ADamagedJournalStopsReadingAndIsKept) {
    TempDir dir;
    const std::string original = HistoryArchive(4, true);
    WriteFile(dir / "h.res", original);
    WriteFile(resarc::JournalPath(dir / "h.res"), "RESUNDO1 cut short");
    try {
        Archive::Open(dir / "h.res");
        ADD_FAILURE() << "opened";
    } catch (const resarc::ArchiveError& error) {
        EXPECT_NE(std::string(error.what()).find("h.res~undo\" is damaged"), std::string::npos) << error.what();
    }
    EXPECT_EQ(ReadFile(dir / "h.res"), original);
    EXPECT_EQ(ReadFile(resarc::JournalPath(dir / "h.res")), "RESUNDO1 cut short");
}

TEST(ArchiveInPlace, HolesAreWhatNoMemberHolds) {
    // Home slots with two entries: "a" 97 % 2 = 1, "b" 98 % 2 = 0.
    const idb::testing::RawArchive raw({{"a", std::string(20, 'a'), 1, -1, 1}, {"b", "bb", 0, -1, 1}});
    std::string bytes = raw.Bytes();
    Archive archive = Archive::FromMemory(bytes, "h.res");
    // 20 bytes padded to 32: the padding is no hole.
    EXPECT_TRUE(archive.Holes().empty());
    EXPECT_TRUE(archive.Aligned());
    // `a` shrinks to 3 bytes: 13 bytes up to its boundary stay padding, 16 are a hole.
    Put32(bytes, raw.EntryOffset(1) + 4, 3);
    archive = Archive::FromMemory(bytes, "h.res");
    ASSERT_EQ(archive.Holes().size(), 1u);
    EXPECT_EQ(archive.Holes()[0].offset, 32u);
    EXPECT_EQ(archive.Holes()[0].length, 16u);
}
