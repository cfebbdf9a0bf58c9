// The idb2txt program as a user runs it: exit codes, messages, files.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "tests/support/idb_builder.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/sample_items.h"

namespace fs = std::filesystem;
using idb::testing::Quote;
using idb::testing::ReadFile;
using idb::testing::TempDir;
using idb::testing::WriteFile;

namespace {

const std::array<const char*, 6> kTables = {"Materials.txt",  "Weapons.txt",    "Armors.txt",
                                            "QuickItems.txt", "QuestItems.txt", "LootItems.txt"};


using Result = idb::testing::RunResult;

// Runs idb2txt with `args` (already quoted) in `dir`, with `env` assignments
// put before the command.
Result RunCli(const TempDir& dir, const std::string& args, const std::string& env = "LC_ALL=C") {
    return idb::testing::RunProgram(dir, IDB2TXT_PATH, args, env);
}

fs::path SamplePath() { return fs::path(IDB_SOURCE_DIR) / "samples" / "Items.idb"; }

std::string Expected(const char* table) {
    return ReadFile(fs::path(IDB_SOURCE_DIR) / "tests" / "data" / "expected" / table);
}

bool Contains(std::string_view text, std::string_view piece) { return text.find(piece) != std::string_view::npos; }

long Lines(std::string_view text) { return std::count(text.begin(), text.end(), '\n'); }

}  // namespace

// ---------------------------------------------------------------------------
// Usage

TEST(CliUsage, HelpAndVersionSucceed) {
    TempDir dir;
    const Result help = RunCli(dir, "--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: idb2txt")) << help.out;
    EXPECT_TRUE(help.err.empty()) << help.err;

    const Result version = RunCli(dir, "--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.starts_with("idb2txt ")) << version.out;
    EXPECT_EQ(Lines(version.out), 1);
}

TEST(CliUsage, BadCommandLinesExitWithTwo) {
    TempDir dir;
    const Result none = RunCli(dir, "");
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_TRUE(Contains(none.err, "no DATABASE")) << none.err;

    const Result unknown = RunCli(dir, "--frobnicate " + Quote(SamplePath()));
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(Contains(unknown.err, "--frobnicate")) << unknown.err;

    const Result tooMany = RunCli(dir, Quote(SamplePath()) + " a b");
    EXPECT_EQ(tooMany.exitCode, 2);

    const Result emptySeparator = RunCli(dir, "--decimal-separator= " + Quote(SamplePath()));
    EXPECT_EQ(emptySeparator.exitCode, 2);

    for (const Result& r : {none, unknown, tooMany, emptySeparator}) EXPECT_TRUE(r.out.empty()) << r.out;
    for (const char* table : kTables) EXPECT_FALSE(fs::exists(dir / table)) << table;
}

// ---------------------------------------------------------------------------
// Files that are not items databases

TEST(CliNotADatabase, IsRefusedWithTwoNamingTheFileAndWhatWasFound) {
    TempDir dir;
    WriteFile(dir / "empty.idb", "");
    WriteFile(dir / "text.idb", "A plain text file");
    struct Case {
        const char* file;
        const char* found;
    };
    for (const Case& c : {Case{"missing.idb", "No such file"}, Case{"empty.idb", "empty"},
                          Case{"text.idb", "0x41"}}) {
        SCOPED_TRACE(c.file);
        const fs::path out = dir / "out";
        const Result r = RunCli(dir, Quote(dir / c.file) + " " + Quote(out));
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(Contains(r.err, (dir / c.file).string())) << r.err;
        EXPECT_TRUE(Contains(r.err, c.found)) << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_FALSE(fs::exists(out)) << "nothing may be written for a file that is not a database";
    }
}

// ---------------------------------------------------------------------------
// Conversions

TEST(CliConversion, WritesTheTablesAndOneSummaryLine) {
    TempDir dir;
    const Result r = RunCli(dir, Quote(SamplePath()) + " out");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    for (const char* counts : {"materials 30", "weapons 30", "armors 30", "quick items 30", "quest items 30",
                               "loot items 30"}) {
        EXPECT_TRUE(Contains(r.err, counts)) << r.err;
    }
    for (const char* table : kTables) EXPECT_EQ(ReadFile(dir / "out" / table), Expected(table)) << table;
}

TEST(CliConversion, DefaultFolderIsTheCurrentOne) {
    TempDir dir;
    const Result r = RunCli(dir, "--quiet " + Quote(SamplePath()));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* table : kTables) EXPECT_EQ(ReadFile(dir / table), Expected(table)) << table;
}

TEST(CliConversion, QuietPrintsNothing) {
    TempDir dir;
    const Result r = RunCli(dir, "--quiet " + Quote(SamplePath()) + " out");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_TRUE(fs::exists(dir / "out" / "LootItems.txt"));
}

TEST(CliConversion, CreatesAMissingOutputFolder) {
    TempDir dir;
    const Result r = RunCli(dir, "-q " + Quote(SamplePath()) + " " + Quote(dir / "a" / "b" / "c"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* table : kTables) EXPECT_EQ(ReadFile(dir / "a" / "b" / "c" / table), Expected(table)) << table;
}

TEST(CliConversion, OutputFolderThatIsAFileFailsWithOne) {
    TempDir dir;
    WriteFile(dir / "file", "x");
    const Result r = RunCli(dir, Quote(SamplePath()) + " " + Quote(dir / "file"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, (dir / "file").string())) << r.err;
}

namespace {
// The committed tables with a comma for the point; only number cells carry one.
std::string WithComma(std::string text) {
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
}
}  // namespace

TEST(CliConversion, DecimalSeparatorOptionGoesIntoEveryNumber) {
    TempDir dir;
    const Result r = RunCli(dir, "--decimal-separator=, -q " + Quote(SamplePath()) + " out");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* table : kTables) EXPECT_EQ(ReadFile(dir / "out" / table), WithComma(Expected(table))) << table;
}

TEST(CliConversion, RussianLocaleGivesCommas) {
    const char* locale = "ru_RU.UTF-8";
    if (!std::setlocale(LC_ALL, locale)) GTEST_SKIP() << locale << " is not installed";
    std::setlocale(LC_ALL, "C");
    TempDir dir;
    const Result r = RunCli(dir, "-q " + Quote(SamplePath()) + " out", std::string("LC_ALL=") + locale);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "out" / "Weapons.txt"), WithComma(Expected("Weapons.txt")));
    EXPECT_EQ(ReadFile(dir / "out" / "Armors.txt"), WithComma(Expected("Armors.txt")));
}

TEST(CliConversion, CLocaleGivesPoints) {
    TempDir dir;
    const Result r = RunCli(dir, "-q " + Quote(SamplePath()) + " out", "LC_ALL=C");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "out" / "Materials.txt"), Expected("Materials.txt"));
}

TEST(CliConversion, TruncatedDatabaseFailsWithOneNamingWhereItBroke) {
    TempDir dir;
    // Cut inside the weapons: the materials table is complete, the weapons
    // table partial, the rest never made.
    std::size_t cut = 5 + 5;
    for (int i = 0; i < 30; ++i) cut += idb::testing::SampleMaterial(i).Bytes().size();
    cut += 5;
    for (int i = 0; i < 4; ++i) cut += idb::testing::SampleWeapon(i).Bytes().size();
    cut += 10;  // into the common block of the fifth weapon
    WriteFile(dir / "Short.idb", ReadFile(SamplePath()).substr(0, cut));
    const Result r = RunCli(dir, Quote(dir / "Short.idb") + " out");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_TRUE(Contains(r.err, (dir / "Short.idb").string())) << r.err;
    EXPECT_TRUE(Contains(r.err, "weapons category")) << r.err;
    EXPECT_TRUE(Contains(r.err, ", record 5:")) << r.err;
    EXPECT_TRUE(Contains(r.err, "offset ")) << r.err;
    EXPECT_EQ(ReadFile(dir / "out" / "Materials.txt"), Expected("Materials.txt"));
    EXPECT_TRUE(Expected("Weapons.txt").starts_with(ReadFile(dir / "out" / "Weapons.txt")));
    EXPECT_FALSE(fs::exists(dir / "out" / "Armors.txt"));
}

// ---------------------------------------------------------------------------
// Input and output that are not plain files

namespace {

// Runs `pipeline` (a shell command line in which IDB2TXT stands for the
// program) in `dir`; stdout and stdin are the pipeline's own.
Result RunPipeline(const TempDir& dir, std::string pipeline) {
    for (std::size_t at; (at = pipeline.find("IDB2TXT")) != std::string::npos;) {
        pipeline.replace(at, 7, "LC_ALL=C " + Quote(std::string(IDB2TXT_PATH)));
    }
    const fs::path err = dir / ".stderr";
    const std::string command = "cd " + Quote(dir.path()) + " && { " + pipeline + " ; } 2>" + Quote(err);
    const int status = std::system(command.c_str());
    Result result;
    if (status != -1 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.err = ReadFile(err);
    fs::remove(err);
    return result;
}

}  // namespace

TEST(CliStreams, DatabaseFromAPipeIsReadOnce) {
    TempDir dir;
    for (const char* pipeline : {"cat {db} | IDB2TXT -q /dev/stdin out", "IDB2TXT -q /dev/stdin out < {db}"}) {
        SCOPED_TRACE(pipeline);
        fs::remove_all(dir / "out");
        std::string line = pipeline;
        line.replace(line.find("{db}"), 4, Quote(SamplePath()));
        const Result r = RunPipeline(dir, line);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        for (const char* table : kTables) EXPECT_EQ(ReadFile(dir / "out" / table), Expected(table)) << table;
    }
}

TEST(CliStreams, ForeignDataThroughAPipeWritesNothing) {
    TempDir dir;
    const Result r = RunPipeline(dir, "printf 'A text' | IDB2TXT /dev/stdin out");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.err, "is not an items database: its first byte is 0x41")) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(CliStreams, HelpAndVersionOnAFullDeviceFail) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    TempDir dir;
    for (const char* option : {"--help", "--version"}) {
        SCOPED_TRACE(option);
        const Result r = RunPipeline(dir, std::string("IDB2TXT ") + option + " >/dev/full");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(Contains(r.err, "cannot write to standard output: No space left on device")) << r.err;
    }
}

TEST(CliStreams, FolderGivenAsTheDatabaseNamesTheReason) {
    TempDir dir;
    fs::create_directory(dir / "Items.idb");
    const Result r = RunCli(dir, Quote(dir / "Items.idb") + " out");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.err, "Is a directory")) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out"));
}

// ---------------------------------------------------------------------------
// A database the run would destroy, and separators that would break tables

TEST(CliRefusals, TableThatIsTheDatabaseWritesNothing) {
    TempDir dir;
    const std::string sample = ReadFile(SamplePath());
    fs::create_directories(dir / "out");
    WriteFile(dir / "out" / "Armors.txt", sample);
    WriteFile(dir / "Items.idb", sample);
    fs::create_hard_link(dir / "Items.idb", dir / "out" / "Weapons.txt");
    struct Case {
        const char* pipeline;
        const char* table;
    };
    for (const Case& c : {Case{"IDB2TXT out/Armors.txt out", "Armors.txt"},
                          Case{"cd out && IDB2TXT Armors.txt", "Armors.txt"},
                          Case{"IDB2TXT Items.idb out", "Weapons.txt"},
                          Case{"IDB2TXT /dev/stdin out < out/Armors.txt", "Armors.txt"}}) {
        SCOPED_TRACE(c.pipeline);
        const Result r = RunPipeline(dir, c.pipeline);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(Contains(r.err, c.table)) << r.err;
        EXPECT_TRUE(Contains(r.err, "itself: nothing was written")) << r.err;
        EXPECT_EQ(ReadFile(dir / "out" / "Armors.txt"), sample);
        EXPECT_EQ(ReadFile(dir / "Items.idb"), sample);
        EXPECT_FALSE(fs::exists(dir / "out" / "Materials.txt"));
    }
}

TEST(CliRefusals, DecimalSeparatorIsOneHarmlessCharacter) {
    TempDir dir;
    struct Case {
        std::string separator;
        bool accepted;
    };
    const Case cases[] = {
        {",", true},     {".", true},      {";", true},      {"\xD9\xAB", true},  // U+066B, the Arabic one
        {"abc", false},  {",,", false},    {"\t", false},    {"\r", false},       {"\n", false},
        {" ", false},    {"\x1F", false},  {"\x7F", false},  {"0", false},        {"7", false},
        {"+", false},    {"-", false},     {"E", false},     {"e", false},        {"\xC2\xA0", false},
        {"\xD9", false}, {"\xC3\xA9\xC3\xA9", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.separator));
        fs::remove_all(dir / "out");
        const Result r = RunCli(dir, "-q " + Quote("--decimal-separator=" + c.separator) + " " +
                                         Quote(SamplePath()) + " out");
        if (c.accepted) {
            EXPECT_EQ(r.exitCode, 0) << r.err;
            std::string expected = Expected("Weapons.txt");
            for (std::size_t at = 0; (at = expected.find('.', at)) != std::string::npos; at += c.separator.size()) {
                expected.replace(at, 1, c.separator);
            }
            EXPECT_EQ(ReadFile(dir / "out" / "Weapons.txt"), expected);
        } else {
            EXPECT_EQ(r.exitCode, 2);
            EXPECT_TRUE(Contains(r.err, "--decimal-separator takes one character")) << r.err;
            EXPECT_FALSE(fs::exists(dir / "out"));
        }
    }
    const Result help = RunCli(dir, "--help");
    EXPECT_TRUE(Contains(help.out, "C is one character, not a digit")) << help.out;
}
