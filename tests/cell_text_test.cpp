// Cell text written straight into the table writer's buffer: the seven-digit
// rounding where it is closest to going wrong, the kept texts of recent
// singles, cells built from pieces, and reads into kept storage.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "export/idb_reader.h"
#include "export/quest_items.h"
#include "export/table_writer.h"
#include "tests/support/idb_builder.h"
#include "tests/support/temp_dir.h"

namespace {

using idb::testing::ReadFile;
using idb::testing::SingleBytes;
using idb::testing::TempDir;

// The C library's %.7G with the separator put in: an independent account of
// the rule for finite non-zero values.
std::string CLibrary(float value, std::string_view separator) {
    char text[64];
    std::snprintf(text, sizeof text, "%.7G", static_cast<double>(value));
    std::string result;
    for (const char* p = text; *p; ++p) {
        if (*p == '.') result += separator;
        else result += *p;
    }
    return result;
}

struct Sweep {
    const char* what;
    float from;
    int count;  // consecutive floats from `from` upwards
};

// Every float of each run: where the seven digits carry into a new power of
// ten, where a decimal place holds an exact tie, where a float's step is
// coarser than the seventh digit, and the subnormals.
TEST(FormatSingleTo, AgreesWithTheCLibraryWhereRoundingIsClosest) {
    std::vector<Sweep> sweeps = {
        {"ties at the first fraction digit", 1048576.0f, 1 << 16},
        {"ties at the units of eight-digit integers", 9999000.0f, 1 << 15},
        {"steps of 1024 against a grid of 1000", 8589934592.0f, 1 << 15},
        {"steps coarser than the grid below 1E+10", std::nextafter(1e10f, 0.0f) - 32768 * 1024.0f, 1 << 15},
        {"subnormals", std::numeric_limits<float>::denorm_min(), 1 << 15},
        {"the last subnormals and first normals", std::bit_cast<float>(0x00800000u - (1u << 14)), 1 << 15},
    };
    // Around every power of ten and just below the next: the exponent and
    // the carry are decided there.
    for (int power = -45; power <= 38; ++power) {
        const float exact = static_cast<float>(std::pow(10.0, power));
        if (exact == 0 || !std::isfinite(exact)) continue;
        float from = exact;
        for (int i = 0; i < 512 && from > 0; ++i) from = std::nextafter(from, 0.0f);
        sweeps.push_back({"around a power of ten", from, 1024});
        float below = static_cast<float>(9.9999995 * std::pow(10.0, power - 1));
        for (int i = 0; i < 512 && below > 0; ++i) below = std::nextafter(below, 0.0f);
        sweeps.push_back({"where seven nines carry", below, 1024});
    }
    int compared = 0;
    for (const Sweep& sweep : sweeps) {
        SCOPED_TRACE(sweep.what);
        float value = sweep.from;
        for (int i = 0; i < sweep.count && std::isfinite(value); ++i, value = std::nextafter(value, INFINITY)) {
            if (value == 0) continue;  // "0", not C's "-0": tested with the rule itself
            for (const float signedValue : {value, -value}) {
                const std::string_view separator = i % 3 == 0 ? "." : i % 3 == 1 ? "," : "::";
                char text[64];
                const char* end = idb::FormatSingleTo(text, signedValue, separator);
                ASSERT_EQ(std::string_view(text, static_cast<std::size_t>(end - text)), CLibrary(signedValue, separator))
                    << "bits 0x" << std::hex << std::bit_cast<std::uint32_t>(signedValue);
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 600000);
}

TEST(FormatSingleTo, StaysWithinItsRoom) {
    // The longest texts, written into exactly the room the header promises.
    const float values[] = {-1.234567e-38f, -1.234567e-5f, -0.0001234567f, -1234567.0f, -3.402823e38f,
                            std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::infinity()};
    for (std::string_view separator : {".", "::", "long separator"}) {
        for (float value : values) {
            std::string room(idb::kSingleRoom + separator.size(), '#');
            room += "guard";
            const char* end = idb::FormatSingleTo(room.data(), value, separator);
            EXPECT_EQ(room.substr(room.size() - 5), "guard") << value;
            EXPECT_EQ(std::string_view(room.data(), static_cast<std::size_t>(end - room.data())),
                      idb::FormatSingle(value, separator));
        }
    }
}

// -------------------------------------------------------------------------
// TableWriter: singles, longs and pieces

std::string WrittenTable(std::string_view separator, const std::vector<float>& values, const TempDir& folder) {
    idb::TableWriter out{std::string(separator)};
    out.Create(folder.path(), "Singles.txt");
    for (float value : values) out.WriteSingleCell(value);
    out.Close();
    return ReadFile(folder.path() / "Singles.txt");
}

TEST(TableWriter, SingleCellsAreFormatSingleWhateverTheSeparatorAndRepeats) {
    // A few values that come back often, mixed with fresh bit patterns, so
    // that kept texts are hit, replaced and collide; both zeros and several
    // NaNs among them.
    std::mt19937 random(41u);
    std::vector<float> pool = {0.0f, -0.0f, 1.0f, 12.5f, 0.1f, 1e7f, 1.5e-5f, -2.5f,
                               std::numeric_limits<float>::quiet_NaN(), std::bit_cast<float>(0xFFC00001u),
                               std::numeric_limits<float>::infinity()};
    for (int i = 0; i < 40; ++i) pool.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(random())));
    std::vector<float> values;
    for (int i = 0; i < 30000; ++i) {
        values.push_back(random() % 3 ? pool[random() % pool.size()]
                                      : std::bit_cast<float>(static_cast<std::uint32_t>(random())));
    }
    TempDir folder("idb-cells");
    const std::string separators[] = {".", ",", "::", std::string(12, ';'), std::string(13, ';'), std::string(40, '_')};
    for (const std::string& separator : separators) {
        SCOPED_TRACE("separator of " + std::to_string(separator.size()) + " bytes");
        std::string expected;
        for (float value : values) expected += idb::FormatSingle(value, separator) + "\t";
        ASSERT_GT(expected.size(), 3u * 64 * 1024) << "the buffer must be flushed mid-table";
        EXPECT_EQ(WrittenTable(separator, values, folder), expected);
    }
}

TEST(TableWriter, SeparatorLongerThanTheBufferStillWorks) {
    const std::string separator(100 * 1024, ',');
    const std::vector<float> values = {0.5f, 2.0f, 0.5f, -1.25e-20f};
    std::string expected;
    for (float value : values) expected += idb::FormatSingle(value, separator) + "\t";
    TempDir folder("idb-cells");
    EXPECT_EQ(WrittenTable(separator, values, folder), expected);
}

TEST(TableWriter, CellsBuiltFromPieces) {
    TempDir folder("idb-cells");
    {
        idb::TableWriter out(",");
        out.Create(folder.path(), "Pieces.txt");
        out.Append("attack ");
        out.AppendSingle(2.5f);
        out.Append(", defence ");
        out.AppendSingle(1.0f);
        out.EndCell();
        out.AppendSingle(12.5f);
        out.Append("%");
        out.EndCell();
        out.Append("s1 ");
        out.AppendLong(-2);
        out.Append("stealth ");
        out.AppendLong(127);
        out.EndCell();
        out.EndCell();  // an empty cell
        out.WriteLongCell(std::numeric_limits<std::int32_t>::min());
        out.WriteByteCell(255);
        out.WriteSingleCell(-0.0f);
        out.EndRow();
        EXPECT_EQ(out.Rows(), 1);
        out.Close();
    }
    EXPECT_EQ(ReadFile(folder.path() / "Pieces.txt"),
              "attack 2,5, defence 1\t12,5%\ts1 -2stealth 127\t\t-2147483648\t255\t0\t\r\n");
}

// -------------------------------------------------------------------------
// Reads into kept storage

class KeptStorageTest : public ::testing::Test {
protected:
    void Open(idb::IdbReader& in, std::string_view bytes) {
        const auto path = folder_.path() / ("db" + std::to_string(++files_) + ".idb");
        idb::testing::WriteFile(path, bytes);
        in.Open(path);
    }

private:
    TempDir folder_{"idb-kept"};
    int files_ = 0;
};

TEST_F(KeptStorageTest, TextsReadIntoALongerOldTextGiveWhatFreshReadsGive) {
    const std::string_view stored[] = {
        std::string_view("A\0B", 3), std::string_view("\0\0\0", 3), "\xC6\xE5\xEB\xE5\xE7\xEE", "",
        std::string_view("\0\0name\0", 7), "a text of forty bytes, longer than most",
    };
    std::string bytes;
    for (std::string_view text : stored) bytes += text;
    idb::IdbReader kept;
    idb::IdbReader fresh;
    Open(kept, bytes);
    Open(fresh, bytes);
    std::string text(200, 'x');
    for (std::string_view piece : stored) {
        kept.ReadText(static_cast<int>(piece.size()), text);
        EXPECT_EQ(text, fresh.ReadText(static_cast<int>(piece.size()))) << piece.size();
        EXPECT_EQ(kept.Offset(), fresh.Offset());
    }
}

TEST_F(KeptStorageTest, NulAtEveryPlaceOfEveryShortLengthIsDropped) {
    // Texts are searched for NULs a word at a time; every length around the
    // word sizes, with one NUL at each place or none, and bytes whose high
    // bit is set (which a careless word test takes for zeros).
    std::string bytes;
    std::vector<std::string> expected;
    std::vector<int> lengths;
    for (int length = 1; length <= 24; ++length) {
        for (int nul = -1; nul < length; ++nul) {
            std::string stored;
            for (int i = 0; i < length; ++i) stored += i == nul ? '\0' : static_cast<char>(i % 2 ? 0x80 + i : 0x01);
            bytes += stored;
            lengths.push_back(length);
            std::string text = stored;
            if (nul >= 0) text.erase(static_cast<std::size_t>(nul), 1);
            expected.push_back(text);
        }
    }
    idb::IdbReader in;
    Open(in, bytes);
    std::string text;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        in.ReadText(lengths[i], text);
        ASSERT_EQ(text, expected[i]) << "case " << i << ", length " << lengths[i];
    }
}

TEST_F(KeptStorageTest, NamesArraysAndFlagsReadIntoOldValues) {
    // Name "Bo\0b" (length byte 8), eight singles, a negative flag value, a
    // name of 0 bytes, one single, flags 5.
    std::string bytes = std::string("\x08" "Bo\0b", 5);
    for (int i = 0; i < 8; ++i) bytes += SingleBytes(static_cast<float>(i));
    bytes += idb::testing::Le32(0xFFFFFFE0u);
    bytes += '\x00';
    bytes += SingleBytes(7.5f);
    bytes += idb::testing::Le32(5);
    idb::IdbReader in;
    Open(in, bytes);

    std::string name = "a much longer earlier name";
    std::vector<float> values(20, -1.0f);
    std::string flags = "1111111111111111111111111111111111";
    in.ReadItemName(name);
    EXPECT_EQ(name, "Bob");
    in.ReadSingleArray(32, values);
    EXPECT_EQ(values, (std::vector<float>{0, 1, 2, 3, 4, 5, 6, 7}));
    in.ReadFlags(flags);
    EXPECT_EQ(flags, "00000" + std::string(27, '1'));
    in.ReadItemName(name);
    EXPECT_EQ(name, "");
    in.ReadSingleArray(7, values);
    EXPECT_EQ(values, (std::vector<float>{7.5f}));
    in.ReadFlags(flags);
    EXPECT_EQ(flags, "10100000");
    EXPECT_EQ(in.Offset(), static_cast<long long>(bytes.size()));
}

TEST(FormatZoneList, IntoAnOldTextReplacesIt) {
    std::string text = "Old zone, Other zone";
    idb::FormatZoneList(std::string_view("\x02\x00" "A\x01" "B", 5), text);
    EXPECT_EQ(text, "A, B");
    idb::FormatZoneList("ab", text);
    EXPECT_EQ(text, "");
}

}  // namespace
