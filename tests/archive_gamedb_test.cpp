// Databases inside archives: ARCHIVE:MEMBER arguments, and a whole archive
// unpacked into a folder and packed back.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/fresh_layout.h"
#include "archive/cp1251.h"
#include "archive/file_util.h"
#include "gamedb/archive_folder.h"
#include "gamedb/archive_member.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "gamedb/unpack.h"
#include "tests/support/gamedb_gen.h"
#include "tests/support/idb_builder.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using idb::testing::ReadFile;
using idb::testing::TempDir;
using idb::testing::WriteFile;

namespace {

constexpr std::int32_t kOldTime = 0x3ACAF33C;

std::string Utf8(const fs::path& path) { return resarc::PathToUtf8(path); }

std::string Database(const char* kind, std::uint64_t seed) {
    gamedb::testing::GenOptions options;
    options.seed = seed;
    options.minRecords = 1;
    options.maxRecords = 3;
    const gamedb::testing::Bytes bytes = gamedb::testing::Serialize(gamedb::testing::Generate(*gamedb::FindKind(kind), options));
    return std::string(bytes.begin(), bytes.end());
}

resarc::Member Old(const std::string& utf8Name, std::string data) {
    return resarc::Member{*resarc::Utf8ToCp1251(utf8Name), kOldTime, std::move(data)};
}

// An archive with databases of several kinds beside plain files, one with a
// Cyrillic folder.
std::vector<resarc::Member> GameArchive() {
    return {Old("briefing z3q1_1", "Текст брифинга\r\n"),
            Old("Data\\Items.idb", Database("items", 1)),
            Old("z3q1\\map.txt", "map"),
            Old("Данные\\units.udb", Database("units", 2)),
            Old("empty.txt", ""),
            Old("acks.db", Database("acks", 3))};
}

// Replaces the first occurrence of `from` by `to` in a file.
void Edit(const fs::path& path, const std::string& from, const std::string& to) {
    std::string text = ReadFile(path);
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    WriteFile(path, text);
}

}  // namespace

TEST(ArchiveMemberArgument, SplitsAtTheLastColonOutsideADrive) {
    TempDir dir;
    WriteFile(dir / "a.res", "x");
    WriteFile(dir / "odd:name.idb", "x");
    const std::string a = Utf8(dir / "a.res");
    struct Case {
        std::string arg;
        bool split;
        std::string archive;
        std::string member;
    };
    const Case kCases[] = {
        {a + ":Items.idb", true, a, "Items.idb"},
        {a + ":data\\Items.idb", true, a, "data\\Items.idb"},
        {a + ":a:b.idb", false, "", ""},            // "a.res:a" is no file
        {Utf8(dir / "odd:name.idb"), false, "", ""}, // an existing file as it is
        {a, false, "", ""},
        {a + ":", false, "", ""},
        {"C:\\game\\Items.idb", false, "", ""},
        {"c:Items.idb", false, "", ""},
        {":Items.idb", false, "", ""},
        {Utf8(dir / "missing.res") + ":Items.idb", false, "", ""},
    };
    for (const Case& c : kCases) {
        const std::optional<gamedb::MemberArgument> split = gamedb::SplitMemberArgument(c.arg);
        ASSERT_EQ(split.has_value(), c.split) << c.arg;
        if (!split) continue;
        EXPECT_EQ(split->archive, c.archive);
        EXPECT_EQ(split->member, c.member);
    }
}

TEST(ArchiveMemberArgument, OpensAMemberInPlaceLikeTheFileItself) {
    TempDir dir;
    resarc::WriteArchive(dir / "game.res", GameArchive());
    const std::string items = Database("items", 1);
    WriteFile(dir / "Items.idb", items);

    gamedb::MemoryFolder fromArchive, fromFile;
    gamedb::OpenedDatabase member = gamedb::OpenDatabase(Utf8(dir / "game.res") + ":DATA/items.IDB");
    EXPECT_EQ(member.kind->name, "items");
    EXPECT_EQ(member.label, "\"" + Utf8(dir / "game.res") + ":Data\\Items.idb\"");
    EXPECT_EQ(member.source->Size(), items.size());
    gamedb::Unpack(*member.source, *member.kind, fromArchive);
    gamedb::OpenedDatabase file = gamedb::OpenDatabase(Utf8(dir / "Items.idb"));
    gamedb::Unpack(*file.source, *file.kind, fromFile);
    EXPECT_EQ(fromArchive.Files(), fromFile.Files());

    // A Cyrillic member name, and --kind for a name that tells none.
    EXPECT_EQ(gamedb::OpenDatabase(Utf8(dir / "game.res") + ":данные/UNITS.udb").kind->name, "units");
    EXPECT_EQ(gamedb::OpenDatabase(Utf8(dir / "game.res") + ":empty.txt", "levers").kind->name, "levers");
}

TEST(ArchiveMemberArgument, MistakesAreNamed) {
    TempDir dir;
    resarc::WriteArchive(dir / "game.res", GameArchive());
    const std::string archive = Utf8(dir / "game.res");
    struct Case {
        std::string arg;
        bool usage;
        std::string message;
    };
    const Case kCases[] = {
        {archive + ":missing.idb", false, "\"" + archive + "\": the archive has no member \"missing.idb\""},
        {archive + ":z3q1/map.txt", true, "cannot tell the kind of database from the name \"z3q1\\map.txt\""},
        {archive, true, "is an archive; name a database in it as ARCHIVE:MEMBER, one of:\n  Data\\Items.idb\n"
                        "  Данные\\units.udb\n  acks.db"},
    };
    for (const Case& c : kCases) {
        try {
            gamedb::OpenDatabase(c.arg);
            ADD_FAILURE() << c.arg << ": no error";
        } catch (const gamedb::UsageError& error) {
            EXPECT_TRUE(c.usage) << error.what();
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        } catch (const gamedb::Error& error) {
            EXPECT_FALSE(c.usage) << error.what();
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
    WriteFile(dir / "bad.res", std::string("\x3C\xE2\x9C\x01\x05\0\0\0", 8));
    EXPECT_THROW(gamedb::OpenDatabase(Utf8(dir / "bad.res") + ":Items.idb"), gamedb::Error);
}

TEST(ArchiveFolder, UnpackThenPackGivesTheSameArchive) {
    TempDir dir;
    resarc::WriteArchive(dir / "game.res", GameArchive());
    const std::string original = ReadFile(dir / "game.res");

    const gamedb::ArchiveFolderSummary unpacked = gamedb::UnpackArchive(dir / "game.res", dir / "out");
    EXPECT_EQ(unpacked.databases, 3u);
    EXPECT_EQ(unpacked.files, 3u);
    EXPECT_TRUE(fs::is_regular_file(dir / "out" / "Data" / "Items.idb" / "manifest.txt"));
    EXPECT_TRUE(fs::is_regular_file(dir / "out" / resarc::PathFromUtf8("Данные/units.udb/manifest.txt")));
    EXPECT_EQ(ReadFile(dir / "out" / "z3q1" / "map.txt"), "map");
    EXPECT_EQ(ReadFile(dir / "out" / "empty.txt"), "");
    EXPECT_TRUE(gamedb::IsArchiveFolder(dir / "out"));
    EXPECT_FALSE(gamedb::IsArchiveFolder(dir / "out" / "Data" / "Items.idb"));

    const gamedb::ArchiveFolderSummary packed = gamedb::PackArchive(dir / "out", dir / "copy.res");
    EXPECT_TRUE(packed.replaced.empty());
    EXPECT_EQ(packed.kept, 6u);
    EXPECT_EQ(ReadFile(dir / "copy.res"), original);
    // Over the recorded archive itself.
    gamedb::PackArchive(dir / "out", dir / "game.res");
    EXPECT_EQ(ReadFile(dir / "game.res"), original);
}

TEST(ArchiveFolder, PackReplacesOnlyWhatChanged) {
    TempDir dir;
    resarc::WriteArchive(dir / "game.res", GameArchive());
    gamedb::UnpackArchive(dir / "game.res", dir / "out");
    const fs::path acks = dir / "out" / "acks.db";
    std::string firstTable;
    for (const auto& file : fs::directory_iterator(acks)) {
        if (file.path().filename() != "manifest.txt") firstTable = file.path().filename().string();
    }
    // One row fewer in one table of acks.db, and a changed plain file.
    std::string table = ReadFile(acks / firstTable);
    const std::size_t lastRow = table.rfind("\r\n", table.size() - 3);
    ASSERT_NE(lastRow, std::string::npos);
    table.resize(lastRow + 2);
    WriteFile(acks / firstTable, table);
    Edit(dir / "out" / "z3q1" / "map.txt", "map", "new map");
    const std::int32_t before = resarc::CurrentTime();

    const gamedb::ArchiveFolderSummary packed = gamedb::PackArchive(dir / "out", dir / "game.res");
    EXPECT_EQ(packed.replaced, (std::vector<std::string>{"z3q1\\map.txt", "acks.db"}));
    EXPECT_EQ(packed.kept, 4u);

    const resarc::Archive archive = resarc::Archive::Open(dir / "game.res");
    const std::vector<resarc::Member> original = GameArchive();
    ASSERT_EQ(archive.Entries().size(), original.size());
    for (std::size_t i = 0; i < original.size(); ++i) {
        const resarc::Entry& entry = archive.Entries()[i];
        EXPECT_EQ(entry.name, original[i].name);
        const bool changed = entry.name == "z3q1\\map.txt" || entry.name == "acks.db";
        if (changed) {
            EXPECT_GE(entry.time, before);
            EXPECT_NE(archive.Read(entry), std::get<std::string>(original[i].data));
        } else {
            EXPECT_EQ(entry.time, kOldTime);
            EXPECT_EQ(archive.Read(entry), std::get<std::string>(original[i].data));
        }
    }
    EXPECT_EQ(archive.Read(*archive.Find("z3q1\\map.txt")), "new map");
    // The rewritten database unpacks to the edited tables.
    gamedb::MemoryFolder tables;
    gamedb::OpenedDatabase db = gamedb::OpenDatabase(Utf8(dir / "game.res") + ":acks.db");
    gamedb::Unpack(*db.source, *db.kind, tables);
    EXPECT_EQ(tables.Files()[firstTable], table);
    // No temporary file is left beside the archive.
    std::vector<std::string> names;
    for (const auto& file : fs::directory_iterator(dir.path())) names.push_back(file.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"game.res", "out"}));
}

TEST(ArchiveFolder, APackThatFailsWritesNothing) {
    TempDir dir;
    resarc::WriteArchive(dir / "game.res", GameArchive());
    const std::string original = ReadFile(dir / "game.res");
    gamedb::UnpackArchive(dir / "game.res", dir / "out");
    const fs::path items = dir / "out" / "Data" / "Items.idb";
    // A bad cell: the number column "id" (the fourth) given text.
    const fs::path materials = items / "materials.tsv";
    std::string table = ReadFile(materials);
    ASSERT_NE(table.find("name\tkind\tcode\tid\t"), std::string::npos);
    std::size_t cell = table.find("\r\n") + 2;
    for (int column = 0; column < 3; ++column) cell = table.find('\t', cell) + 1;
    table.replace(cell, table.find('\t', cell) - cell, "not a number");
    WriteFile(materials, table);
    EXPECT_THROW(gamedb::PackArchive(dir / "out", dir / "game.res"), gamedb::Error);
    EXPECT_TRUE(ReadFile(dir / "game.res") == original);
    std::vector<std::string> names;
    for (const auto& file : fs::directory_iterator(dir.path())) names.push_back(file.path().filename().string());
    EXPECT_EQ(names.size(), 2u);
}

TEST(ArchiveFolder, RefusesMembersThatCannotBeFilesInTheFolder) {
    struct Case {
        const char* label;
        std::vector<resarc::Member> members;
        const char* message;
    };
    const Case kCases[] = {
        {"parent", {Old("..\\evil.txt", "x")}, "the member \"..\\evil.txt\" has a name that cannot be a path"},
        {"drive", {Old("C:\\evil.txt", "x")}, "cannot be a path"},
        {"case twins", {Old("a.txt", "1"), Old("A.TXT", "2")}, "the members \"a.txt\" and \"A.TXT\" would be the same file"},
        {"file as folder", {Old("a", "1"), Old("a\\b.txt", "2")}, "the member \"a\" would be the folder of \"a\\b.txt\""},
        {"folder as file", {Old("a\\b.txt", "2"), Old("A", "1")}, "the member \"A\" would be the folder of \"a\\b.txt\""},
        {"record's name", {Old("~ARCHIVE.txt", "x")}, "has the name of the folder's own record"},
    };
    for (const Case& c : kCases) {
        TempDir dir;
        resarc::WriteArchive(dir / "bad.res", c.members);
        try {
            gamedb::UnpackArchive(dir / "bad.res", dir / "out");
            ADD_FAILURE() << c.label << ": no error";
        } catch (const gamedb::Error& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << c.label << ": " << error.what();
        }
        EXPECT_FALSE(fs::exists(dir / "evil.txt")) << c.label;
        EXPECT_FALSE(fs::exists(dir / "out" / "~archive.txt")) << c.label;
    }
}

TEST(ArchiveFolder, ABadRecordIsNamedWithItsLine) {
    TempDir dir;
    resarc::WriteArchive(dir / "game.res", GameArchive());
    gamedb::UnpackArchive(dir / "game.res", dir / "out");
    const fs::path record = dir / "out" / "~archive.txt";
    const std::string good = ReadFile(record);
    struct Case {
        std::string text;
        std::string message;
    };
    const Case kCases[] = {
        {"format\tgamedb archive 9\n", "row 1: unknown format \"gamedb archive 9\""},
        {good + "colour\tred\n", "row 9: unknown key \"colour\""},
        {good + "member\tz.txt\n", "row 9: expected member<Tab>NAME<Tab>KIND"},
        {good + "member\tz.txt\tspreadsheet\n", "row 9: unknown kind \"spreadsheet\""},
        {good + "member\tnot-there.txt\tfile\n", "has no member \"not-there.txt\" any more"},
        {"format\tgamedb archive 1\n", "does not say which archive it came from"},
    };
    for (const Case& c : kCases) {
        WriteFile(record, c.text);
        try {
            gamedb::PackArchive(dir / "out", dir / "copy.res");
            ADD_FAILURE() << c.message << ": no error";
        } catch (const gamedb::Error& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
        EXPECT_FALSE(fs::exists(dir / "copy.res"));
    }
    // The record is never the output.
    WriteFile(record, good);
    EXPECT_THROW(gamedb::PackArchive(dir / "out", record), gamedb::Error);
    EXPECT_EQ(ReadFile(record), good);
    // Saved by an editor with a byte-order mark and CR LF: still read.
    std::string crlf = "\xEF\xBB\xBF";
    for (const char ch : good) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    WriteFile(record, crlf);
    EXPECT_NO_THROW(gamedb::PackArchive(dir / "out", dir / "copy.res"));
}
