// The file operations the three libraries share: identity, 64-bit
// positions, and replacing a file through a temporary beside it.
#include "export/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <system_error>

#include "tests/support/idb_builder.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using idb::testing::ReadFile;
using idb::testing::TempDir;
using idb::testing::WriteFile;

namespace {

TEST(SameFileTest, JudgesByIdentityNotByName) {
    struct Case {
        const char* name;
        std::function<fs::path(const TempDir&)> other;  // the path compared with "a"
        bool same;
    };
    const Case cases[] = {
        {"one path twice", [](const TempDir& dir) { return dir / "a"; }, true},
        {"another spelling", [](const TempDir& dir) { return dir / "sub" / ".." / "a"; }, true},
        {"hard link", [](const TempDir& dir) { fs::create_hard_link(dir / "a", dir / "hard"); return dir / "hard"; }, true},
        {"symbolic link", [](const TempDir& dir) { fs::create_symlink(dir / "a", dir / "soft"); return dir / "soft"; }, true},
        {"copy with equal bytes", [](const TempDir& dir) { WriteFile(dir / "b", "same"); return dir / "b"; }, false},
        {"missing file", [](const TempDir& dir) { return dir / "missing"; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir("idb-same-file");
        WriteFile(dir / "a", "same");
        fs::create_directories(dir / "sub");
        const fs::path other = c.other(dir);
        EXPECT_EQ(idb::SameFile(dir / "a", other), c.same);
        EXPECT_EQ(idb::SameFile(other, dir / "a"), c.same);
    }
}

// Offsets past 4 GiB keep their high bits: a truncated position would land
// back near the start. Reading a file that large is not needed, since a
// read stream may be positioned past its end.
TEST(SeekFileTest, ReachesOffsetsPastFourGibibytes) {
    TempDir dir("idb-seek");
    WriteFile(dir / "small", "0123456789");
    std::error_code error;
    idb::ScopedFile file = idb::OpenForRead(dir / "small", error);
    ASSERT_TRUE(file) << error.message();

    for (const std::uint64_t offset : {std::uint64_t{3}, std::uint64_t{0x80000001}, std::uint64_t{0x140000007}}) {
        SCOPED_TRACE(offset);
        ASSERT_TRUE(idb::SeekFile(file.Get(), offset));
        EXPECT_EQ(static_cast<std::uint64_t>(ftello(file.Get())), offset);
    }
    ASSERT_TRUE(idb::SeekFile(file.Get(), 7));
    EXPECT_EQ(std::fgetc(file.Get()), '7');
    ASSERT_TRUE(idb::SeekFileEnd(file.Get()));
    EXPECT_EQ(ftello(file.Get()), 10);
    EXPECT_EQ(std::fgetc(file.Get()), EOF);
}

TEST(TemporaryBesideTest, NamesAFreshFileInTheTargetsFolder) {
    TempDir dir("idb-temporary");
    const fs::path target = dir / "Items.idb";
    std::set<fs::path> seen;
    for (int i = 0; i < 100; ++i) {
        const fs::path temporary = idb::TemporaryBeside(target);
        SCOPED_TRACE(temporary.string());
        EXPECT_EQ(temporary.parent_path(), target.parent_path());
        EXPECT_EQ(temporary.filename().string().rfind("Items.idb.", 0), 0u);
        EXPECT_EQ(temporary.extension(), ".tmp");
        EXPECT_FALSE(fs::exists(temporary));
        EXPECT_TRUE(seen.insert(temporary).second) << "named twice";
    }
}

// A name of up to 255 bytes still gets a temporary within the usual limit,
// cut between characters, created anew even where a link waits at its name.
TEST(TemporaryBesideTest, LongNamesStayWithinTheNameLimit) {
    TempDir dir("idb-temporary");
    for (const std::size_t characters : {100u, 113u, 120u, 127u}) {
        std::string name;
        for (std::size_t i = 0; i < characters; ++i) name += "\xD0\xB6";   // two bytes each
        SCOPED_TRACE(name.size());
        fs::path temporary;
        std::error_code error;
        idb::ScopedFile file = idb::CreateTemporaryBeside(dir / name, temporary, error);
        ASSERT_TRUE(file) << error.message();
        const std::string made = temporary.filename().string();
        EXPECT_LE(made.size(), 255u);
        const std::string kept = made.substr(0, made.find(".~gdb"));
        EXPECT_EQ(kept.size() % 2, 0u) << "a character cut in half";
        EXPECT_EQ(name.rfind(kept, 0), 0u);
        EXPECT_GE(kept.size(), std::min<std::size_t>(name.size(), 224));
    }
    const fs::path target = dir / "t";
    const fs::path planted = idb::TemporaryBeside(target);
    fs::create_symlink(dir / "elsewhere", planted);
    std::error_code error;
    EXPECT_FALSE(idb::OpenNewForWrite(planted, error));
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

// A pipe (like a device) in the target's place is never replaced.
TEST(ReplaceByTemporaryTest, RefusesWhatIsNotARegularFile) {
    TempDir dir("idb-replace");
    const fs::path target = dir / "pipe";
    ASSERT_EQ(mkfifo(target.c_str(), 0600), 0);
    const fs::path temporary = idb::TemporaryBeside(target);
    WriteFile(temporary, "new");
    EXPECT_NE(idb::NotReplaceable(target), "");
    EXPECT_EQ(idb::NotReplaceable(temporary), "");
    EXPECT_EQ(idb::ReplaceByTemporary(temporary, target).category(), idb::NotRegularFileCategory());
    EXPECT_TRUE(fs::is_fifo(target));
    EXPECT_EQ(ReadFile(temporary), "new");
}

TEST(ReplaceByTemporaryTest, ReplacesInOneStepOrLeavesBothAlone) {
    struct Case {
        const char* name;
        bool targetExists;
        bool temporaryExists;
        bool targetIsFolder;
        bool succeeds;
    };
    const Case cases[] = {
        {"over an old file", true, true, false, true},
        {"where there was none", false, true, false, true},
        {"temporary missing", true, false, false, false},
        {"target is a folder with files", false, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir("idb-replace");
        const fs::path target = dir / "table.txt";
        const fs::path temporary = idb::TemporaryBeside(target);
        if (c.targetExists) WriteFile(target, "old");
        if (c.targetIsFolder) {
            fs::create_directories(target);
            WriteFile(target / "inside", "kept");
        }
        if (c.temporaryExists) WriteFile(temporary, "new");

        const std::error_code error = idb::ReplaceByTemporary(temporary, target);
        EXPECT_EQ(!error, c.succeeds) << error.message();
        if (c.succeeds) {
            EXPECT_EQ(ReadFile(target), "new");
            EXPECT_FALSE(fs::exists(temporary));
        } else if (c.targetIsFolder) {
            EXPECT_EQ(ReadFile(target / "inside"), "kept");
            EXPECT_EQ(ReadFile(temporary), "new");
        } else {
            EXPECT_EQ(ReadFile(target), "old");
        }
    }
}

}  // namespace
