// What gamedb writes stays in the output folder, replaces only regular
// files, and is all or nothing: links planted in the folder, devices and
// pipes as targets, failed runs over an earlier unpack, members that would
// be one file, outputs that cannot be written, and what a killed run leaves.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/fresh_layout.h"
#include "tests/support/gamedb_gen.h"
#include "tests/support/idb_builder.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using idb::testing::Quote;
using idb::testing::ReadFile;
using idb::testing::RunProgram;
using idb::testing::TempDir;
using idb::testing::WriteFile;

namespace {

using Result = idb::testing::RunResult;

Result Gamedb(const TempDir& dir, const std::string& args) { return RunProgram(dir, GAMEDB_PATH, args); }

bool Contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

std::string Database(const char* kind, std::uint64_t seed) {
    gamedb::testing::GenOptions options;
    options.seed = seed;
    options.maxRecords = 2;
    const gamedb::testing::Bytes bytes = gamedb::testing::Serialize(gamedb::testing::Generate(*gamedb::FindKind(kind), options));
    return std::string(bytes.begin(), bytes.end());
}

// An archive of (Windows-1251 name, bytes) pairs, repeated names kept.
void WriteArchive(const fs::path& path, const std::vector<std::pair<std::string, std::string>>& members) {
    std::vector<resarc::Member> list;
    for (const auto& [name, data] : members) list.push_back({name, 1000, data});
    resarc::WriteArchive(path, list);
}

// Every file below `dir`, as "relative path=content", links as "path->target".
std::string Snapshot(const fs::path& dir) {
    std::vector<std::string> lines;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = it->path().lexically_relative(dir).string();
        if (it->is_symlink()) lines.push_back(relative + "->" + fs::read_symlink(it->path()).string());
        else if (it->is_regular_file()) lines.push_back(relative + "=" + ReadFile(it->path()));
        else lines.push_back(relative + "/");
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

}  // namespace

// A link to a folder inside the output folder is never written through, by
// extract or unpack; a link in a file's place is replaced, not followed.
TEST(GamedbOutputSafety, LinksInTheOutputFolderAreNotFollowed) {
    TempDir dir;
    WriteArchive(dir / "z3q1.mq", {{"a.txt", "new a"}, {"z3q1\\map.txt", "new map"}});
    fs::create_directories(dir / "outside");
    WriteFile(dir / "outside" / "map.txt", "outside map");
    WriteFile(dir / "outside" / "a.txt", "outside a");
    for (const char* command : {"res extract z3q1.mq -o out", "unpack z3q1.mq out"}) {
        SCOPED_TRACE(command);
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        fs::create_directory_symlink("../outside", dir / "out" / "z3q1");
        const Result r = Gamedb(dir, command);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_TRUE(Contains(r.err, "is a link; refusing to write through it")) << r.err;
        EXPECT_EQ(Snapshot(dir / "outside"), "a.txt=outside a\nmap.txt=outside map\n");
        EXPECT_EQ(Snapshot(dir / "out"), "z3q1->../outside\n");
    }
    fs::remove_all(dir / "out");
    fs::create_directories(dir / "out");
    fs::create_symlink("../outside/a.txt", dir / "out" / "a.txt");
    const Result r = Gamedb(dir, "res extract z3q1.mq a.txt -o out");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Snapshot(dir / "out"), "a.txt=new a\n");
    EXPECT_EQ(ReadFile(dir / "outside" / "a.txt"), "outside a");
}

// A run that fails leaves an earlier output as it was (edits and the
// folder's record included) and removes the folders it made itself.
TEST(GamedbOutputSafety, FailedRunsLeaveTheFolderAsItWas) {
    TempDir dir;
    std::string damaged = Database("items", 4);
    damaged.resize(damaged.size() - 30);
    WriteArchive(dir / "good.res", {{"z3q1\\map.txt", "map 1"}, {"Data\\Items.idb", Database("items", 4)}});
    WriteArchive(dir / "bad.res", {{"z3q1\\map.txt", "map 2"}, {"new\\x.txt", "x"}, {"Data\\Items.idb", damaged}});
    ASSERT_EQ(Gamedb(dir, "unpack good.res out").exitCode, 0);
    WriteFile(dir / "out" / "z3q1" / "map.txt", "edited by the user");
    const std::string before = Snapshot(dir / "out");

    Result r = Gamedb(dir, "unpack bad.res out");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Snapshot(dir / "out"), before);
    r = Gamedb(dir, "unpack bad.res fresh/deeper");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir / "fresh"));

    // Extract fails on its last member, whose place holds a folder.
    fs::create_directories(dir / "out" / "z3q1" / "blocked");
    WriteFile(dir / "out" / "z3q1" / "blocked" / "keep", "k");
    WriteArchive(dir / "late.res", {{"z3q1\\map.txt", "map 3"}, {"new\\y.txt", "y"}, {"z3q1\\blocked", "b"}});
    const std::string extracted = Snapshot(dir / "out");
    r = Gamedb(dir, "res extract late.res -o out");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "is a folder")) << r.err;
    EXPECT_EQ(Snapshot(dir / "out"), extracted);
}

// A target that exists and is not a regular file is refused, never replaced.
TEST(GamedbOutputSafety, PackNeverReplacesAPipeOrDevice) {
    TempDir dir;
    WriteFile(dir / "units.udb", Database("units", 5));
    WriteFile(dir / "a.txt", "a");
    ASSERT_EQ(Gamedb(dir, "unpack units.udb tables").exitCode, 0);
    ASSERT_EQ(mkfifo((dir / "pipe.udb").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir / "pipe.res").c_str(), 0600), 0);
    for (const char* command : {"pack tables pipe.udb", "res create pipe.res a.txt"}) {
        const Result r = Gamedb(dir, command);
        EXPECT_EQ(r.exitCode, 1) << command;
        EXPECT_TRUE(Contains(r.err, "is not a regular file")) << command << ": " << r.err;
    }
    EXPECT_TRUE(fs::is_fifo(dir / "pipe.udb"));
    EXPECT_TRUE(fs::is_fifo(dir / "pipe.res"));
    EXPECT_EQ(Snapshot(dir.path()).find(".~gdb"), std::string::npos);
}

// Two members on one file (in any case) are refused before anything is written.
TEST(GamedbOutputSafety, MembersOfOneNameAreRefused) {
    TempDir dir;
    WriteArchive(dir / "twice.res", {{"a.txt", "first"}, {"a.txt", "second"}});
    WriteArchive(dir / "case.res", {{"Map\\\xC0.txt", "first"}, {"map\\\xE0.TXT", "second"}});
    for (const char* command : {"res extract twice.res -o out", "res extract case.res -o out", "unpack case.res out"}) {
        const Result r = Gamedb(dir, command);
        EXPECT_EQ(r.exitCode, 1) << command;
        EXPECT_TRUE(Contains(r.err, "would be the same file")) << command << ": " << r.err;
        EXPECT_FALSE(fs::exists(dir / "out")) << command;
    }
}

// Output that is lost (a full device) is a failure, as for check and diff.
TEST(GamedbOutputSafety, StandardOutputThatCannotBeWritten) {
    TempDir dir;
    WriteArchive(dir / "z.res", {{"a.txt", "a"}});
    for (const char* args : {"res list z.res", "--help", "--version"}) {
        const std::string command = "cd " + Quote(dir.path()) + " && " + Quote(std::string(GAMEDB_PATH)) + " " + args +
                                    " >/dev/full 2>/dev/null";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << args;
    }
}

// Temporaries: a killed run's is removed by the next pack to that target, no
// other file is; a member name of 255 bytes still gets one.
TEST(GamedbOutputSafety, LeftoversAndLongNames) {
    TempDir dir;
    WriteFile(dir / "units.udb", Database("units", 6));
    ASSERT_EQ(Gamedb(dir, "unpack units.udb tables").exitCode, 0);
    const std::string dead = "units.udb.~gdb2147483000-0.tmp";   // no such process
    const std::string live = "units.udb.~gdb" + std::to_string(getpid()) + "-0.tmp";
    for (const std::string& name : {dead, live, std::string("units.udbx.~gdb2147483000-0.tmp"),
                                    std::string("units.udb.~gdb2147483000-0.tmp.keep")})
        WriteFile(dir / name, "partial");
    fs::create_symlink("units.udb", dir / "units.udb.~gdb2147483001-0.tmp");
    ASSERT_EQ(Gamedb(dir, "pack tables units.udb").exitCode, 0);
    EXPECT_FALSE(fs::exists(dir / dead));
    EXPECT_TRUE(fs::exists(dir / live));
    EXPECT_TRUE(fs::exists(dir / "units.udbx.~gdb2147483000-0.tmp"));
    EXPECT_TRUE(fs::exists(dir / "units.udb.~gdb2147483000-0.tmp.keep"));
    EXPECT_TRUE(fs::is_symlink(dir / "units.udb.~gdb2147483001-0.tmp"));

    for (const std::size_t length : {241u, 255u}) {
        const std::string name(length - 4, 'n');
        WriteArchive(dir / "long.res", {{name + ".txt", "long"}, {"u" + name.substr(1) + ".udb", Database("units", 7)}});
        const Result r = Gamedb(dir, "unpack long.res out" + std::to_string(length));
        EXPECT_EQ(r.exitCode, 0) << length << ": " << r.err;
        EXPECT_EQ(ReadFile(dir / ("out" + std::to_string(length)) / (name + ".txt")), "long");
        EXPECT_EQ(Gamedb(dir, "res extract long.res -o x" + std::to_string(length)).exitCode, 0) << length;
    }
}
