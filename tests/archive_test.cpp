// The resource-archive library: layout, lookups, byte-identical rewrites,
// edits and extraction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/fresh_layout.h"
#include "archive/cp1251.h"
#include "tests/support/archive_builder.h"
#include "tests/support/idb_builder.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using idb::testing::RawArchive;
using idb::testing::RawEntry;
using idb::testing::ReadFile;
using idb::testing::TempDir;
using idb::testing::WriteFile;
using resarc::Archive;
using resarc::Member;

namespace {

constexpr std::int32_t kZ3q1Time = 0x3ACAF33C;

Member InMemory(std::string name, std::string data, std::int32_t time = kZ3q1Time) {
    return Member{std::move(name), time, std::move(data)};
}

// Bytes that tell members apart and show misplaced data.
std::string Filler(std::size_t size, unsigned seed) {
    std::string data(size, '\0');
    std::mt19937 random(seed);
    for (char& c : data) c = static_cast<char>(random() & 0xFF);
    return data;
}

std::string Written(const TempDir& dir, const std::vector<Member>& members, const char* name = "out.res") {
    resarc::WriteArchive(dir / name, members);
    return ReadFile(dir / name);
}

// The zone quest pack measured in the game: names and sizes in data order.
std::vector<Member> Z3q1Members() {
    const std::pair<const char*, std::size_t> kMembers[] = {
        {"briefing z3q1_1", 709}, {"briefing z3q1_2", 251}, {"briefing z3q1_3", 442},
        {"quest z3q1", 344},      {"z3q1\\map.txt", 183},   {"z3q1\\quest.reg", 372},
    };
    std::vector<Member> members;
    unsigned seed = 1;
    for (const auto& [name, size] : kMembers) members.push_back(InMemory(name, Filler(size, seed++)));
    return members;
}

}  // namespace

// ---------------------------------------------------------------------------
// Layout

TEST(ArchiveLayout, RebuildsTheMeasuredZoneQuestPack) {
    const std::vector<Member> members = Z3q1Members();
    const resarc::Layout layout = resarc::PlanArchive(members, "z3q1.mq");
    EXPECT_EQ(layout.offsets, (std::vector<std::uint32_t>{16, 736, 992, 1440, 1792, 1984}));
    EXPECT_EQ(layout.slots, (std::vector<std::uint32_t>{5, 0, 1, 4, 3, 2}));
    EXPECT_EQ(layout.nextOfSlot, (std::vector<std::int32_t>{-1, -1, -1, 2, -1, 4}));
    EXPECT_EQ(layout.nameOffsets, (std::vector<std::uint32_t>{0, 15, 30, 45, 55, 67}));
    EXPECT_EQ(layout.tableOffset, 2368u);
    EXPECT_EQ(layout.namesSize, 81u);
    EXPECT_EQ(layout.fileSize, 2581u);

    TempDir dir;
    const std::string bytes = Written(dir, members, "z3q1.mq");
    ASSERT_EQ(bytes.size(), 2581u);
    EXPECT_EQ(bytes.substr(0, 16), std::string("\x3C\xE2\x9C\x01\x06\0\0\0\x40\x09\0\0\x51\0\0\0", 16));
    // Padding after the last member, up to the table, is zeros.
    EXPECT_EQ(bytes.substr(1984 + 372, 12), std::string(12, '\0'));
    EXPECT_EQ(bytes.substr(2368 + 6 * 22), "briefing z3q1_1briefing z3q1_2briefing z3q1_3quest z3q1z3q1\\map.txtz3q1\\quest.reg");

    const Archive archive = Archive::Open(dir / "z3q1.mq");
    ASSERT_EQ(archive.Entries().size(), 6u);
    for (std::size_t i = 0; i < members.size(); ++i) {
        const resarc::Entry& entry = archive.Entries()[i];
        EXPECT_EQ(entry.name, members[i].name);
        EXPECT_EQ(entry.offset, layout.offsets[i]);
        EXPECT_EQ(entry.slot, layout.slots[i]);
        EXPECT_EQ(entry.size, members[i].Size());
        EXPECT_EQ(entry.time, kZ3q1Time);
        EXPECT_EQ(archive.Read(entry), std::get<std::string>(members[i].data));
        EXPECT_EQ(archive.Find(entry.name), &entry);
    }
    EXPECT_EQ(resarc::FormatTime(kZ3q1Time), "2001-04-04 10:11:08");
}

TEST(ArchiveLayout, EmptyArchiveHasItsTableAfterTheHeader) {
    TempDir dir;
    const std::string bytes = Written(dir, {});
    EXPECT_EQ(bytes, std::string("\x3C\xE2\x9C\x01\0\0\0\0\x10\0\0\0\0\0\0\0", 16));
    const Archive archive = Archive::Open(dir / "out.res");
    EXPECT_TRUE(archive.Entries().empty());
    EXPECT_EQ(archive.Find("anything"), nullptr);
}

TEST(ArchiveLayout, ChainsTakeTheHighestFreeSlotAndLinkFromTheirEnd) {
    // "a", "a" + 16 x "\0"... would be awkward names; all names here sum to
    // the same value modulo 4 by construction: "ad" = "bc" = "cb" = "da".
    const std::vector<Member> members = {InMemory("ad", "1"), InMemory("bc", "2"), InMemory("cb", "3"),
                                         InMemory("da", "4")};
    const resarc::Layout layout = resarc::PlanArchive(members, "t");
    const std::uint32_t home = resarc::HomeSlot("ad", 4);
    ASSERT_EQ(home, resarc::HomeSlot("da", 4));
    std::vector<std::uint32_t> expected = {home};
    for (std::uint32_t slot = 4; slot-- > 0 && expected.size() < 4;) {
        if (slot != home) expected.push_back(slot);
    }
    EXPECT_EQ(layout.slots, expected);
    // One chain, in insertion order.
    std::int32_t slot = static_cast<std::int32_t>(home);
    for (std::size_t i = 0; i < 4; ++i, slot = layout.nextOfSlot[static_cast<std::size_t>(slot)]) {
        EXPECT_EQ(static_cast<std::uint32_t>(slot), layout.slots[i]);
    }
    EXPECT_EQ(slot, -1);
}

TEST(ArchiveLayout, HashLowerCasesAsciiAndSumsUnsignedBytes) {
    struct Case {
        std::string name;
        std::uint32_t sum;
    };
    const Case kCases[] = {
        {"abc", 'a' + 'b' + 'c'},
        {"ABC", 'a' + 'b' + 'c'},
        {"Z3Q1\\MAP.TXT", 'z' + '3' + 'q' + '1' + '\\' + 'm' + 'a' + 'p' + '.' + 't' + 'x' + 't'},
        // Cyrillic capitals keep their bytes: only ASCII letters are lower-cased.
        {"\xC0\xE0", 0xC0 + 0xE0},
        {"\xFF\xFF\xFF", 3 * 0xFF},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(resarc::HomeSlot(c.name, 1000003), c.sum) << c.name;
        EXPECT_EQ(resarc::HomeSlot(c.name, 7), c.sum % 7) << c.name;
    }
}

// ---------------------------------------------------------------------------
// Byte-identical rewrites

struct RewriteCase {
    const char* label;
    std::vector<Member> members;
};

class ArchiveRewrite : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(ArchiveRewrite, GivesTheSameBytes) {
    TempDir dir;
    const std::string first = Written(dir, GetParam().members, "first.res");
    const Archive archive = Archive::Open(dir / "first.res");
    ASSERT_EQ(archive.Entries().size(), GetParam().members.size());
    for (const resarc::Entry& entry : archive.Entries()) {
        const resarc::Entry* found = archive.Find(entry.name);
        ASSERT_NE(found, nullptr) << resarc::Cp1251ToUtf8(entry.name);
        EXPECT_TRUE(resarc::SameName(found->name, entry.name));
    }
    EXPECT_EQ(Written(dir, archive.Members(), "second.res"), first);
    // Rewriting in place reads the members from the file being replaced.
    resarc::WriteArchive(dir / "first.res", archive.Members());
    EXPECT_EQ(ReadFile(dir / "first.res"), first);
    // The same from memory.
    const Archive inMemory = Archive::FromMemory(first, "mem");
    EXPECT_EQ(Written(dir, inMemory.Members(), "third.res"), first);
}

std::vector<Member> Generated(std::size_t count, unsigned seed, bool cyrillic, bool emptyMembers) {
    std::mt19937 random(seed);
    std::vector<Member> members;
    for (std::size_t i = 0; i < count; ++i) {
        std::string name = (cyrillic && i % 2 ? resarc::Utf8ToCp1251("Данные\\Предмет").value() : std::string("data\\item")) +
                           std::to_string(i) + (i % 3 ? ".TXT" : ".idb");
        const std::size_t size = emptyMembers && i % 3 == 0 ? 0 : random() % 100;
        members.push_back(InMemory(std::move(name), Filler(size, seed + static_cast<unsigned>(i)),
                                   static_cast<std::int32_t>(random())));
    }
    return members;
}

INSTANTIATE_TEST_SUITE_P(
    Archives, ArchiveRewrite,
    ::testing::Values(
        RewriteCase{"Z3q1", Z3q1Members()},
        RewriteCase{"OneMember", {InMemory("a", "x")}},
        RewriteCase{"OnlyEmptyMembers", {InMemory("a", ""), InMemory("b", ""), InMemory("c", "")}},
        RewriteCase{"EmptyBetween", {InMemory("a", "0123456789abcdef"), InMemory("b", ""), InMemory("c", "z")}},
        RewriteCase{"AllInOneChain", {InMemory("ad", "1"), InMemory("bc", ""), InMemory("cb", "3"), InMemory("da", "4")}},
        // Names that differ only in case: the same home slot, one chain;
        // a found member is one of the two.
        RewriteCase{"CaseTwins", {InMemory("Items.idb", "1"), InMemory("ITEMS.IDB", "2"), InMemory("items.idb", "3")}},
        RewriteCase{"CyrillicTwins",
                    {InMemory(resarc::Utf8ToCp1251("Карта.txt").value(), "1"),
                     InMemory(resarc::Utf8ToCp1251("карта.txt").value(), "2")}},
        RewriteCase{"Generated", Generated(200, 7, false, false)},
        RewriteCase{"GeneratedCyrillicWithEmpties", Generated(300, 11, true, true)},
        RewriteCase{"LargeMember", {InMemory("big", Filler(300000, 3)), InMemory("small", "s")}},
        RewriteCase{"NegativeAndLateTimes",
                    {InMemory("old", "1", -1), InMemory("late", "2", 0x7FFFFFFF), InMemory("zero", "3", 0)}}),
    [](const ::testing::TestParamInfo<RewriteCase>& param) { return std::string(param.param.label); });

// ---------------------------------------------------------------------------
// Lookups

TEST(ArchiveFind, IgnoresCaseOfLatinAndCyrillicLetters) {
    TempDir dir;
    const std::string stored = resarc::Utf8ToCp1251("Квесты\\Zone1.TXT").value();
    Written(dir, {InMemory(stored, "q"), InMemory("Items.idb", "i"), InMemory("odd/slash.txt", "s")});
    const Archive archive = Archive::Open(dir / "out.res");
    for (const char* utf8 : {"Квесты\\Zone1.TXT", "квесты\\zone1.txt", "КВЕСТЫ/ZONE1.txt", "кВеСтЫ/zOnE1.TxT"}) {
        const resarc::Entry* entry = archive.FindUtf8(utf8);
        ASSERT_NE(entry, nullptr) << utf8;
        EXPECT_EQ(entry->name, stored);
    }
    EXPECT_NE(archive.FindUtf8("ITEMS.IDB"), nullptr);
    // A `/` stored in a name is found as it is.
    ASSERT_NE(archive.FindUtf8("ODD/slash.txt"), nullptr);
    EXPECT_EQ(archive.FindUtf8("ODD/slash.txt")->name, "odd/slash.txt");
    for (const char* utf8 : {"Items.id", "Items.idbx", "Квесты", "zone1.txt", "\xFF"}) {
        EXPECT_EQ(archive.FindUtf8(utf8), nullptr) << utf8;
    }
}

// Another writer may have hashed bytes >= 0x80 differently: signed chars, or
// Windows-1251 lower case. Each such archive opens and every member is found.
TEST(ArchiveFind, FindsNamesHashedByOtherRulesForHighBytes) {
    const std::string capital = resarc::Utf8ToCp1251("Ж").value();   // 0xC6
    const std::string name = capital + "x";
    const auto signedSum = [](std::string_view text, bool fullLower) {
        std::int32_t sum = 0;
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            sum += static_cast<signed char>(fullLower ? resarc::Cp1251Lower(byte) : resarc::AsciiLower(byte));
        }
        return static_cast<std::uint32_t>(sum);
    };
    const auto unsignedSum = [](std::string_view text) {
        std::uint32_t sum = 0;
        for (const char c : text) sum += resarc::Cp1251Lower(static_cast<unsigned char>(c));
        return sum;
    };
    struct Case {
        const char* label;
        std::uint32_t hash;
    };
    const Case kCases[] = {
        {"signed chars", signedSum(name, false)},
        {"signed chars, Cyrillic lower case", signedSum(name, true)},
        {"unsigned, Cyrillic lower case", unsignedSum(name)},
    };
    constexpr std::uint32_t kCount = 5;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.label);
        const std::uint32_t home = c.hash % kCount;
        ASSERT_NE(home, resarc::HomeSlot(name, kCount)) << "the case would not test another rule";
        // Four ASCII fillers in the other slots, each in its own home.
        std::vector<RawEntry> entries = {{name, "data", home, -1, 0}};
        std::uint32_t slot = 0;
        for (char letter = 'a'; entries.size() < kCount; ++letter) {
            const std::string filler(1, letter);
            const std::uint32_t fillerHome = resarc::HomeSlot(filler, kCount);
            if (fillerHome == home || std::any_of(entries.begin(), entries.end(),
                                                  [&](const RawEntry& e) { return e.slot == fillerHome; })) {
                continue;
            }
            entries.push_back({filler, filler, fillerHome, -1, 0});
            ++slot;
        }
        const Archive archive = Archive::FromMemory(RawArchive(entries).Bytes(), "other.res");
        for (const RawEntry& entry : entries) {
            const resarc::Entry* found = archive.Find(entry.name);
            ASSERT_NE(found, nullptr) << entry.name;
            EXPECT_EQ(archive.Read(*found), entry.data);
        }
        EXPECT_NE(archive.FindUtf8("жX"), nullptr);
    }
}

// ---------------------------------------------------------------------------
// Edits

TEST(ArchiveEdit, AddReplaceRemoveKeepOrderAndTimesOfTheOthers) {
    TempDir dir;
    WriteFile(dir / "new.txt", "new member");
    WriteFile(dir / "replacement.txt", "replaced data, longer than before");
    Written(dir, Z3q1Members(), "z.mq");
    const std::int32_t before = resarc::CurrentTime();

    std::vector<Member> members = Archive::Open(dir / "z.mq").Members();
    resarc::AddMember(members, resarc::MemberFromFile(dir / "new.txt", "z3q1\\new.txt"), "z.mq");
    resarc::ReplaceMember(members, resarc::MemberFromFile(dir / "replacement.txt", "QUEST Z3Q1"), "z.mq");
    resarc::RemoveMember(members, "Briefing Z3Q1_2", "z.mq");
    resarc::WriteArchive(dir / "z.mq", members);

    const Archive archive = Archive::Open(dir / "z.mq");
    const std::vector<std::string> kNames = {"briefing z3q1_1", "briefing z3q1_3", "quest z3q1",
                                             "z3q1\\map.txt",    "z3q1\\quest.reg",  "z3q1\\new.txt"};
    ASSERT_EQ(archive.Entries().size(), kNames.size());
    const std::vector<Member> original = Z3q1Members();
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        const resarc::Entry& entry = archive.Entries()[i];
        EXPECT_EQ(entry.name, kNames[i]);
        ASSERT_EQ(archive.Find(entry.name), &entry);
        const bool changed = kNames[i] == "quest z3q1" || kNames[i] == "z3q1\\new.txt";
        if (changed) {
            EXPECT_GE(entry.time, before) << kNames[i];
            continue;
        }
        EXPECT_EQ(entry.time, kZ3q1Time) << kNames[i];
        const auto source = std::find_if(original.begin(), original.end(),
                                         [&](const Member& m) { return m.name == kNames[i]; });
        EXPECT_EQ(archive.Read(entry), std::get<std::string>(source->data)) << kNames[i];
    }
    EXPECT_EQ(archive.Read(*archive.Find("quest z3q1")), "replaced data, longer than before");
    EXPECT_EQ(archive.Read(*archive.Find("z3q1\\new.txt")), "new member");
}

TEST(ArchiveEdit, RefusesEditsThatDoNotApply) {
    std::vector<Member> members = {InMemory("Карта", "1"), InMemory("a.txt", "2")};
    members[0].name = resarc::Utf8ToCp1251("Карта").value();
    const std::vector<Member> before = members;
    struct Case {
        const char* label;
        std::function<void()> edit;
        const char* message;
    };
    const Case kCases[] = {
        {"add existing", [&] { resarc::AddMember(members, InMemory("A.TXT", ""), "x.res"); },
         "archive \"x.res\": already has a member \"A.TXT\""},
        {"add Cyrillic twin", [&] { resarc::AddMember(members, InMemory(resarc::Utf8ToCp1251("кАРТА").value(), ""), "x.res"); },
         "already has a member \"кАРТА\""},
        {"add empty name", [&] { resarc::AddMember(members, InMemory("", ""), "x.res"); }, "needs a name"},
        {"replace missing", [&] { resarc::ReplaceMember(members, InMemory("b.txt", ""), "x.res"); },
         "has no member \"b.txt\" to replace"},
        {"remove missing", [&] { resarc::RemoveMember(members, "b.txt", "x.res"); }, "has no member \"b.txt\" to remove"},
    };
    for (const Case& c : kCases) {
        try {
            c.edit();
            ADD_FAILURE() << c.label << ": no error";
        } catch (const resarc::ArchiveError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << c.label << ": " << error.what();
        }
        ASSERT_EQ(members.size(), before.size()) << c.label;
    }
}

TEST(ArchiveWrite, FailureLeavesTheTargetAndNoTemporaryFile) {
    TempDir dir;
    const std::string original = Written(dir, Z3q1Members(), "z.mq");
    std::vector<Member> members = Archive::Open(dir / "z.mq").Members();
    members.push_back(Member{"gone", 0, resarc::FileRegion{dir / "missing.txt", 0, 10}});
    EXPECT_THROW(resarc::WriteArchive(dir / "z.mq", members), resarc::ArchiveError);
    // A member file that shrank after it was measured.
    WriteFile(dir / "short.txt", "12345");
    members.back() = Member{"short", 0, resarc::FileRegion{dir / "short.txt", 0, 10}};
    try {
        resarc::WriteArchive(dir / "z.mq", members);
        ADD_FAILURE() << "no error";
    } catch (const resarc::ArchiveError& error) {
        EXPECT_NE(std::string(error.what()).find("ends early at offset 5"), std::string::npos) << error.what();
    }
    EXPECT_EQ(ReadFile(dir / "z.mq"), original);
    std::vector<std::string> files;
    for (const auto& item : fs::directory_iterator(dir.path())) files.push_back(item.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"short.txt", "z.mq"}));
}

// ---------------------------------------------------------------------------
// Reading members

TEST(ArchiveRead, StreamsALargeMemberInPiecesAndGivesItsRegion) {
    TempDir dir;
    const std::string big = Filler(200000, 9);
    Written(dir, {InMemory("small", "abc"), InMemory("big", big)});
    const Archive archive = Archive::Open(dir / "out.res");
    const resarc::Entry& entry = *archive.Find("BIG");
    std::size_t pieces = 0;
    std::string joined;
    archive.Stream(entry, [&](std::string_view piece) {
        EXPECT_LE(piece.size(), 64u * 1024);
        ++pieces;
        joined += piece;
    });
    EXPECT_EQ(pieces, 4u);
    EXPECT_EQ(joined, big);
    const resarc::FileRegion region = archive.Region(entry);
    EXPECT_EQ(region.offset, 32u);
    EXPECT_EQ(region.length, big.size());
    EXPECT_EQ(ReadFile(region.path).substr(32, big.size()), big);

    archive.Extract(entry, dir / "big.bin");
    EXPECT_EQ(ReadFile(dir / "big.bin"), big);
    EXPECT_THROW(archive.Extract(entry, dir / "out.res"), resarc::ArchiveError);
    EXPECT_EQ(archive.Read(*archive.Find("small")), "abc");
}

TEST(ArchiveRead, SafeRelativePathRefusesNamesThatLeaveTheFolder) {
    struct Case {
        std::string name;
        std::string expected;   // generic form; empty = refused
    };
    const Case kCases[] = {
        {"a.txt", "a.txt"},
        {"z3q1\\map.txt", "z3q1/map.txt"},
        {resarc::Utf8ToCp1251("Квесты\\карта.txt").value(), "Квесты/карта.txt"},
        {"..\\evil", ""},
        {"a\\..\\..\\evil", ""},
        {"\\root", ""},
        {"a\\", ""},
        {"a\\\\b", ""},
        {".", ""},
        {"", ""},
        {"C:\\evil", ""},
        {"c:evil", ""},
        {"a/../../evil", ""},
        {"/etc/passwd", ""},
        {"stream:name", ""},
        {std::string("a\nb"), ""},
        {std::string("a\0b", 3), ""},
        {"con", ""},
        {"data\\NUL.txt", ""},
        {"com1.idb", ""},
        {"Lpt9", ""},
        {"console.txt", "console.txt"},
        {"com10.txt", "com10.txt"},
        {"a.", ""},
        {"a \\b", ""},
        {"what?.txt", ""},
        {"a<b>", ""},
        {"a|b", ""},
        {"\"q\"", ""},
        {"star*", ""},
        {"a.b c", "a.b c"},
    };
    for (const Case& c : kCases) {
        const std::u8string path = resarc::SafeRelativePath(c.name).generic_u8string();
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(path.data()), path.size()), c.expected)
            << resarc::Cp1251ToUtf8(c.name);
    }
}

TEST(ArchiveTime, FormatsAsUtc) {
    const std::pair<std::int32_t, const char*> kCases[] = {
        {0, "1970-01-01 00:00:00"},
        {-1, "1969-12-31 23:59:59"},
        {kZ3q1Time, "2001-04-04 10:11:08"},
        {951782400, "2000-02-29 00:00:00"},
        {0x7FFFFFFF, "2038-01-19 03:14:07"},
        {INT32_MIN, "1901-12-13 20:45:52"},
    };
    for (const auto& [time, text] : kCases) EXPECT_EQ(resarc::FormatTime(time), text) << time;
}
