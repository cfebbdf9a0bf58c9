// Animation databases inside an archive laid out like the game's
// database.res, and the gamedb program on an .adb as a user runs it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "archive/archive.h"
#include "archive/fresh_layout.h"
#include "gamedb/archive_folder.h"
#include "gamedb/database.h"
#include "tests/support/adb_gen.h"
#include "tests/support/gamedb_gen.h"
#include "tests/support/idb_builder.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace gamedb::testing {
namespace {

namespace fs = std::filesystem;
using idb::testing::Quote;
using idb::testing::ReadFile;
using idb::testing::TempDir;
using idb::testing::WriteFile;

std::string Text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Eight databases, then 30 animation databases of every layout, by name.
std::vector<resarc::Member> DatabaseRes() {
    const char* names[] = {"items.idb", "levers.ldb", "perks.pdb", "prints.db", "spells.sdb", "units.udb", "quests.qdb", "acks.db"};
    std::vector<resarc::Member> members;
    for (std::size_t k = 0; k < Kinds().size(); ++k) {
        GenOptions options;
        options.seed = k + 1;
        options.maxRecords = 3;
        members.push_back({names[k], 0x3ACAF33C, Text(Serialize(Generate(*KindForFileName(names[k]), options)))});
    }
    for (int i = 0; i < 30; ++i) {
        AdbGenOptions options;
        options.seed = static_cast<std::uint64_t>(100 + i);
        options.recordSize = i == 0 ? 36 : i < 4 ? 84 : 88;
        options.irregularRate = i % 5 == 0 ? 0.2 : 0;
        members.push_back({"unmo" + std::to_string(i) + ".adb", 0x3ACAF33C + i, Text(SerializeAdb(GenerateAdb(options)))});
    }
    return members;
}

TEST(GamedbAdbArchive, ADatabaseResUnpacksWithNoOpaqueMemberAndPacksBack) {
    TempDir dir;
    resarc::WriteArchive(dir / "database.res", DatabaseRes());
    const ArchiveFolderSummary unpacked = UnpackArchive(dir / "database.res", dir / "mod");
    EXPECT_EQ(unpacked.files, 0u);
    EXPECT_EQ(unpacked.databases, 38u);
    EXPECT_TRUE(fs::is_regular_file(dir / "mod" / "unmo0.adb" / "manifest.txt"));
    EXPECT_NE(ReadFile(dir / "mod" / "~archive.txt").find("member\tunmo7.adb\tanims\n"), std::string::npos);

    PackArchive(dir / "mod", dir / "copy.res");
    EXPECT_EQ(ReadFile(dir / "copy.res"), ReadFile(dir / "database.res"));
}

TEST(GamedbAdbArchive, TheProgramWorksOnAnAdbAloneAndAsAMember) {
    TempDir dir;
    resarc::WriteArchive(dir / "database.res", DatabaseRes());
    AdbGenOptions options;
    options.seed = 3;
    options.minClips = 2;
    const std::vector<std::uint8_t> goblin = SerializeAdb(GenerateAdb(options));
    WriteFile(dir / "unmogo.adb", Text(goblin));
    const auto run = [&](const std::string& args) { return idb::testing::RunProgram(dir, GAMEDB_PATH, args); };

    auto r = run("unpack unmogo.adb goblin");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("(anims)"), std::string::npos) << r.err;
    r = run("pack goblin again.adb");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "again.adb"), Text(goblin));
    r = run("check unmogo.adb");
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find(" clips, 0 problems"), std::string::npos) << r.out;
    r = run("diff unmogo.adb database.res:unmo5.adb");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("clips: "), std::string::npos) << r.out;

    // A member alone: unpacked, and packed back into its archive with the same bytes.
    r = run("unpack database.res:unmo1.adb one");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = run("pack one database.res:unmo1.adb");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const resarc::Archive archive = resarc::Archive::Open(dir / "database.res");
    archive.Extract(*archive.FindUtf8("unmo1.adb"), dir / "member.adb");
    EXPECT_TRUE(ReadFile(dir / "member.adb") == std::get<std::string>(DatabaseRes()[9].data));
    r = run("check database.res:unmo1.adb");
    EXPECT_EQ(r.exitCode, 0) << r.out;

    // Tables of an animation database are not written under another kind's name.
    r = run("pack goblin items.idb");
    EXPECT_EQ(r.exitCode, 2) << r.err;
}

}  // namespace
}  // namespace gamedb::testing
