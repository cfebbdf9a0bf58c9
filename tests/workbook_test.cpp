#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <minizip/zip.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "workbook/workbook.h"
#include "workbook/workbook_syntax.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using workbook::Cell;
using workbook::Error;
using workbook::ReadLimits;
using workbook::WorkbookReader;
using workbook::WorkbookWriter;

namespace {

class WorkbookTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("workbook_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A zip of these parts, as a spreadsheet would save it.
    fs::path Zip(const std::vector<std::pair<std::string, std::string>>& parts, const std::string& name = "book.xlsx") {
        fs::path path = dir_ / name;
        zipFile zip = zipOpen64(path.c_str(), 0);
        EXPECT_NE(zip, nullptr);
        for (const auto& [part, content] : parts) {
            zip_fileinfo info{};
            EXPECT_EQ(zipOpenNewFileInZip64(zip, part.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6, 1), ZIP_OK);
            EXPECT_EQ(zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size())), ZIP_OK);
            EXPECT_EQ(zipCloseFileInZip(zip), ZIP_OK);
        }
        EXPECT_EQ(zipClose(zip, nullptr), ZIP_OK);
        return path;
    }

    // A minimal workbook whose sheets are given as (name, sheet XML); shared
    // strings optional.
    fs::path Book(const std::vector<std::pair<std::string, std::string>>& sheets, const std::string& shared = {}) {
        const std::string ns = R"(xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
                               R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships")";
        const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
        std::string book = "<workbook " + ns + "><sheets>";
        std::string rels = R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)";
        std::vector<std::pair<std::string, std::string>> parts;
        parts.push_back({"_rels/.rels", R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
                                        R"(<Relationship Id="rId1" Type=")" + rel + R"(officeDocument" Target="xl/workbook.xml"/>)"
                                        "</Relationships>"});
        for (std::size_t i = 0; i < sheets.size(); ++i) {
            // Parts numbered backwards: the workbook's order, not the parts', is the sheets' order.
            std::string part = "worksheets/sheet" + std::to_string(sheets.size() - i) + ".xml";
            book += "<sheet name=\"" + sheets[i].first + "\" sheetId=\"" + std::to_string(i + 1) + "\" r:id=\"rId" +
                    std::to_string(i + 10) + "\"/>";
            rels += "<Relationship Id=\"rId" + std::to_string(i + 10) + "\" Type=\"" + rel + "worksheet\" Target=\"" + part + "\"/>";
            parts.push_back({"xl/" + part, "<worksheet " + ns + "><sheetData>" + sheets[i].second + "</sheetData></worksheet>"});
        }
        if (!shared.empty()) {
            rels += "<Relationship Id=\"rId99\" Type=\"" + rel + "sharedStrings\" Target=\"/xl/sharedStrings.xml\"/>";
            parts.push_back({"xl/sharedStrings.xml", "<sst " + ns + ">" + shared + "</sst>"});
        }
        parts.push_back({"xl/workbook.xml", book + "</sheets></workbook>"});
        parts.push_back({"xl/_rels/workbook.xml.rels", rels + "</Relationships>"});
        return Zip(parts);
    }

    static std::string ErrorOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const Error& e) {
            return e.what();
        }
        return "(no error)";
    }

    fs::path dir_;
};

std::string RandomText(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {"a", "Z", " ", "0", "7", ".", ",", ";", "|", "\\", "#", "=", "+", "-",
                                                    "Шкура", "волка", "ё", "\t", "_x0041_", "_x", "&", "<", "\"", "'", "€"};
    std::string text;
    std::size_t n = rng() % 8;
    for (std::size_t i = 0; i < n; ++i) text += pieces[rng() % pieces.size()];
    return text;
}

}  // namespace

// Whatever the writer is given comes back from the reader: texts as texts
// (blanks, escapes-lookalikes, Cyrillic), and every float32 and int32 number
// exactly, in sheets read in the order written.
TEST_F(WorkbookTest, WrittenCellsReadBackExactly) {
    std::mt19937 rng(7);
    std::vector<std::vector<std::vector<Cell>>> sheets(3);
    fs::path path = dir_ / "round.xlsx";
    {
        WorkbookWriter writer(path, dir_);
        for (std::size_t s = 0; s < sheets.size(); ++s) {
            writer.BeginSheet("items.sheet" + std::to_string(s), {.hidden = s == 2});
            for (int r = 0; r < 200; ++r) {
                std::vector<Cell> row;
                for (int c = 0; c < 6; ++c) {
                    switch (rng() % 4) {
                    case 0: {
                        float f;
                        do f = std::bit_cast<float>(static_cast<std::uint32_t>(rng())); while (!std::isfinite(f));
                        row.push_back(Cell::Number(f));
                        break;
                    }
                    case 1: row.push_back(Cell::Number(static_cast<std::int32_t>(rng()))); break;
                    case 2: row.push_back(Cell::Text(RandomText(rng))); break;
                    default: row.push_back({}); break;
                    }
                }
                writer.AddRow(row);
                sheets[s].push_back(row);
            }
        }
        writer.Close();
    }
    WorkbookReader reader(path);
    ASSERT_EQ(reader.Sheets().size(), sheets.size());
    for (std::size_t s = 0; s < sheets.size(); ++s) {
        const workbook::SheetInfo& info = reader.Sheets()[s];
        EXPECT_EQ(info.name, "items.sheet" + std::to_string(s));
        EXPECT_EQ(info.hidden, s == 2);
        std::vector<workbook::Row> rows = reader.ReadSheet(info);
        ASSERT_EQ(rows.size(), sheets[s].size());
        for (std::size_t r = 0; r < rows.size(); ++r) {
            EXPECT_EQ(rows[r].index, r);
            for (std::size_t c = 0; c < sheets[s][r].size(); ++c) {
                const Cell& want = sheets[s][r][c];
                Cell got = c < rows[r].cells.size() ? rows[r].cells[c] : Cell{};
                std::string where = info.name + "!" + workbook::CellName(static_cast<std::uint32_t>(c), static_cast<std::uint32_t>(r));
                // An empty text is an empty cell to a spreadsheet.
                Cell::Kind kind = want.kind == Cell::Kind::Text && want.text.empty() ? Cell::Kind::Empty : want.kind;
                ASSERT_EQ(got.kind, kind) << where;
                if (want.kind == Cell::Kind::Text) {
                    EXPECT_EQ(got.text, want.text) << where;
                }
                if (want.kind == Cell::Kind::Number) {
                    EXPECT_EQ(std::bit_cast<std::uint32_t>(static_cast<float>(got.number)),
                              std::bit_cast<std::uint32_t>(static_cast<float>(want.number)))
                        << where << " " << got.text;
                }
            }
        }
    }
}

// What spreadsheets save: shared strings with rich-text runs and phonetic
// runs, inline strings, booleans, formulas with and without cached values,
// a number styled as a date, cells and rows without their names, escapes,
// a prefixed namespace.
TEST_F(WorkbookTest, ReadsWhatSpreadsheetsSave) {
    std::string shared = R"(<si><t>plain</t></si>)"
                         R"(<si><r><rPr><b/></rPr><t>bo</t></r><r><t xml:space="preserve">ld </t></r><rPh sb="0" eb="1"><t>yomi</t></rPh></si>)"
                         R"(<si><t>a_x000D_b_x005F_x0041_</t></si>)";
    std::string sheet = R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="C1" t="s"><v>1</v></c></row>)"
                        R"(<row r="3"><c t="b"><v>1</v></c><c t="str"><f>A1&amp;"x"</f><v>plainx</v></c><c><f>1+1</f><v>2</v></c>)"
                        R"(<c s="1"><v>45000.5</v></c><c t="inlineStr"><is><t>inline</t></is></c><c><f>NOW()</f></c><c t="s"><v>2</v></c></row>)"
                        R"(<row><c t="e"><v>#N/A</v></c><c><v>-1.5E-3</v></c></row>)";
    fs::path path = Book({{"second", "<row r=\"1\"><c t=\"inlineStr\"><is><t>x</t></is></c></row>"}, {"first", sheet}}, shared);
    WorkbookReader reader(path);
    ASSERT_EQ(reader.Sheets().size(), 2u);
    EXPECT_EQ(reader.Sheets()[0].name, "second");
    const workbook::SheetInfo* info = reader.FindSheet("FIRST");
    ASSERT_NE(info, nullptr);
    std::vector<workbook::Row> rows = reader.ReadSheet(*info);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].index, 0u);
    ASSERT_EQ(rows[0].cells.size(), 3u);
    EXPECT_EQ(rows[0].cells[0].text, "plain");
    EXPECT_EQ(rows[0].cells[1].kind, Cell::Kind::Empty);
    EXPECT_EQ(rows[0].cells[2].text, "bold ");
    EXPECT_EQ(rows[1].index, 2u);
    ASSERT_EQ(rows[1].cells.size(), 7u);
    EXPECT_EQ(rows[1].cells[0].kind, Cell::Kind::Boolean);
    EXPECT_EQ(rows[1].cells[0].number, 1);
    EXPECT_EQ(rows[1].cells[1].kind, Cell::Kind::Text);
    EXPECT_EQ(rows[1].cells[1].text, "plainx");
    EXPECT_EQ(rows[1].cells[2].number, 2);
    EXPECT_EQ(rows[1].cells[3].number, 45000.5);
    EXPECT_EQ(rows[1].cells[3].text, "45000.5");
    EXPECT_EQ(rows[1].cells[4].text, "inline");
    EXPECT_EQ(rows[1].cells[5].kind, Cell::Kind::Empty);
    EXPECT_EQ(rows[1].cells[6].text, "a\rb_x0041_");
    EXPECT_EQ(rows[2].index, 3u);
    EXPECT_EQ(rows[2].cells[0].kind, Cell::Kind::Error);
    EXPECT_EQ(rows[2].cells[0].text, "#N/A");
    EXPECT_EQ(rows[2].cells[1].number, -0.0015);
}

// Damaged and hostile workbooks are refused with a message that says where,
// without reading more than the limits allow.
TEST_F(WorkbookTest, RefusesDamagedAndHostileWorkbooks) {
    fs::path text = dir_ / "text.xlsx";
    std::FILE* f = std::fopen(text.c_str(), "wb");
    std::fputs("name\tprice\r\n", f);
    std::fclose(f);
    EXPECT_THAT(ErrorOf([&] { WorkbookReader r(text); }), HasSubstr("not a zip container"));
    EXPECT_THAT(ErrorOf([&] { WorkbookReader r(dir_ / "missing.xlsx"); }), HasSubstr("no such file"));
    fs::path noBook = Zip({{"hello.txt", "hi"}}, "nobook.xlsx");
    EXPECT_THAT(ErrorOf([&] { WorkbookReader r(noBook); }), HasSubstr("has no \"xl/workbook.xml\""));

    fs::path badCell = Book({{"s", R"(<row r="2"><c r="B3"><v>1</v></c></row>)"}});
    WorkbookReader reader(badCell);
    EXPECT_THAT(ErrorOf([&] { reader.ReadSheet(reader.Sheets()[0]); }), HasSubstr("sheet \"s\": cell B2: cell name \"B3\" does not fit row 2"));
    fs::path badNumber = Book({{"s", R"(<row r="1"><c r="A1"/><c r="B1"><v>1,5</v></c></row>)"}});
    WorkbookReader reader2(badNumber);
    EXPECT_THAT(ErrorOf([&] { reader2.ReadSheet(reader2.Sheets()[0]); }), HasSubstr("cell B1: number \"1,5\" cannot be read"));
    fs::path badShared = Book({{"s", R"(<row r="1"><c r="A1" t="s"><v>5</v></c></row>)"}}, "<si><t>x</t></si>");
    WorkbookReader reader3(badShared);
    EXPECT_THAT(ErrorOf([&] { reader3.ReadSheet(reader3.Sheets()[0]); }), HasSubstr("shared string \"5\" does not exist"));

    // A giant string and a part that inflates past its limit (a zip bomb in
    // miniature: the limits are lowered, the mechanism is the same).
    std::string giant = "<si><t>" + std::string(3u << 20, 'a') + "</t></si>";
    fs::path giantBook = Book({{"s", ""}}, giant);
    EXPECT_THAT(ErrorOf([&] { WorkbookReader r(giantBook); }), HasSubstr("a text of more than 1048576 bytes"));
    ReadLimits small;
    small.partBytes = 1u << 20;
    std::string rows;
    for (int i = 1; rows.size() < (2u << 20); ++i) rows += "<row r=\"" + std::to_string(i) + "\"><c><v>0</v></c></row>";
    fs::path bomb = Book({{"s", rows}});
    WorkbookReader reader4(bomb, small);
    EXPECT_THAT(ErrorOf([&] { reader4.ReadSheet(reader4.Sheets()[0]); }), HasSubstr("more than the 1048576 bytes a workbook part may have"));

    fs::path doctype = Zip({{"xl/workbook.xml", R"(<?xml version="1.0"?><!DOCTYPE w [<!ENTITY a "aaaa">]><workbook>&a;</workbook>)"}},
                           "doctype.xlsx");
    EXPECT_THAT(ErrorOf([&] { WorkbookReader r(doctype); }), HasSubstr("document type declaration"));
    fs::path broken = Zip({{"xl/workbook.xml", "<workbook><sheets>"}}, "broken.xlsx");
    EXPECT_THAT(ErrorOf([&] { WorkbookReader r(broken); }), HasSubstr("is not well-formed XML"));
}

// The writer refuses what a spreadsheet could not open, and a writer that is
// not closed leaves no file.
TEST_F(WorkbookTest, WriterRefusesWhatSpreadsheetsCannotHold) {
    fs::path path = dir_ / "w.xlsx";
    {
        WorkbookWriter writer(path, dir_);
        EXPECT_THAT(ErrorOf([&] { writer.BeginSheet("a/b"); }), HasSubstr("holds '/'"));
        EXPECT_THAT(ErrorOf([&] { writer.BeginSheet(std::string(32, 'x')); }), HasSubstr("longer than the 31"));
        EXPECT_THAT(ErrorOf([&] { writer.BeginSheet(""); }), HasSubstr("is empty"));
        writer.BeginSheet("Weapons");
        EXPECT_THAT(ErrorOf([&] { writer.BeginSheet("weapons"); }), HasSubstr("is used by another sheet"));
        std::vector<Cell> row{Cell::Text(std::string(32768, 'x'))};
        EXPECT_THAT(ErrorOf([&] { writer.AddRow(row); }), HasSubstr("cell A1: a text of 32768 characters"));
    }
    EXPECT_FALSE(fs::exists(path));
}

TEST(WorkbookNames, CellNamesBothWays) {
    const std::vector<std::pair<std::string, std::pair<std::uint32_t, std::uint32_t>>> cases = {
        {"A1", {0, 0}}, {"Z9", {25, 8}}, {"AA10", {26, 9}}, {"XFD1048576", {16383, 1048575}}};
    for (const auto& [name, at] : cases) {
        EXPECT_EQ(workbook::CellName(at.first, at.second), name);
        std::uint32_t column = 0, row = 0;
        ASSERT_TRUE(workbook::ParseCellName(name, column, row)) << name;
        EXPECT_EQ(column, at.first);
        EXPECT_EQ(row, at.second);
    }
    std::uint32_t column = 0, row = 0;
    for (const char* bad : {"", "A", "1", "A0", "ABCD1", "A1B", "A-1"})
        EXPECT_FALSE(workbook::ParseCellName(bad, column, row)) << bad;
}
