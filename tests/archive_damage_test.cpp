// Damaged archives: each gives a precise error naming the archive and the
// entry, never a crash, a hang or an allocation from a size field.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/cp1251.h"
#include "tests/support/archive_builder.h"
#include "tests/support/idb_builder.h"
#include "tests/support/temp_dir.h"

using idb::testing::Put16;
using idb::testing::Put32;
using idb::testing::RawArchive;
using idb::testing::RawEntry;
using resarc::Archive;

namespace {

// Three entries in their home slots (sums 97, 98, 99 mod 3 = 1, 2, 0).
RawArchive Base() {
    return RawArchive({{"a", "first member", 1, -1, 0},
                       {"b", "second member, a little longer", 2, -1, 0},
                       {"c", "", 0, -1, 0}});
}

struct DamageCase {
    const char* label;
    std::function<void(std::string&, const RawArchive&)> damage;
    const char* message;   // after `archive "bad.res": `
};

const DamageCase kDamageCases[] = {
    {"BadMagic", [](std::string& b, const RawArchive&) { b[0] = 'R'; },
     "not an archive (first 4 bytes 52 E2 9C 01, expected 3C E2 9C 01)"},
    {"ShorterThanTheHeader", [](std::string& b, const RawArchive&) { b.resize(10); },
     "too short for an archive (10 bytes, the header alone has 16)"},
    {"Empty", [](std::string& b, const RawArchive&) { b.clear(); }, "too short for an archive (0 bytes"},
    {"HugeCount", [](std::string& b, const RawArchive&) { Put32(b, 4, 0xFFFFFFFF); },
     "header does not fit the file: table offset 64 + 4294967295 entries x 22 + name pool 3 = 94489280557 bytes, "
     "the file has 133"},
    {"CountOneMore", [](std::string& b, const RawArchive&) { Put32(b, 4, 4); }, "header does not fit the file"},
    {"TableInsideTheHeader", [](std::string& b, const RawArchive&) { Put32(b, 8, 8); },
     "entry table offset 8 lies inside the 16-byte header"},
    {"TablePastTheEnd", [](std::string& b, const RawArchive&) { Put32(b, 8, 0xFFFFFFF0); },
     "header does not fit the file"},
    {"NamePoolTooLarge", [](std::string& b, const RawArchive&) { Put32(b, 12, 0x7FFFFFFF); },
     "header does not fit the file"},
    {"Truncated", [](std::string& b, const RawArchive&) { b.pop_back(); }, "header does not fit the file"},
    {"DataPastTheTable",
     [](std::string& b, const RawArchive& a) { Put32(b, a.EntryOffset(1) + 8, a.TableOffset() - 4); },
     "entry in slot 1 (\"a\"): data of 12 bytes at offset 60 lies outside the data area (16..64)"},
    {"DataInTheHeader", [](std::string& b, const RawArchive& a) { Put32(b, a.EntryOffset(2) + 8, 8); },
     "entry in slot 2 (\"b\"): data of 30 bytes at offset 8 lies outside the data area"},
    {"OffsetPlusSizeWraps",
     [](std::string& b, const RawArchive& a) {
         Put32(b, a.EntryOffset(1) + 4, 0xFFFFFFF0);
         Put32(b, a.EntryOffset(1) + 8, 0x20);
     },
     "entry in slot 1 (\"a\"): data of 4294967280 bytes at offset 32 lies outside the data area"},
    {"Overlap", [](std::string& b, const RawArchive& a) { Put32(b, a.EntryOffset(2) + 8, 20); },
     "entry in slot 2 (\"b\"): data at offset 20 overlaps the entry in slot 1 (\"a\") (12 bytes at offset 16)"},
    {"NameOutsideThePool", [](std::string& b, const RawArchive& a) { Put32(b, a.EntryOffset(2) + 18, 3); },
     "entry in slot 2: name of 1 bytes at 3 lies outside the name pool of 3 bytes"},
    {"NameLengthOutsideThePool", [](std::string& b, const RawArchive& a) { Put16(b, a.EntryOffset(0) + 16, 0xFFFF); },
     "entry in slot 0: name of 65535 bytes at 2 lies outside the name pool of 3 bytes"},
    {"NameOffsetWraps",
     [](std::string& b, const RawArchive& a) { Put32(b, a.EntryOffset(0) + 18, 0xFFFFFFFF); },
     "entry in slot 0: name of 1 bytes at 4294967295 lies outside the name pool"},
    {"NextPastTheTable", [](std::string& b, const RawArchive& a) { Put32(b, a.EntryOffset(1), 3); },
     "entry in slot 1 (\"a\"): next slot 3 is out of range (-1..2)"},
    {"NextBelowMinusOne", [](std::string& b, const RawArchive& a) { Put32(b, a.EntryOffset(1), 0xFFFFFFFE); },
     "entry in slot 1 (\"a\"): next slot -2 is out of range"},
    {"ChainLoopsOnItself", [](std::string& b, const RawArchive& a) { Put32(b, a.EntryOffset(2), 2); },
     "entry in slot 2 (\"b\"): its hash chain loops"},
    {"ChainLoopsThroughTwo",
     [](std::string& b, const RawArchive& a) {
         Put32(b, a.EntryOffset(0), 1);
         Put32(b, a.EntryOffset(1), 0);
     },
     "entry in slot 0 (\"c\"): its hash chain loops"},
    {"TwoLinksToOneSlot",
     [](std::string& b, const RawArchive& a) {
         Put32(b, a.EntryOffset(0), 2);
         Put32(b, a.EntryOffset(1), 2);
     },
     "entry in slot 2 (\"b\") is linked from two slots (0 and 1)"},
    {"EntryOutOfItsChain",
     [](std::string& b, const RawArchive& a) {
         // "a" (home 1) and "b" (home 2) swap slots.
         Put32(b, a.EntryOffset(1) + 18, 1);
         Put32(b, a.EntryOffset(2) + 18, 0);
     },
     "entry in slot 1 (\"b\") cannot be found: it is not in the hash chain of its slot 2"},
};

class ArchiveDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(ArchiveDamage, IsAPreciseError) {
    const RawArchive archive = Base();
    std::string bytes = archive.Bytes();
    ASSERT_NO_THROW(Archive::FromMemory(bytes, "bad.res"));
    GetParam().damage(bytes, archive);
    try {
        Archive::FromMemory(bytes, "bad.res");
        FAIL() << "no error";
    } catch (const resarc::ArchiveError& error) {
        EXPECT_NE(std::string(error.what()).find(std::string("archive \"bad.res\": ") + GetParam().message),
                  std::string::npos)
            << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ArchiveDamage, ::testing::ValuesIn(kDamageCases),
                         [](const ::testing::TestParamInfo<DamageCase>& param) {
                             return std::string(param.param.label);
                         });

}  // namespace

// The same checks hold for a file, and a member file that shrinks after the
// archive was opened is an error, not short data.
TEST(ArchiveDamageFile, ReadsNameTheArchiveAndTheEntry) {
    idb::testing::TempDir dir;
    const RawArchive archive = Base();
    std::string bytes = archive.Bytes();
    idb::testing::WriteFile(dir / "bad.res", bytes.substr(0, 40));
    try {
        Archive::Open(dir / "bad.res");
        FAIL() << "no error";
    } catch (const resarc::ArchiveError& error) {
        EXPECT_NE(std::string(error.what()).find("bad.res\": header does not fit the file"), std::string::npos)
            << error.what();
    }
    EXPECT_THROW(Archive::Open(dir / "missing.res"), resarc::ArchiveError);

    idb::testing::WriteFile(dir / "good.res", bytes);
    const Archive opened = Archive::Open(dir / "good.res");
    idb::testing::WriteFile(dir / "good.res", bytes.substr(0, 20));
    try {
        opened.Read(*opened.Find("b"));
        FAIL() << "no error";
    } catch (const resarc::ArchiveError& error) {
        EXPECT_NE(std::string(error.what()).find("ends early at offset 32 while reading the entry in slot 2 (\"b\")"),
                  std::string::npos)
            << error.what();
    }
}

// Every byte of a sound archive changed in turn: opening either succeeds or
// throws ArchiveError, and a sound result still reads every member.
TEST(ArchiveDamageFile, EverySingleByteChangeIsHandled) {
    const std::string bytes = Base().Bytes();
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        for (const char value : std::string("\x00\x01\x7F\x80\xFF", 5)) {
            std::string damaged = bytes;
            damaged[at] = value;
            try {
                const Archive archive = Archive::FromMemory(damaged, "x");
                for (const resarc::Entry& entry : archive.Entries()) {
                    EXPECT_EQ(archive.Read(entry).size(), entry.size);
                    EXPECT_NE(archive.Find(entry.name), nullptr);
                }
            } catch (const resarc::ArchiveError&) {
            }
        }
    }
}
