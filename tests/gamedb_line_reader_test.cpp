// Lines as spreadsheets save them: UTF-8 with or without a byte-order mark,
// CR LF or LF, and "Unicode text" (UTF-16 with its mark), read through
// sources that hand out one byte at a time as well as all at once.
#include "gamedb/line_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "gamedb/error.h"

namespace gamedb {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Hands out one byte per call: every boundary inside a character is met.
class TrickleSource final : public ByteSource {
public:
    explicit TrickleSource(Bytes bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    std::uint64_t Position() const override { return pos_; }
    std::size_t ReadSome(std::span<std::uint8_t> out) override {
        if (out.empty() || pos_ == bytes_.size()) return 0;
        out[0] = bytes_[pos_++];
        return 1;
    }
    const std::string& Label() const override { return label_; }

private:
    Bytes bytes_;
    std::size_t pos_ = 0;
    std::string label_ = "\"t.txt\"";
};

std::vector<std::string> Lines(const Bytes& bytes, bool trickle) {
    MemorySource whole(bytes, "\"t.txt\"");
    TrickleSource slow(bytes);
    ByteSource& source = trickle ? static_cast<ByteSource&>(slow) : whole;
    LineReader reader(source);
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.Next(line)) lines.emplace_back(line);
    return lines;
}

Bytes Utf16(const std::u16string& text, bool bigEndian) {
    Bytes out = bigEndian ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE};
    for (const char16_t unit : text) {
        const auto hi = static_cast<std::uint8_t>(unit >> 8);
        const auto lo = static_cast<std::uint8_t>(unit & 0xFF);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    }
    return out;
}

Bytes Utf8(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(LineReader, EncodingsAndLineEnds) {
    const std::vector<std::string> expected = {"name\tprice", "Топор\t1,5", "", "a😀b"};
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"UTF-8 with mark, CR LF", Utf8("\xEF\xBB\xBFname\tprice\r\nТопор\t1,5\r\n\r\na😀b\r\n")},
        {"UTF-8, LF, no end on the last line", Utf8("name\tprice\nТопор\t1,5\n\na😀b")},
        {"UTF-16LE", Utf16(u"name\tprice\r\nТопор\t1,5\r\n\r\na😀b\r\n", false)},
        {"UTF-16BE", Utf16(u"name\tprice\nТопор\t1,5\n\na😀b", true)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Lines(c.bytes, false), expected) << c.what;
        EXPECT_EQ(Lines(c.bytes, true), expected) << c.what << ", a byte at a time";
    }
    EXPECT_TRUE(Lines({}, false).empty());
    EXPECT_EQ(Lines(Utf8("x"), true), std::vector<std::string>{"x"});
}

// Excel's "Text (Tab delimited)" in a Russian Windows: Windows-1251 without
// a mark. It is told from UTF-8 by the first bytes that cannot be UTF-8,
// also when a long ASCII beginning comes first; UTF-8 stays UTF-8.
TEST(LineReader, TextThatIsNotUtf8IsReadAsWindows1251) {
    const Bytes cp1251 = Utf8("name\tprice\r\n\xD2\xEE\xEF\xEE\xF0\t1,5\r\n\x98\xB9");
    const std::vector<std::string> expected = {"name\tprice", "Топор\t1,5", "\xC2\x98№"};
    for (const bool trickle : {false, true}) EXPECT_EQ(Lines(cp1251, trickle), expected) << trickle;
    std::string longAscii(200000, 'a');
    longAscii += "\r\n\xD2\xEE\xEF\xEE\xF0\r\n";
    const std::vector<std::string> lines = Lines(Utf8(longAscii), false);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Топор");

    for (const std::string& utf8 : {std::string("name\r\nТопор\r\n"), std::string("\xEF\xBB\xBF\xD2\xEE\r\n")}) {
        const Bytes bytes = Utf8(utf8);
        MemorySource source(bytes, "t");
        LineReader reader(source);
        std::string_view line;
        while (reader.Next(line)) {
        }
        EXPECT_FALSE(reader.ReadAsCp1251()) << utf8;
    }
    MemorySource source(cp1251, "t");
    LineReader reader(source);
    std::string_view line;
    while (reader.Next(line)) {
    }
    EXPECT_TRUE(reader.ReadAsCp1251());
}

TEST(LineReader, BrokenUtf16IsAnError) {
    const Bytes cases[] = {
        {0xFF, 0xFE, 'a', 0, 'b'},                 // odd length
        {0xFF, 0xFE, 0x3D, 0xD8, 'a', 0},          // high surrogate without its low half
        {0xFF, 0xFE, 0x00, 0xDC},                  // lone low surrogate
        {0xFF, 0xFE, 0x3D, 0xD8},                  // cut after a high surrogate
    };
    for (const Bytes& bytes : cases) {
        for (const bool trickle : {false, true}) {
            try {
                Lines(bytes, trickle);
                ADD_FAILURE() << "accepted " << bytes.size() << " bytes";
            } catch (const Error& e) {
                EXPECT_EQ(e.Where().file, "\"t.txt\"");
            }
        }
    }
}

// The cells between Tabs, found eight bytes at a time, are those a byte by
// byte reading finds, whatever the bytes around the Tabs (08 and 89 lie
// next to a Tab's value) and wherever the Tabs fall in a word.
TEST(SplitTabs, CellsAreThoseBetweenTabs) {
    std::mt19937 random(7);
    const char bytes[] = {'\t', '\t', 'a', '\x08', '\x89', '\x0A', '\0', '\xFF', ' '};
    std::vector<std::string_view> cells;
    for (int n = 0; n < 20000; ++n) {
        std::string line(random() % 40, ' ');
        for (char& c : line) c = bytes[random() % sizeof bytes];
        std::vector<std::string_view> expected;
        std::size_t begin = 0;
        for (std::size_t i = 0; i <= line.size(); ++i) {
            if (i < line.size() && line[i] != '\t') continue;
            expected.push_back(std::string_view(line).substr(begin, i - begin));
            begin = i + 1;
        }
        SplitTabs(line, cells);
        ASSERT_EQ(cells, expected) << n;
    }
}

}  // namespace
}  // namespace gamedb
