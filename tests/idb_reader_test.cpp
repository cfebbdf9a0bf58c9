// Framing of the items database: values, headers, the two counters, reads
// past the end and the signature check.
#include "export/idb_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "export/conversion_error.h"
#include "tests/support/idb_builder.h"
#include "tests/support/temp_dir.h"

namespace {

using idb::testing::Le16;
using idb::testing::Le32;
using idb::testing::SingleBytes;

class IdbReaderTest : public ::testing::Test {
protected:
    // Writes the bytes to a fresh file and returns its path.
    std::filesystem::path File(std::string_view bytes) {
        const auto path = folder_ / ("db" + std::to_string(++files_) + ".idb");
        idb::testing::WriteFile(path, bytes);
        return path;
    }
    void Open(idb::IdbReader& in, std::string_view bytes) { in.Open(File(bytes)); }

    const std::filesystem::path& Folder() const { return folder_.path(); }

private:
    idb::testing::TempDir folder_{"idb-reader"};
    int files_ = 0;
};

std::string CategoryHeader(std::int32_t sizeValue) { return "\x03" + Le32(static_cast<std::uint32_t>(sizeValue)); }

// -------------------------------------------------------------------------
// Values

TEST_F(IdbReaderTest, ValuesAreLittleEndian) {
    idb::IdbReader in;
    Open(in, "\xC8" + Le16(0x7FFF) + Le16(0x8000) + Le32(0xFFFFFFFFu) + Le32(0x12345678u) + SingleBytes(-2.5f) +
                 Le32(0x80000000u));
    EXPECT_EQ(in.ReadByte(), 200);
    EXPECT_EQ(in.ReadInteger(), 32767);
    EXPECT_EQ(in.ReadInteger(), -32768);
    EXPECT_EQ(in.ReadLong(), -1);
    EXPECT_EQ(in.ReadLong(), 0x12345678);
    EXPECT_EQ(in.ReadSingle(), -2.5f);
    EXPECT_EQ(in.ReadLong(), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(in.Offset(), 21);
}

TEST_F(IdbReaderTest, TextLosesEveryNulRawKeepsThem) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {std::string_view("A\0B", 3), "AB"},
        {std::string_view("\0\0AB\0", 5), "AB"},
        {std::string_view("\0\0\0", 3), ""},
        {"A\tB\r\n", "A\tB\r\n"},
        {"\xC6\xE5\xEB\xE5\xE7\xEE", "\xC6\xE5\xEB\xE5\xE7\xEE"},
        {"", ""},
    };
    for (const auto& [stored, text] : cases) {
        idb::IdbReader in;
        Open(in, std::string(stored) + "!");
        EXPECT_EQ(in.ReadText(static_cast<int>(stored.size())), text);
        EXPECT_EQ(in.Offset(), static_cast<long long>(stored.size()));
        EXPECT_EQ(in.ReadByte(), '!');
    }

    idb::IdbReader in;
    Open(in, std::string("\0A\0", 3));
    std::string raw;
    in.ReadRaw(3, raw);
    EXPECT_EQ(raw, std::string("\0A\0", 3));
}

TEST_F(IdbReaderTest, SingleArrayHoldsFieldLengthOverFourValues) {
    const std::pair<int, std::size_t> cases[] = {{0, 0}, {3, 0}, {4, 1}, {7, 1}, {8, 2}, {24, 6},
                                                  {28, 7}, {30, 7}, {32, 8}, {127, 31}};
    std::string stored;
    for (int i = 0; i < 32; ++i) stored += SingleBytes(static_cast<float>(i) + 0.5f);
    for (const auto& [fieldLength, count] : cases) {
        SCOPED_TRACE(fieldLength);
        idb::IdbReader in;
        Open(in, stored);
        const std::vector<float> values = in.ReadSingleArray(fieldLength);
        ASSERT_EQ(values.size(), count);
        for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(values[i], static_cast<float>(i) + 0.5f);
        EXPECT_EQ(in.Offset(), static_cast<long long>(4 * count));
    }
}

TEST_F(IdbReaderTest, ValuesStraddlingTheReadBufferComeOutWhole) {
    // Larger than the reader's buffer, so that refills happen mid-value.
    std::string stored(200000, '\0');
    for (std::size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    idb::IdbReader in;
    Open(in, stored);

    std::mt19937 random(5u);
    std::size_t at = 0;
    while (at + 130 < stored.size()) {
        SCOPED_TRACE(at);
        const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(stored[i])); };
        switch (random() % 5) {
            case 0:
                ASSERT_EQ(in.ReadByte(), byte(at));
                at += 1;
                break;
            case 1:
                ASSERT_EQ(in.ReadInteger(), static_cast<std::int16_t>(byte(at) | byte(at + 1) << 8));
                at += 2;
                break;
            case 2:
                ASSERT_EQ(in.ReadLong(), static_cast<std::int32_t>(byte(at) | byte(at + 1) << 8 | byte(at + 2) << 16 |
                                                                  byte(at + 3) << 24));
                at += 4;
                break;
            case 3: {
                const int length = static_cast<int>(random() % 128);
                std::string raw;
                in.ReadRaw(length, raw);
                ASSERT_EQ(raw, stored.substr(at, static_cast<std::size_t>(length)));
                at += static_cast<std::size_t>(length);
                break;
            }
            default: {
                const int length = static_cast<int>(random() % 128);
                in.Skip(length);
                at += static_cast<std::size_t>(length);
                break;
            }
        }
        ASSERT_EQ(in.Offset(), static_cast<long long>(at));
    }
}

// -------------------------------------------------------------------------
// Category and record headers

TEST_F(IdbReaderTest, CategoryLimitIsSizeValueLessOneHalvedTowardZero) {
    const std::pair<std::int32_t, std::int32_t> cases[] = {
        {0, 0},
        {1, 0},
        {2, 0},
        {3, 1},
        {4, 1},
        {5, 2},
        {-1, -1},
        {-2, -1},
        {-3, -2},
        {std::numeric_limits<std::int32_t>::max(), 1073741823},
        {std::numeric_limits<std::int32_t>::min(), -1073741824},
    };
    for (const auto& [sizeValue, limit] : cases) {
        SCOPED_TRACE(sizeValue);
        idb::IdbReader in;
        Open(in, CategoryHeader(sizeValue));
        in.ReadCategoryHeader();
        EXPECT_EQ(in.CategoryLimit(), limit);
        EXPECT_EQ(in.CategoryPosition(), 0);
        EXPECT_EQ(in.HasMoreRecords(), limit > 0);
        EXPECT_EQ(in.Offset(), 5);
    }
}

struct SizeWordCase {
    std::uint16_t sizeWord;
    int headerLength;
    std::int32_t recordSize;
};

TEST_F(IdbReaderTest, SizeWordGivesHeaderLengthAndRecordSize) {
    const SizeWordCase cases[] = {
        {0, 3, 0},     {1, 3, 0},     {2, 3, 1},     {41, 3, 20},   {254, 3, 127},     {255, 3, 127},
        {256, 3, 128}, {257, 6, 128}, {258, 6, 128}, {259, 6, 129}, {32767, 6, 16383},
    };
    for (const SizeWordCase& c : cases) {
        SCOPED_TRACE(c.sizeWord);
        idb::IdbReader in;
        // The extension bytes are there whether or not the header takes them.
        Open(in, CategoryHeader(100001) + "\x01" + Le16(c.sizeWord) + "\xAA\xBB\xCC" + "\x7E");
        in.ReadCategoryHeader();
        in.ReadRecordHeader();
        EXPECT_EQ(in.HeaderLength(), c.headerLength);
        EXPECT_EQ(in.RecordSize(), c.recordSize);
        EXPECT_EQ(in.RecordPosition(), c.headerLength);
        EXPECT_EQ(in.CategoryPosition(), c.headerLength + c.recordSize);
        EXPECT_EQ(in.Offset(), 5 + c.headerLength);
        EXPECT_EQ(in.RecordNumber(), 1);
    }
}

TEST_F(IdbReaderTest, CategoryEndsWhenPositionReachesLimit) {
    // Each bare record header (SizeWord 4) adds 3 + 2 to CategoryPosition.
    std::string records;
    for (int i = 0; i < 10; ++i) records += "\x01" + Le16(4);
    const std::pair<std::int32_t, int> cases[] = {{3, 1}, {11, 1}, {12, 1}, {13, 2}, {21, 2}, {22, 2}, {23, 3}};
    for (const auto& [sizeValue, expectedRecords] : cases) {
        SCOPED_TRACE(sizeValue);
        idb::IdbReader in;
        Open(in, CategoryHeader(sizeValue) + records);
        in.ReadCategoryHeader();
        int read = 0;
        while (in.HasMoreRecords()) {
            in.ReadRecordHeader();
            ++read;
            ASSERT_LE(read, 10);
        }
        EXPECT_EQ(read, expectedRecords);
        EXPECT_EQ(in.CategoryPosition(), 5 * read);
    }
}

TEST_F(IdbReaderTest, NextCategoryHeaderStartsItsCountersAfresh) {
    idb::IdbReader in;
    Open(in, CategoryHeader(11) + "\x01" + Le16(10) + CategoryHeader(101) + "\x01" + Le16(2));
    in.ReadCategoryHeader();
    in.ReadRecordHeader();
    EXPECT_EQ(in.CategoryPosition(), 8);
    EXPECT_FALSE(in.HasMoreRecords());
    in.ReadCategoryHeader();
    EXPECT_EQ(in.CategoryPosition(), 0);
    EXPECT_EQ(in.CategoryLimit(), 50);
    EXPECT_EQ(in.RecordNumber(), 0);
    in.ReadRecordHeader();
    EXPECT_EQ(in.RecordNumber(), 1);
    EXPECT_EQ(in.CategoryPosition(), 4);
    EXPECT_TRUE(in.HasMoreRecords());
}

TEST_F(IdbReaderTest, SizeWordWithBitFifteenIsRejected) {
    for (std::uint16_t sizeWord : {std::uint16_t{0x8000}, std::uint16_t{0x8101}, std::uint16_t{0xFFFF}}) {
        SCOPED_TRACE(sizeWord);
        idb::IdbReader in;
        Open(in, CategoryHeader(101) + "\x01" + Le16(sizeWord) + std::string(16, '\0'));
        in.ReadCategoryHeader();
        try {
            in.ReadRecordHeader();
            ADD_FAILURE() << "no error";
        } catch (const idb::IdbFormatError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find("while reading the record header"), std::string::npos) << message;
            EXPECT_NE(message.find("at offset 0x"), std::string::npos) << message;
        }
    }
}

// -------------------------------------------------------------------------
// Item name, field headers, RecordPosition

TEST_F(IdbReaderTest, WorkedExampleOfTheRecordCounter) {
    // SizeWord 41, a 5-byte name (length byte 10), fields of length byte 8.
    const std::string field = "\x04\x08" + SingleBytes(1.0f);
    idb::IdbReader in;
    Open(in, CategoryHeader(47) + "\x01" + Le16(41) + "\x0A" + "Steel" + field + field + field);
    in.ReadCategoryHeader();
    in.ReadRecordHeader();
    EXPECT_EQ(in.RecordSize(), 20);
    EXPECT_EQ(in.HeaderLength(), 3);
    EXPECT_EQ(in.CategoryPosition(), 23);
    EXPECT_EQ(in.ReadItemName(), "Steel");
    EXPECT_EQ(in.RecordPosition(), 9);

    std::vector<std::int32_t> positions;
    while (in.HasMoreFields()) {
        in.ReadFieldHeader();
        positions.push_back(in.RecordPosition());
        EXPECT_EQ(in.ReadSingle(), 1.0f);
    }
    EXPECT_EQ(positions, (std::vector<std::int32_t>{15, 21}));
    EXPECT_EQ(in.Offset(), 5 + 3 + 6 + 2 * 6);
}

TEST_F(IdbReaderTest, LengthBytesDropTheirLowBit) {
    const std::pair<std::uint8_t, int> cases[] = {{0, 0}, {1, 0}, {8, 4}, {9, 4}, {10, 5}, {254, 127}, {255, 127}};
    for (const auto& [lengthByte, length] : cases) {
        SCOPED_TRACE(static_cast<int>(lengthByte));
        idb::IdbReader in;
        Open(in, std::string{'\x2A', static_cast<char>(lengthByte)} + std::string(200, 'n'));
        in.ReadFieldHeader();
        EXPECT_EQ(in.FieldTag(), 42);
        EXPECT_EQ(in.FieldLength(), length);
        EXPECT_EQ(in.RecordPosition(), 2 + length);
        EXPECT_EQ(in.Offset(), 2) << "the header reads no value bytes";

        idb::IdbReader names;
        Open(names, std::string{static_cast<char>(lengthByte)} + std::string(200, 'n'));
        EXPECT_EQ(names.ReadItemName(), std::string(static_cast<std::size_t>(length), 'n'));
        EXPECT_EQ(names.RecordPosition(), 1 + length);
        EXPECT_EQ(names.Offset(), 1 + length);
    }
}

TEST_F(IdbReaderTest, NameCountsItsNulsButDoesNotKeepThem) {
    idb::IdbReader in;
    Open(in, CategoryHeader(101) + "\x01" + Le16(20) + std::string("\x0A" "A\0B\0\0", 6) + "rest");
    in.ReadCategoryHeader();
    in.ReadRecordHeader();
    EXPECT_EQ(in.ReadItemName(), "AB");
    EXPECT_EQ(in.RecordPosition(), 3 + 1 + 5);
    EXPECT_EQ(in.ReadText(4), "rest");
}

TEST_F(IdbReaderTest, RecordPositionFollowsDeclaredLengthNotBytesRead) {
    // A single float declared 8 long, then a 30-long array that holds 7 values.
    std::string bytes = std::string("\x05\x10", 2) + SingleBytes(4.5f) + "\x0B\x3C";
    for (int i = 0; i < 7; ++i) bytes += SingleBytes(static_cast<float>(i));
    bytes += "\x7F";
    idb::IdbReader in;
    Open(in, bytes);
    in.ReadFieldHeader();
    EXPECT_EQ(in.ReadSingle(), 4.5f);
    EXPECT_EQ(in.RecordPosition(), 10);
    EXPECT_EQ(in.Offset(), 6);
    in.ReadFieldHeader();
    EXPECT_EQ(in.FieldLength(), 30);
    EXPECT_EQ(in.ReadSingleArray(in.FieldLength()).size(), 7u);
    EXPECT_EQ(in.RecordPosition(), 10 + 32);
    EXPECT_EQ(in.Offset(), 6 + 2 + 28);
    EXPECT_EQ(in.ReadByte(), 0x7F);
}

// -------------------------------------------------------------------------
// Reads past the end

// Runs reads named by letters: F file header, C category header, R record
// header, N item name, H field header, L long, S single, T text of FieldLength.
void Walk(idb::IdbReader& in, std::string_view steps) {
    for (char step : steps) {
        switch (step) {
            case 'F': in.ReadFileHeader(); break;
            case 'C': in.ReadCategoryHeader(); break;
            case 'R': in.ReadRecordHeader(); break;
            case 'N': in.ReadItemName(); break;
            case 'H': in.ReadFieldHeader(); break;
            case 'L': in.ReadLong(); break;
            case 'S': in.ReadSingle(); break;
            case 'T': in.ReadText(in.FieldLength()); break;
            default: FAIL() << "unknown step " << step;
        }
    }
}

TEST_F(IdbReaderTest, ReadPastTheEndNamesOffsetAndWhatWasRead) {
    const std::string start = "\x01" + Le32(1000) + CategoryHeader(99);
    const std::string record = start + "\x01" + Le16(40) + "\x06" + "Axe";
    struct Case {
        std::string bytes;
        std::string_view steps;
        long long offset;
        std::string_view what;
    };
    const Case cases[] = {
        {"", "F", 0, "the file header"},
        {"\x01\x02\x03", "F", 1, "the file header"},
        {"\x01" + Le32(1000) + "\x01\x05", "FC", 6, "the category header"},
        {start + "\x01\x08", "FCR", 11, "the record header"},
        {start + "\x01" + Le16(300) + "\x00", "FCR", 13, "the record header"},
        {start + "\x01" + Le16(40) + "\x0A" + "Ax", "FCRN", 14, "the item name"},
        {record + "\x01\x08" + Le32(1) + "\x02", "FCRNHLH", 24, "the header of field 2"},
        {record + "\x07\x09\x01\x02", "FCRNHS", 19, "the value of field 1 (tag 7, length 4)"},
        {record + "\x03\x0A" + "abcd", "FCRNHT", 19, "the value of field 1 (tag 3, length 5)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        idb::IdbReader in;
        Open(in, c.bytes);
        try {
            Walk(in, c.steps);
            ADD_FAILURE() << "no error";
        } catch (const idb::IdbFormatError& error) {
            char offset[32];
            std::snprintf(offset, sizeof offset, "0x%llX (%lld)", c.offset, c.offset);
            EXPECT_EQ(std::string(error.what()), "unexpected end of data at offset " + std::string(offset) +
                                                     " while reading " + std::string(c.what));
            EXPECT_EQ(error.Offset(), c.offset);
        }
    }
}

TEST_F(IdbReaderTest, SkipsBeyondTheReadBufferAndCountsItInTheOffset) {
    idb::IdbReader in;
    Open(in, std::string(70000, 'x'));
    in.Skip(69998);
    EXPECT_EQ(in.ReadByte(), 'x');
    try {
        in.ReadInteger();
        FAIL() << "no error";
    } catch (const idb::IdbFormatError& error) {
        EXPECT_EQ(error.Offset(), 69999);
        EXPECT_NE(std::string(error.what()).find("at offset 0x1116F (69999)"), std::string::npos) << error.what();
    }
}

TEST_F(IdbReaderTest, OpeningAMissingFileIsAnIoErrorNamingIt) {
    idb::IdbReader in;
    const auto missing = Folder() / "no such.idb";
    try {
        in.Open(missing);
        FAIL() << "no error";
    } catch (const idb::IdbFormatError&) {
        FAIL() << "not a format error";
    } catch (const idb::ConversionError& error) {
        EXPECT_NE(std::string(error.what()).find("no such.idb"), std::string::npos) << error.what();
        EXPECT_TRUE(error.Code());
    }
}

// -------------------------------------------------------------------------
// Signature check

TEST_F(IdbReaderTest, SignatureIsAFirstByteOfOne) {
    struct Case {
        std::string bytes;
        bool passes;
        std::string_view problemMentions;
    };
    const Case cases[] = {
        {"\x01", true, ""},
        {"\x01" + Le32(12345) + "more", true, ""},
        {std::string(1, '\0'), false, "0x0"},
        {std::string("\0\x01", 2), false, "0x0"},
        {"\x02", false, "0x2"},
        {"A\x01", false, "0x41"},
        {"\xFF", false, "0xFF"},
        {"", false, "empty"},
    };
    for (const Case& c : cases) {
        const auto path = File(c.bytes);
        SCOPED_TRACE(c.bytes.size());
        EXPECT_EQ(idb::CheckSignature(path), c.passes);
        const std::string problem = idb::SignatureProblem(path);
        EXPECT_EQ(problem.empty(), c.passes) << problem;
        EXPECT_NE(problem.find(c.problemMentions), std::string::npos) << problem;
    }
}

TEST_F(IdbReaderTest, SignatureFailsForWhatCannotBeRead) {
    const auto missing = Folder() / "missing.idb";
    EXPECT_FALSE(idb::CheckSignature(missing));
    EXPECT_FALSE(idb::SignatureProblem(missing).empty());

    const auto folder = Folder() / "a folder.idb";
    std::filesystem::create_directories(folder);
    EXPECT_FALSE(idb::CheckSignature(folder));
    EXPECT_FALSE(idb::SignatureProblem(folder).empty());
}

}  // namespace
