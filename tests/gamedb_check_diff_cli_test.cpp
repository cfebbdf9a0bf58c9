// The check and diff commands as a modder runs them, and the README's
// workflow: unpack, change one price, pack, compare.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/wait.h>

#include "tests/support/gamedb_gen.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace gamedb {
namespace {

namespace fs = std::filesystem;
using idb::testing::Quote;
using idb::testing::TempDir;

std::string Slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

using Result = idb::testing::RunResult;

Result Gamedb(const TempDir& dir, const std::string& args) { return idb::testing::RunProgram(dir, GAMEDB_PATH, args); }

testing::GenDatabase Items(std::uint64_t seed) {
    testing::GenOptions options;
    options.seed = seed;
    options.minRecords = 2;
    options.maxRecords = 4;
    options.maxTextLength = 20;
    options.maxListItems = 2;
    options.duplicateKeyRate = 0;
    return testing::Generate(*FindKind("items"), options);
}

bool Contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

TEST(GamedbCheckCli, ExitStatusAndReport) {
    TempDir dir("gamedb-cli");
    const testing::GenDatabase good = Items(1);
    testing::WriteDatabase(dir / "Items.idb", good);
    testing::GenDatabase bad = good;
    bad.blocks[1].records[0].Find(7)->payload.pop_back();
    testing::WriteDatabase(dir / "bad.idb", bad);
    testing::WriteDatabase(dir / "noname.bin", good);

    struct Row {
        std::string args;
        int exitCode;
        std::string out;  // expected in stdout
        std::string err;  // expected in stderr
    };
    const Row rows[] = {
        {"check Items.idb", 0, "(items): 6 blocks, ", ""},
        {"check Items.idb", 0, "note: weapons: idb2txt reads all ", ""},
        {"check bad.idb", 1, "weapons, record 1 ", ""},
        {"check bad.idb", 1, "price (tag 7): length 3, expected 4\n", ""},
        {"check bad.idb", 1, "records, 1 problem\n", ""},
        {"--quiet check Items.idb", 0, "", ""},
        {"check missing.idb", 1, "", "missing.idb"},
        {"check noname.bin", 2, "", "gamedb: "},
        {"--kind items check noname.bin", 0, "0 problems", ""},
        {"check", 2, "", "usage: gamedb check DATABASE"},
    };
    for (const Row& row : rows) {
        const Result result = Gamedb(dir, row.args);
        EXPECT_EQ(result.exitCode, row.exitCode) << row.args << "\n" << result.out << result.err;
        EXPECT_TRUE(Contains(result.out, row.out)) << row.args << "\n" << result.out;
        EXPECT_TRUE(Contains(result.err, row.err)) << row.args << "\n" << result.err;
        if (row.args.starts_with("--quiet")) {
            EXPECT_EQ(result.out, "");
        }
    }
}

TEST(GamedbDiffCli, ExitStatusLikeDiff) {
    TempDir dir("gamedb-cli");
    const testing::GenDatabase before = Items(2);
    testing::GenDatabase after = before;
    after.blocks[0].records[0].Find(4)->payload = testing::FloatPayload(12.5f);
    testing::WriteDatabase(dir / "Items.idb", before);
    testing::WriteDatabase(dir / "mod.idb", after);
    testing::WriteDatabase(dir / "copy.bin", before);
    testing::WriteDatabase(dir / "acks.db", testing::Generate(*FindKind("acks"), {}));
    testing::WriteBytes(dir / "broken.idb", testing::Bytes{1, 2, 3});

    struct Row {
        std::string args;
        int exitCode;
        std::string out;
        std::string err;
    };
    const Row rows[] = {
        {"diff Items.idb Items.idb", 0, "", ""},
        {"diff Items.idb copy.bin", 0, "", ""},  // the kind comes from the side that names one
        {"diff Items.idb mod.idb", 1, "materials: 1 changed, 0 added, 0 removed", ""},
        {"diff Items.idb mod.idb", 1, "    price: ", ""},
        {"--quiet diff Items.idb mod.idb", 1, "", ""},
        {"diff Items.idb missing.idb", 2, "", "missing.idb"},
        {"diff Items.idb broken.idb", 2, "", "broken.idb"},
        {"diff Items.idb acks.db", 2, "", "cannot compare a database of items with one of acks"},
        {"diff Items.idb", 2, "", "usage: gamedb diff OLD NEW"},
    };
    for (const Row& row : rows) {
        const Result result = Gamedb(dir, row.args);
        EXPECT_EQ(result.exitCode, row.exitCode) << row.args << "\n" << result.out << result.err;
        EXPECT_TRUE(Contains(result.out, row.out)) << row.args << "\n" << result.out;
        EXPECT_TRUE(Contains(result.err, row.err)) << row.args << "\n" << result.err;
        if (row.exitCode != 1 || row.args.starts_with("--quiet")) {
            EXPECT_EQ(result.out, "") << row.args;
        }
    }
}

// A report that cannot be written is a failure, not a clean result.
TEST(GamedbCheckCli, FullOutputIsAFailure) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TempDir dir("gamedb-cli");
    testing::WriteDatabase(dir / "Items.idb", Items(5));
    testing::WriteDatabase(dir / "mod.idb", Items(6));
    struct Row {
        std::string args;
        int exitCode;
    };
    for (const Row& row : {Row{"check Items.idb", 1}, Row{"diff Items.idb mod.idb", 2}}) {
        const std::string command = "cd " + Quote(dir.path()) + " && " + Quote(std::string(GAMEDB_PATH)) + " " + row.args +
                                    " >/dev/full 2>.stderr </dev/null";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(status != -1 && WIFEXITED(status)) << row.args;
        EXPECT_EQ(WEXITSTATUS(status), row.exitCode) << row.args;
        EXPECT_TRUE(Contains(Slurp(dir / ".stderr"), "cannot write the report")) << row.args;
    }
}

// Splits a table line into its cells.
std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        cells.push_back(line.substr(start, tab - start));
    cells.push_back(line.substr(start));
    return cells;
}

// The README's worked example, step by step.
TEST(GamedbWorkflow, UnpackEditOnePricePackCompare) {
    TempDir dir("gamedb-cli");
    testing::GenDatabase original = Items(3);
    original.blocks[1].records[1].Find(0)->payload = testing::TextPayload("stone battle axe");
    original.blocks[1].records[1].Find(7)->payload = testing::FloatPayload(120);
    testing::WriteDatabase(dir / "Items.idb", original);

    ASSERT_EQ(Gamedb(dir, "unpack Items.idb tables").exitCode, 0);
    // The spreadsheet step: the price of the second weapon, 120 -> 150.
    std::string table = Slurp(dir / "tables" / "weapons.tsv");
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; start < table.size(); start = end + 2) {
        end = table.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(table.substr(start, end - start));
    }
    ASSERT_GE(lines.size(), 3u);
    const std::vector<std::string> header = Cells(lines[0]);
    const auto column = static_cast<std::size_t>(std::find(header.begin(), header.end(), "price") - header.begin());
    ASSERT_LT(column, header.size());
    std::vector<std::string> row = Cells(lines[2]);
    ASSERT_EQ(row[column], "120");
    row[column] = "150";
    std::string edited;
    for (std::size_t i = 0; i < row.size(); ++i) edited += (i ? "\t" : "") + row[i];
    lines[2] = edited;
    table.clear();
    for (const std::string& line : lines) table += line + "\r\n";
    std::ofstream(dir / "tables" / "weapons.tsv", std::ios::binary) << table;

    ASSERT_EQ(Gamedb(dir, "pack tables Items-mod.idb").exitCode, 0);
    const Result diff = Gamedb(dir, "diff Items.idb Items-mod.idb");
    EXPECT_EQ(diff.exitCode, 1);
    EXPECT_EQ(diff.out,
              "weapons: 1 changed, 0 added, 0 removed (" + std::to_string(original.blocks[1].records.size()) + " -> " +
                  std::to_string(original.blocks[1].records.size()) + " records)\n"
                  "  changed record 2 \"stone battle axe\"\n"
                  "    price: 120 -> 150\n");
    EXPECT_EQ(Gamedb(dir, "check Items-mod.idb").exitCode, 0);

    // The edit undone gives the original back, byte for byte.
    testing::GenDatabase expected = original;
    expected.blocks[1].records[1].Find(7)->payload = testing::FloatPayload(150);
    EXPECT_EQ(testing::ReadBytes(dir / "Items-mod.idb"), testing::Serialize(expected));
}

}  // namespace
}  // namespace gamedb
