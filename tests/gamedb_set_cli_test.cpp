// check over a set and pack's reference warnings, as a modder runs them:
// files, a folder with unpacked tables, an archive with animation members.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "archive/archive.h"
#include "archive/fresh_layout.h"
#include "tests/support/adb_gen.h"
#include "gamedb/set_engine.h"
#include "tests/support/gamedb_world.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace gamedb {
namespace {

namespace fs = std::filesystem;
using idb::testing::RunResult;
using idb::testing::TempDir;

RunResult Gamedb(const TempDir& dir, const std::string& args) { return idb::testing::RunProgram(dir, GAMEDB_PATH, args); }

bool Contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

std::string Slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void Spit(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Renames a material in an unpacked items folder, as a spreadsheet edit would.
void RenameInTable(const fs::path& table, const std::string& from, const std::string& to) {
    std::string text = Slurp(table);
    const std::size_t at = text.find("\n" + from + "\t");
    ASSERT_NE(at, std::string::npos) << table;
    text.replace(at + 1, from.size(), to);
    Spit(table, text);
}

TEST(GamedbSetCli, FilesAndFoldersExitStatus) {
    TempDir dir("gamedb-set");
    testing::World world = testing::MakeWorld(9);
    fs::create_directories(dir / "game");
    testing::WriteWorld(world, dir / "game");
    testing::World known = world;
    known.Row("items.materials", "wool")["code"] = testing::Text("br");
    known.Row("items.materials", "silk")["code"] = testing::Text("BR");
    fs::create_directories(dir / "known");
    testing::WriteWorld(known, dir / "known");

    const RunResult clean = Gamedb(dir, "check game");
    EXPECT_EQ(clean.exitCode, 0) << clean.out << clean.err;
    EXPECT_TRUE(Contains(clean.out, "set of 8 databases (acks, items, levers, perks, prints, quests, spells, units): ")) << clean.out;
    EXPECT_TRUE(Contains(clean.out, " 0 errors, 0 warnings, 0 notes\n")) << clean.out;
    EXPECT_TRUE(Contains(clean.out, "(items): 6 blocks, ")) << clean.out;

    // Files named one by one make the same set.
    const RunResult files = Gamedb(dir, "check game/Items.idb game/units.udb game/quests.qdb");
    EXPECT_EQ(files.exitCode, 0) << files.out << files.err;
    EXPECT_TRUE(Contains(files.out, "set of 3 databases (items, quests, units)")) << files.out;

    // A shipped fault is a warning: exit 0, and 1 with --strict.
    const RunResult warned = Gamedb(dir, "check known");
    EXPECT_EQ(warned.exitCode, 0) << warned.out;
    EXPECT_TRUE(Contains(warned.out, "warning: ")) << warned.out;
    EXPECT_TRUE(Contains(warned.out, "[C01]\n")) << warned.out;
    EXPECT_EQ(Gamedb(dir, "--strict check known").exitCode, 1);
    EXPECT_EQ(Gamedb(dir, "--quiet check known").out, "");

    // A link back up the tree is not followed.
    fs::create_directory_symlink("..", dir / "game/loop");
    EXPECT_EQ(Gamedb(dir, "check game").exitCode, 0);
    fs::remove(dir / "game/loop");

    // Unpacked tables are read as they stand: a renamed material breaks its users.
    ASSERT_EQ(Gamedb(dir, "unpack game/Items.idb game/items-tables").exitCode, 0);
    fs::rename(dir / "game/Items.idb", dir / "Items-original.idb");
    // A material an npc's weapon names (which ones are used depends on the generator).
    const std::string used = *set::ParseItemSpec(world.Values("units.npcs.weapons").front()).arg;
    RenameInTable(dir / "game/items-tables/materials.tsv", used, used + "x");
    const RunResult broken = Gamedb(dir, "check game");
    EXPECT_EQ(broken.exitCode, 1) << broken.out;
    EXPECT_TRUE(Contains(broken.out, "(items, from tables)")) << broken.out;
    EXPECT_TRUE(Contains(broken.out, "\"" + used + "\" is not a material name (did you mean \"" + used + "x\"?) [R"))
        << broken.out;

    // Two databases of one kind are no set.
    const RunResult two = Gamedb(dir, "check game Items-original.idb");
    EXPECT_EQ(two.exitCode, 2);
    EXPECT_TRUE(Contains(two.err, "two items databases in one set")) << two.err;
    EXPECT_EQ(Gamedb(dir, "--kind items check game").exitCode, 2);
    // One database alone is checked as before: its layout only.
    EXPECT_EQ(Gamedb(dir, "check Items-original.idb").exitCode, 0);
}

std::vector<resarc::Member> ArchiveOf(const fs::path& dir, const std::set<std::string>& animations) {
    std::vector<resarc::Member> members;
    for (const char* name : {"Items.idb", "levers.ldb", "perks.pdb", "prints.db", "spells.sdb", "units.udb", "quests.qdb", "acks.db"})
        members.push_back(resarc::Member{std::string("Data\\") + name, 1000, Slurp(dir / name)});
    // Each mask's animation database: a valid one, since unpack reads it as a table.
    for (const std::string& animation : animations) {
        const testing::AdbBytes adb = testing::SerializeAdb(testing::GenerateAdb({}));
        members.push_back(resarc::Member{"Anims\\" + animation + ".adb", 1000, std::string(adb.begin(), adb.end())});
    }
    members.push_back(resarc::Member{"readme.txt", 1000, std::string("text")});
    return members;
}

TEST(GamedbSetCli, ArchiveMasksAndPackWarnings) {
    TempDir dir("gamedb-set");
    const testing::World world = testing::MakeWorld(12);
    testing::WriteWorld(world, dir.path());
    std::set<std::string> animations = world.animations;
    resarc::WriteArchive(dir / "game.res", ArchiveOf(dir.path(), animations));
    const RunResult clean = Gamedb(dir, "check game.res");
    EXPECT_EQ(clean.exitCode, 0) << clean.out << clean.err;
    EXPECT_TRUE(Contains(clean.out, std::to_string(animations.size()) + " animations)")) << clean.out;

    animations.erase(animations.begin());
    resarc::WriteArchive(dir / "short.res", ArchiveOf(dir.path(), animations));
    const RunResult masks = Gamedb(dir, "check short.res");
    EXPECT_EQ(masks.exitCode, 1);
    EXPECT_TRUE(Contains(masks.out, ".adb\" in the set [R05]")) << masks.out;

    // pack of one database folder of an unpacked archive warns about what it breaks, and packs.
    ASSERT_EQ(Gamedb(dir, "unpack game.res mod").exitCode, 0);
    // A material an npc's weapon names.
    const std::string used = *set::ParseItemSpec(world.Values("units.npcs.weapons").front()).arg;
    RenameInTable(dir / "mod/Data/Items.idb/materials.tsv", used, used + "x");
    const std::string broken = "material \"" + used + "\" is not a material name";
    const RunResult one = Gamedb(dir, "pack mod/Data/Items.idb Items-mod.idb");
    EXPECT_EQ(one.exitCode, 0) << one.err;
    EXPECT_TRUE(fs::exists(dir / "Items-mod.idb"));
    EXPECT_TRUE(Contains(one.err, "gamedb: warning: ")) << one.err;
    EXPECT_TRUE(Contains(one.err, broken)) << one.err;
    EXPECT_TRUE(Contains(one.err, "reference warnings against the databases beside it")) << one.err;

    // ... and so does pack of the whole folder into an archive, and into a member.
    const RunResult all = Gamedb(dir, "pack mod mod.res");
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_TRUE(Contains(all.err, broken)) << all.err;
    fs::copy_file(dir / "game.res", dir / "member.res");
    const RunResult member = Gamedb(dir, "pack mod/Data/Items.idb member.res:Data/Items.idb");
    EXPECT_EQ(member.exitCode, 0) << member.err;
    EXPECT_TRUE(Contains(member.err, broken)) << member.err;
    EXPECT_EQ(Gamedb(dir, "check member.res").exitCode, 1);

    // A table folder on its own has nothing beside it to check against.
    ASSERT_EQ(Gamedb(dir, "unpack Items.idb alone").exitCode, 0);
    const RunResult alone = Gamedb(dir, "pack alone alone.idb");
    EXPECT_EQ(alone.exitCode, 0);
    EXPECT_FALSE(Contains(alone.err, "warning")) << alone.err;
}

}  // namespace
}  // namespace gamedb
