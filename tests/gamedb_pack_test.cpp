// Pack after edits made as a modder makes them in a spreadsheet, and the
// tables pack must refuse: each refusal names table, row, column, cell and
// what was expected, and leaves the target database as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gamedb/byte_io.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "gamedb/pack.h"
#include "gamedb/unpack.h"
#include "tests/support/gamedb_gen.h"
#include "tests/support/temp_dir.h"

namespace gamedb::testing {
namespace {

namespace fs = std::filesystem;
using idb::testing::TempDir;

constexpr std::uint8_t kWeapons = 2;
constexpr std::uint8_t kNameTag = 0;
constexpr std::uint8_t kPriceTag = 7;
constexpr std::size_t kNameColumn = 0;
constexpr std::size_t kPriceColumn = 7;
// After the 33 columns of the weapons' fields and their parts.
constexpr std::size_t kExtraIndex = 33;

using Rows = std::vector<std::vector<std::string>>;

Rows SplitTable(const std::string& text) {
    Rows rows;
    std::size_t begin = 3;  // byte-order mark
    while (begin < text.size()) {
        const std::size_t end = text.find("\r\n", begin);
        const std::string line = text.substr(begin, end - begin);
        rows.emplace_back();
        std::size_t cell = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', cell);
            rows.back().push_back(line.substr(cell, tab - cell));
            if (tab == std::string::npos) break;
            cell = tab + 1;
        }
        begin = end + 2;
    }
    return rows;
}

std::string JoinTable(const Rows& rows, const char* newline = "\r\n", bool bom = true) {
    std::string text = bom ? "\xEF\xBB\xBF" : "";
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) text += (i ? "\t" : "") + row[i];
        text += newline;
    }
    return text;
}

class PackEdits : public ::testing::Test {
protected:
    void SetUp() override {
        GenOptions options;
        options.seed = 42;
        options.minRecords = 4;
        options.maxRecords = 6;
        model_ = Generate(*FindKind("items"), options);
        original_ = Serialize(model_);
        MemorySource source(original_, "Items.idb");
        Unpack(source, *FindKind("items"), folder_);
        rows_ = SplitTable(folder_.Files()["weapons.tsv"]);
        ASSERT_GE(rows_.size(), 5u);
    }

    Bytes PackRows(const std::string& table) {
        folder_.Files()["weapons.tsv"] = table;
        MemorySink sink;
        Pack(folder_, sink);
        return sink.Bytes();
    }
    Bytes PackRows() { return PackRows(JoinTable(rows_)); }
    std::vector<GenRecord>& Weapons() { return model_.FindBlock(kWeapons)->records; }

    GenDatabase model_;
    Bytes original_;
    MemoryFolder folder_;
    Rows rows_;
};

TEST_F(PackEdits, UnchangedTablesGiveTheOriginal) { EXPECT_EQ(PackRows(), original_); }

TEST_F(PackEdits, ChangedPrice) {
    rows_[1][kPriceColumn] = "123.5";
    Weapons()[0].Find(kPriceTag)->payload = FloatPayload(123.5f);
    EXPECT_EQ(PackRows(), Serialize(model_));
}

TEST_F(PackEdits, DecimalCommaFromASpreadsheet) {
    rows_[2][kPriceColumn] = "0,25";
    Weapons()[1].Find(kPriceTag)->payload = FloatPayload(0.25f);
    EXPECT_EQ(PackRows(), Serialize(model_));
}

TEST_F(PackEdits, AddedRow) {
    std::vector<std::string> row = rows_[1];
    row[kNameColumn] = "новый топор";
    rows_.push_back(row);
    GenRecord record = Weapons()[0];
    record.Find(kNameTag)->payload = TextPayload("\xED\xEE\xE2\xFB\xE9 \xF2\xEE\xEF\xEE\xF0");
    Weapons().push_back(record);
    EXPECT_EQ(PackRows(), Serialize(model_));
}

TEST_F(PackEdits, DeletedAndReorderedRows) {
    rows_.erase(rows_.begin() + 2);
    std::reverse(rows_.begin() + 1, rows_.end());
    Weapons().erase(Weapons().begin() + 1);
    std::reverse(Weapons().begin(), Weapons().end());
    EXPECT_EQ(PackRows(), Serialize(model_));
}

TEST_F(PackEdits, ValueGrowingPastTheShortSizeGetsTheLongForm) {
    const std::string name(300, 'x');
    rows_[1][kNameColumn] = name;
    Weapons()[0].Find(kNameTag)->payload = TextPayload(name);
    const Bytes packed = PackRows();
    EXPECT_EQ(packed, Serialize(model_));
    // The name field itself: tag 0, then 2*301+1 in four bytes.
    const Bytes header = {0x00, 0x5B, 0x02, 0x00, 0x00};
    EXPECT_NE(std::search(packed.begin(), packed.end(), header.begin(), header.end()), packed.end());
}

TEST_F(PackEdits, LfLineEndsAndNoByteOrderMark) {
    EXPECT_EQ(PackRows(JoinTable(rows_, "\n", false)), original_);
    // Blank lines a spreadsheet leaves at the end are no records.
    EXPECT_EQ(PackRows(JoinTable(rows_) + "\r\n\r\n"), original_);
}

TEST_F(PackEdits, CellQuotedByASpreadsheet) {
    rows_[1][kNameColumn] = "\"say \"\"hi\"\"\"";
    Weapons()[0].Find(kNameTag)->payload = TextPayload("say \"hi\"");
    EXPECT_EQ(PackRows(), Serialize(model_));
}

// UTF-8 (all within the Basic Multilingual Plane) as UTF-16LE with its mark.
std::string ToUtf16Le(const std::string& utf8) {
    std::string out = "\xFF\xFE";
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        unsigned cp = c;
        std::size_t len = 1;
        if (c >= 0xE0) {
            cp = c & 0x0Fu;
            len = 3;
        } else if (c >= 0xC0) {
            cp = c & 0x1Fu;
            len = 2;
        }
        for (std::size_t k = 1; k < len; ++k) cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
        out += static_cast<char>(cp & 0xFF);
        out += static_cast<char>(cp >> 8);
        i += len;
    }
    return out;
}

TEST_F(PackEdits, TableSavedAsUnicodeText) {
    const std::string utf8 = JoinTable(rows_, "\r\n", false);
    EXPECT_EQ(PackRows(ToUtf16Le(utf8)), original_);
}

TEST_F(PackEdits, ColumnsInAnotherOrder) {
    for (auto& row : rows_) std::swap(row[kNameColumn], row[kPriceColumn]);
    EXPECT_EQ(PackRows(), original_);
}

struct BadTable {
    const char* what;
    const char* file;           // the file the error must name
    long long row;              // -1: not checked
    const char* column;
    const char* cell;           // nullptr: no cell in the error
    const char* problem;        // part of the message
};

class PackRefusal : public ::testing::Test {
protected:
    void SetUp() override {
        GenOptions options;
        options.seed = 7;
        options.minRecords = 2;
        options.maxRecords = 3;
        const Bytes db = Serialize(Generate(*FindKind("items"), options));
        MemorySource source(db, "Items.idb");
        MemoryFolder folder;
        Unpack(source, *FindKind("items"), folder);
        for (const auto& [name, text] : folder.Files()) WriteBytes(in_ / name, Bytes(text.begin(), text.end()));
        WriteBytes(out_ / "Items.idb", Bytes{'O', 'L', 'D'});
        rows_ = SplitTable(folder.Files()["weapons.tsv"]);
    }

    void WriteWeapons() {
        const std::string text = JoinTable(rows_);
        WriteBytes(in_ / "weapons.tsv", Bytes(text.begin(), text.end()));
    }

    void ExpectRefused(const BadTable& c) {
        try {
            PackToFile(in_.path(), out_ / "Items.idb");
            ADD_FAILURE() << c.what << ": packed";
        } catch (const Error& e) {
            const Place& place = e.Where();
            EXPECT_NE(place.file.find(c.file), std::string::npos) << c.what << ": " << e.what();
            if (c.row >= 0) {
                EXPECT_EQ(place.row, c.row) << c.what << ": " << e.what();
            }
            EXPECT_EQ(place.column, c.column) << c.what << ": " << e.what();
            EXPECT_EQ(place.hasCell, c.cell != nullptr) << c.what << ": " << e.what();
            if (c.cell) {
                EXPECT_EQ(place.cell, c.cell) << c.what;
            }
            EXPECT_NE(std::string(e.what()).find(c.problem), std::string::npos) << c.what << ": " << e.what();
        }
        // Nothing written: the old database and no temporary file beside it.
        EXPECT_EQ(ReadBytes(out_ / "Items.idb"), (Bytes{'O', 'L', 'D'})) << c.what;
        EXPECT_EQ(std::distance(fs::directory_iterator(out_.path()), fs::directory_iterator()), 1) << c.what;
    }

    TempDir in_;
    TempDir out_;
    Rows rows_;
};

TEST_F(PackRefusal, BadCellsAndRows) {
    const struct {
        BadTable expect;
        std::size_t row;
        std::size_t column;   // SIZE_MAX: add a cell instead
        const char* text;
    } cases[] = {
        {{"unparsable number", "weapons.tsv", 3, "price", "12,5,0", "expected a number such as 1.5"}, 2, kPriceColumn, "12,5,0"},
        {{"bad escape", "weapons.tsv", 2, "name", "Acks\\HMW", "write a backslash as \\\\"}, 1, kNameColumn, "Acks\\HMW"},
        {{"wrong column count", "weapons.tsv", 2, "", nullptr, "the row has 35 cells, expected at most 34"}, 1, SIZE_MAX, "x"},
        {{"int out of range", "weapons.tsv", 2, "kind_id", "99999999999", "from -2147483648 to 2147483647"}, 1, 2, "99999999999"},
        {{"bad ~extra token", "weapons.tsv", 3, "~extra", "0 1 zz", "bad field tag ('zz')"}, 2, kExtraIndex, "0 1 zz"},
        {{"value for a field ~extra leaves out", "weapons.tsv", 2, "kind", "sword", "~extra does not list field 1"}, 1, kExtraIndex, "0"},
        {{"unknown column", "weapons.tsv", 1, "cost", nullptr, "unknown column; the weapons block has name, kind"}, 0, kPriceColumn, "cost"},
    };
    const Rows original = rows_;
    for (const auto& c : cases) {
        rows_ = original;
        if (c.column == SIZE_MAX) rows_[c.row].push_back(c.text);
        else rows_[c.row][c.column] = c.text;
        if (std::string(c.expect.what) == "value for a field ~extra leaves out") rows_[c.row][1] = "sword";
        WriteWeapons();
        ExpectRefused(c.expect);
    }
}

TEST_F(PackRefusal, BadFolders) {
    const std::string manifest(reinterpret_cast<const char*>(ReadBytes(in_ / "manifest.txt").data()),
                               ReadBytes(in_ / "manifest.txt").size());
    const auto writeManifest = [this](const std::string& text) {
        WriteBytes(in_ / "manifest.txt", Bytes(text.begin(), text.end()));
    };
    fs::remove(in_ / "armors.tsv");
    ExpectRefused({"missing table", "armors.tsv", -1, "", nullptr, "cannot open"});
    writeManifest(manifest + "colour\tred\r\n");
    ExpectRefused({"unknown manifest key", "manifest.txt", 11, "", nullptr, "unknown key 'colour'"});
    std::string escaping = manifest;
    escaping.replace(escaping.find("weapons.tsv"), 11, "../weapons.tsv");
    writeManifest(escaping);
    ExpectRefused({"table outside the folder", "manifest.txt", 5, "", nullptr, "must be a file name inside the folder"});
    writeManifest(manifest + "kind\titems\r\n");
    ExpectRefused({"key twice", "manifest.txt", 11, "", nullptr, "'kind' comes twice"});
    writeManifest(manifest + "trailer-file\tt.bin\r\n");
    ExpectRefused({"trailer twice", "manifest.txt", -1, "", nullptr, "both 'trailer' and 'trailer-file'"});
    fs::remove(in_ / "manifest.txt");
    ExpectRefused({"missing manifest", "manifest.txt", -1, "", nullptr, "cannot open"});
}

TEST_F(PackRefusal, TargetThatIsOneOfTheTables) {
    const Bytes before = ReadBytes(in_ / "weapons.tsv");
    EXPECT_THROW(PackToFile(in_.path(), in_ / "weapons.tsv"), Error);
    EXPECT_THROW(PackToFile(in_.path(), in_ / "manifest.txt"), Error);
    EXPECT_EQ(ReadBytes(in_ / "weapons.tsv"), before);
    EXPECT_THROW(PackToFile(in_.path(), out_.path()), Error);  // a folder
}

TEST_F(PackRefusal, SuccessReplacesTheTarget) {
    PackToFile(in_.path(), out_ / "Items.idb");
    EXPECT_GT(ReadBytes(out_ / "Items.idb").size(), 100u);
    EXPECT_EQ(std::distance(fs::directory_iterator(out_.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace gamedb::testing
