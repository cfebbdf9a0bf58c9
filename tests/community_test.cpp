// The community's workbook layout: workbooks written here from the layout
// facts (as the community's editor writes them: shared strings, `%f`
// numbers, no cell for an empty text, no package relationships) pack back
// into the databases they show, byte for byte; edits land; broken
// workbooks are refused naming the cell.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <minizip/zip.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "archive/cp1251.h"
#include "archive/fresh_layout.h"
#include "gamedb/community.h"
#include "gamedb/error.h"
#include "gamedb/framing.h"
#include "tests/support/gamedb_gen.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "workbook/workbook.h"
#include "workbook/workbook_syntax.h"

namespace gamedb::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using idb::testing::TempDir;

// ---- the editor's writer, from the layout facts --------------------------------

struct FactCell {
    bool number = false;
    std::string text;
};
using FactRow = std::vector<std::optional<FactCell>>;  // by the layout's columns
struct FactSheet {
    const CommunitySheet* layout;
    std::vector<FactRow> rows;
};
using FactBook = std::vector<FactSheet>;

std::string Format(const char* format, double value) {
    char text[400];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Printf(const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::uint32_t Le32(const Bytes& b, std::size_t at = 0) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 | std::uint32_t{b[at + 3]} << 24;
}

FactCell Number(const std::string& text) { return {true, text}; }

FactCell FloatFact(std::uint32_t bits) {
    const float f = std::bit_cast<float>(bits);
    if (std::isnan(f)) return {false, "nan"};
    if (std::isinf(f)) return {false, f > 0 ? "inf" : "-inf"};
    const double six = std::strtod(Format("%.6g", f).c_str(), nullptr);
    if (f == 0) return Number("0.000000");
    if (std::fpclassify(f) == FP_SUBNORMAL) return Number(Format("%E", six));
    return Number(Format("%f", six));
}

std::optional<FactCell> TextFact(const Bytes& payload) {
    std::string text(payload.begin(), payload.end());
    text = text.substr(0, text.find('\0'));
    if (text.empty()) return std::nullopt;
    return FactCell{false, resarc::Cp1251ToUtf8(text)};
}

std::vector<Bytes> ItemsOf(const Bytes& payload) {
    std::vector<Bytes> items;
    NodeCursor cursor(payload);
    for (NodeView node; cursor.Next(node);) items.emplace_back(node.payload.begin(), node.payload.end());
    return items;
}

std::optional<FactCell> ValueFact(const FieldSpec& field, int element, const Bytes& p) {
    switch (field.type) {
    case ValueType::Text:
    case ValueType::Code4: return TextFact(p);
    case ValueType::Int32: return Number(Format("%f", static_cast<std::int32_t>(Le32(p))));
    case ValueType::UInt32: return Number(Format("%f", Le32(p)));
    case ValueType::Float32: return FloatFact(Le32(p));
    case ValueType::Float32Array: return FloatFact(Le32(p, 4u * static_cast<std::size_t>(element)));
    case ValueType::Byte: return Number(Format("%f", p[0]));
    case ValueType::ByteArray: return Number(Format("%f", p[static_cast<std::size_t>(element)]));
    case ValueType::Bits5: return Number(Format("%f", (Le32(p) >> element) & 1));
    case ValueType::Raw: {
        std::string hex;
        for (const std::uint8_t b : p) hex += Printf("%02x", b);
        return FactCell{false, hex};
    }
    case ValueType::TextList:
    case ValueType::Code4List: {
        std::string text;
        const std::vector<Bytes> items = ItemsOf(p);
        for (std::size_t i = 0; i < items.size(); ++i) {
            std::string one = TextFact(items[i]).value_or(FactCell{}).text;
            if (field.type == ValueType::TextList) std::replace(one.begin(), one.end(), ',', ';');
            text += (i ? "," : "") + one;
        }
        if (text.empty()) return std::nullopt;
        return FactCell{false, text};
    }
    case ValueType::RecordList: {
        std::string text;
        for (const Bytes& item : ItemsOf(p)) {
            text += "{";
            bool first = true;
            NodeCursor cursor(item);
            for (NodeView node; cursor.Next(node);) {
                const Bytes v(node.payload.begin(), node.payload.end());
                text += (first ? "" : "##") + std::to_string(node.header.tag) + "=";
                first = false;
                const FieldSpec* sub = FindField(*field.record, node.header.tag);
                if (sub->type == ValueType::Text) text += TextFact(v).value_or(FactCell{}).text;
                else if (sub->type == ValueType::Int32) text += std::to_string(static_cast<std::int32_t>(Le32(v)));
                else text += std::to_string(Le32(v));
            }
            text += "}";
        }
        if (text.empty()) return std::nullopt;
        return FactCell{false, text};
    }
    case ValueType::Nested: {
        NodeCursor cursor(p);
        for (NodeView node; cursor.Next(node);)
            if (node.header.tag == element)
                return ValueFact(*FindField(*field.record, node.header.tag), 0, Bytes(node.payload.begin(), node.payload.end()));
        return std::nullopt;
    }
    }
    return std::nullopt;
}

// The workbook the editor writes for these databases (canonical ones, as the game writes).
FactBook ModelBook(const std::vector<GenDatabase>& databases) {
    FactBook book;
    for (const CommunitySheet& layout : CommunitySheets()) {
        FactSheet sheet{&layout, {}};
        const KindSpec* kind = FindKind(layout.kind);
        for (const GenDatabase& db : databases) {
            if (db.kind != kind) continue;
            const BlockSpec* block = FindBlock(*kind, layout.block);
            for (const GenBlock& b : db.blocks) {
                if (b.tag != layout.block) continue;
                for (const GenRecord& record : b.records) {
                    FactRow row;
                    for (const CommunityColumn& column : layout.columns) {
                        int tag = 0, element = 0;
                        std::sscanf(std::string(column.code).c_str(), "FLD%d-%d", &tag, &element);
                        const GenField* f = record.Find(static_cast<std::uint8_t>(tag));
                        row.push_back(ValueFact(*FindField(block->record, static_cast<std::uint8_t>(tag)), element, f->payload));
                    }
                    sheet.rows.push_back(std::move(row));
                }
                break;
            }
        }
        book.push_back(std::move(sheet));
    }
    return book;
}

std::string Xml(const std::string& text) {
    std::string out;
    for (const char c : workbook::EscapeLookalikes(text)) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (u < 0x20 && c != '\t' && c != '\n') out += Printf("_x%04X_", u);
        else out += c;
    }
    return out;
}

// Zips the book as the editor's files are made: 26 sheet parts, shared
// strings numbered by first use, no `_rels/.rels`.
void WriteFactBook(const fs::path& path, const FactBook& book) {
    const std::string ns = R"(xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
                           R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships")";
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    std::vector<std::string> strings;
    std::map<std::string, std::size_t> index;
    const auto shared = [&](const std::string& s) {
        const auto [it, added] = index.emplace(s, strings.size());
        if (added) strings.push_back(s);
        return it->second;
    };
    std::vector<std::pair<std::string, std::string>> parts;
    std::string workbookXml = "<workbook " + ns + "><sheets>";
    std::string rels = R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)";
    for (std::size_t i = 0; i < book.size(); ++i) {
        const FactSheet& sheet = book[i];
        const std::string n = std::to_string(i + 1);
        workbookXml += "<sheet name=\"" + std::string(sheet.layout->name) + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + rel + "worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
        std::string data;
        const auto row = [&](std::uint32_t r, const FactRow& cells) {
            data += "<row r=\"" + std::to_string(r + 1) + "\">";
            for (std::size_t c = 0; c < cells.size(); ++c) {
                if (!cells[c]) continue;
                const std::string ref = workbook::CellName(static_cast<std::uint32_t>(c + 1), r);
                if (cells[c]->number) data += "<c r=\"" + ref + "\"><v>" + cells[c]->text + "</v></c>";
                else data += "<c r=\"" + ref + "\" t=\"s\"><v>" + std::to_string(shared(cells[c]->text)) + "</v></c>";
            }
            data += "</row>";
        };
        FactRow titles, codes;
        for (const CommunityColumn& column : sheet.layout->columns) {
            titles.push_back(FactCell{false, std::string(column.title)});
            codes.push_back(FactCell{false, std::string(column.code)});
        }
        row(1, titles);
        row(2, codes);
        for (std::size_t r = 0; r < sheet.rows.size(); ++r) row(static_cast<std::uint32_t>(r + 3), sheet.rows[r]);
        parts.push_back({"xl/worksheets/sheet" + n + ".xml", "<worksheet " + ns + "><sheetData>" + data + "</sheetData></worksheet>"});
    }
    rels += "<Relationship Id=\"rId29\" Type=\"" + rel + "sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>";
    std::string sst = "<sst " + ns + ">";
    for (const std::string& s : strings) sst += "<si><t>" + Xml(s) + "</t></si>";
    parts.push_back({"xl/sharedStrings.xml", sst + "</sst>"});
    parts.push_back({"xl/workbook.xml", workbookXml + "</sheets></workbook>"});
    parts.push_back({"xl/_rels/workbook.xml.rels", rels});
    zipFile zip = zipOpen64(path.c_str(), 0);
    ASSERT_NE(zip, nullptr);
    for (const auto& [part, content] : parts) {
        zip_fileinfo info{};
        ASSERT_EQ(zipOpenNewFileInZip64(zip, part.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6, 1), ZIP_OK);
        ASSERT_EQ(zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size())), ZIP_OK);
        ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

// ---- helpers ----------------------------------------------------------------

FactSheet& SheetOf(FactBook& book, std::string_view name) {
    for (FactSheet& sheet : book)
        if (sheet.layout->name == name) return sheet;
    throw std::runtime_error("no sheet " + std::string(name));
}

std::optional<FactCell>& CellOf(FactBook& book, std::string_view sheet, std::size_t record, std::string_view code) {
    FactSheet& s = SheetOf(book, sheet);
    for (std::size_t c = 0; c < s.layout->columns.size(); ++c)
        if (s.layout->columns[c].code == code) return s.rows.at(record)[c];
    throw std::runtime_error("no column " + std::string(code));
}

// One database of every kind, with every loss the layout has somewhere.
std::vector<GenDatabase> Databases(std::uint64_t seed, GenOptions options = {}) {
    options.seed = seed;
    options.minRecords = 1;
    options.anyFloatRate = 0.5;
    options.duplicateKeyRate = 0;
    std::vector<GenDatabase> out;
    for (const KindSpec& kind : Kinds()) {
        options.seed = seed * 31 + out.size();
        GenDatabase db = Generate(kind, options);
        // A ',' inside a list item, which the layout shows as ';'.
        for (GenBlock& block : db.blocks)
            for (GenRecord& record : block.records)
                for (GenField& field : record.fields) {
                    const FieldSpec* spec = FindField(FindBlock(kind, block.tag)->record, field.tag);
                    if (spec->type != ValueType::TextList || field.payload.empty()) continue;
                    Bytes list;
                    for (Bytes item : ItemsOf(field.payload)) {
                        item.insert(item.begin(), {'a', ','});
                        gamedb::AppendNode(list, 1, item);
                    }
                    field.payload = list;
                }
        out.push_back(std::move(db));
    }
    return out;
}

CommunityPack PackBook(const fs::path& path, const KindSpec& kind, const std::optional<Bytes>& base) {
    workbook::WorkbookReader reader(path);
    return PackCommunity(reader, "book", kind,
                         base ? std::optional(std::span<const std::uint8_t>(*base)) : std::nullopt, "base");
}

std::string Refusal(const fs::path& path, const KindSpec& kind, const Bytes& base) {
    try {
        PackBook(path, kind, base);
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

// The payload of field `tag` in the first record of block `block`.
Bytes FieldOf(const Bytes& db, std::uint8_t block, std::uint8_t tag) {
    NodeCursor file(db);
    NodeView f;
    file.Next(f);
    NodeCursor blocks(f.payload);
    for (NodeView b; blocks.Next(b);) {
        if (b.header.tag != block) continue;
        NodeCursor records(b.payload);
        NodeView r;
        records.Next(r);
        NodeCursor fields(r.payload);
        for (NodeView n; fields.Next(n);)
            if (n.header.tag == tag) return Bytes(n.payload.begin(), n.payload.end());
    }
    return {};
}

// ---- properties ---------------------------------------------------------------

// A workbook nobody edited packs back into its databases byte for byte,
// whatever the layout could not show: floats past six digits, -0, NaN
// payloads, subnormals, infinities, ',' in list items.
TEST(CommunityWorkbook, UnchangedWorkbookPacksBackIntoEveryKind) {
    TempDir dir;
    std::size_t kept = 0;
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
        const std::vector<GenDatabase> dbs = Databases(seed);
        WriteFactBook(dir / "book.xlsx", ModelBook(dbs));
        for (const GenDatabase& db : dbs) {
            const Bytes base = Serialize(db);
            const CommunityPack pack = PackBook(dir / "book.xlsx", *db.kind, base);
            ASSERT_EQ(pack.bytes, base) << db.kind->name << " seed " << seed << "\n" << pack.report;
            EXPECT_FALSE(pack.changed);
            kept += pack.kept;
        }
    }
    EXPECT_GT(kept, 50u);
}

// Each loss mechanism on its own: kept from the base, and what a build
// without a base makes of it (the documented NaN, the rounded float).
TEST(CommunityWorkbook, EachLossIsKeptFromTheBase) {
    TempDir dir;
    GenOptions options;
    options.oddFloatRate = 0;
    options.anyFloatRate = 0;
    options.minRecords = 1;
    struct Loss {
        const char* kind;
        std::uint8_t block, tag;
        Bytes value, rebuilt;   // the base's value; what the cell alone gives
    };
    const auto floats = [](std::initializer_list<std::uint32_t> bits) {
        Bytes out;
        for (const std::uint32_t b : bits) out.insert(out.end(), {std::uint8_t(b), std::uint8_t(b >> 8), std::uint8_t(b >> 16), std::uint8_t(b >> 24)});
        return out;
    };
    const std::vector<Loss> losses = {
        {"units", 2, 33, FloatBitsPayload(0x80000000u), FloatBitsPayload(0)},                          // -0
        {"levers", 1, 1, floats({0x7FC00001u, 0x0012FF78u, 0x3F19999Au, 0}),                           // NaN payload, subnormal
         floats({0xFFFFFFFFu, 0x0012FF75u, 0x3F19999Au, 0})},
        {"items", 1, 4, FloatBitsPayload(0x3F199999u), FloatBitsPayload(0x3F19999Au)},                 // 0.59999996
        {"quests", 1, 1, FloatPayload(5135099.0f), FloatPayload(5135100.0f)},                          // past 6 digits
    };
    for (const Loss& loss : losses) {
        SCOPED_TRACE(loss.kind);
        std::vector<GenDatabase> dbs;
        options.seed = 7;
        dbs.push_back(Generate(*FindKind(loss.kind), options));
        dbs[0].FindBlock(loss.block)->records.at(0).Find(loss.tag)->payload = loss.value;
        WriteFactBook(dir / "book.xlsx", ModelBook(dbs));
        const Bytes base = Serialize(dbs[0]);
        const CommunityPack pack = PackBook(dir / "book.xlsx", *dbs[0].kind, base);
        EXPECT_EQ(pack.bytes, base) << pack.report;
        EXPECT_GE(pack.kept, 1u);
        // Without a base the cell is all there is.
        EXPECT_EQ(FieldOf(PackBook(dir / "book.xlsx", *dbs[0].kind, std::nullopt).bytes, loss.block, loss.tag), loss.rebuilt);
    }
}

// What this program writes in the layout shows what the editor shows, cell
// for cell (numbers by value: the container spells them its own way), and
// packs back byte for byte, irregular databases too.
TEST(CommunityWorkbook, WrittenWorkbookShowsTheFactsAndPacksBack) {
    TempDir dir;
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
        const std::vector<GenDatabase> dbs = Databases(seed);
        std::vector<Bytes> bytes;
        for (const GenDatabase& db : dbs) bytes.push_back(Serialize(db));
        std::vector<CommunitySource> sources;
        for (std::size_t i = 0; i < dbs.size(); ++i) sources.push_back({dbs[i].kind, bytes[i], "db"});
        WriteCommunityWorkbook(dir / "ours.xlsx", sources);
        const FactBook model = ModelBook(dbs);
        workbook::WorkbookReader reader(dir / "ours.xlsx");
        ASSERT_EQ(reader.Sheets().size(), 26u);
        for (std::size_t s = 0; s < model.size(); ++s) {
            ASSERT_EQ(reader.Sheets()[s].name, model[s].layout->name);
            const std::vector<workbook::Row> rows = reader.ReadSheet(reader.Sheets()[s]);
            ASSERT_EQ(rows.size(), model[s].rows.size() + 2);
            for (std::size_t r = 0; r < model[s].rows.size(); ++r) {
                const workbook::Row& row = rows[r + 2];
                ASSERT_EQ(row.index, r + 3);
                for (std::size_t c = 0; c < model[s].rows[r].size(); ++c) {
                    const std::optional<FactCell>& want = model[s].rows[r][c];
                    const workbook::Cell got = c + 1 < row.cells.size() ? row.cells[c + 1] : workbook::Cell{};
                    const std::string where = std::string(model[s].layout->name) + " " + workbook::CellName(static_cast<std::uint32_t>(c + 1), row.index);
                    if (!want) EXPECT_EQ(got.kind, workbook::Cell::Kind::Empty) << where;
                    else if (want->number) EXPECT_EQ(got.number, std::strtod(want->text.c_str(), nullptr)) << where;
                    else EXPECT_EQ(got.text, want->text) << where;
                }
            }
        }
        for (std::size_t i = 0; i < dbs.size(); ++i)
            ASSERT_EQ(PackBook(dir / "ours.xlsx", *dbs[i].kind, bytes[i]).bytes, bytes[i]) << dbs[i].kind->name;
    }
    for (const KindSpec& kind : Kinds()) {
        for (std::uint64_t seed = 1; seed <= 4; ++seed) {
            GenDatabase db = Generate(kind, GenOptions::Irregular(seed, 0.08));
            // A block the database lacks shows as an empty sheet, and stays lacking.
            if (seed == 4) db.blocks.erase(db.blocks.begin());
            const Bytes base = Serialize(db);
            const CommunitySource source{&kind, base, "db"};
            WriteCommunityWorkbook(dir / "irregular.xlsx", std::span(&source, 1));
            ASSERT_EQ(PackBook(dir / "irregular.xlsx", kind, base).bytes, base) << kind.name << " seed " << seed;
        }
    }
}

// ---- edits --------------------------------------------------------------------

// One edit of each value type lands, and nothing else changes.
TEST(CommunityWorkbook, OneEditPerValueTypeLands) {
    TempDir dir;
    GenOptions options;
    options.oddFloatRate = 0;
    const std::vector<GenDatabase> original = Databases(11, options);
    struct Edit {
        const char* kind;
        const char* sheet;
        const char* code;
        FactCell cell;
        std::uint8_t block, tag;
        std::function<void(Bytes&)> expect;   // applied to the base's payload
    };
    const auto set = [](Bytes value) { return [value](Bytes& p) { p = value; }; };
    const auto at = [](std::size_t offset, Bytes value) {
        return [offset, value](Bytes& p) { std::copy(value.begin(), value.end(), p.begin() + static_cast<std::ptrdiff_t>(offset)); };
    };
    Bytes ack;
    {
        Bytes item;
        gamedb::AppendNode(item, 1, TextPayload("a.wav"));
        gamedb::AppendNode(item, 2, Int32Payload(-5));
        gamedb::AppendNode(item, 3, TextPayload("\xCF\xF0\xE8\xE2\xE5\xF2, {x}"));
        gamedb::AppendNode(item, 4, TextPayload("c1"));
        gamedb::AppendNode(ack, 1, item);
    }
    Bytes list, codes;
    gamedb::AppendNode(list, 1, TextPayload("z1"));
    gamedb::AppendNode(list, 1, TextPayload("z;2"));
    gamedb::AppendNode(codes, 1, Bytes{'f', 'h', 0, 0});
    gamedb::AppendNode(codes, 1, Bytes{'a', 'b', 'c', 'd'});
    const std::vector<Edit> edits = {
        {"items", "Materials", "FLD0-0", {false, "Новое имя"}, 1, 0, set(TextPayload("\xCD\xEE\xE2\xEE\xE5 \xE8\xEC\xFF"))},
        {"items", "Materials", "FLD3-0", Number("-7.000000"), 1, 3, set(Int32Payload(-7))},
        {"units", "RaceModels", "FLD1-0", Number("4000000000.000000"), 2, 1, set(Int32Payload(static_cast<std::int32_t>(4000000000u)))},
        {"items", "Materials", "FLD4-0", Number("2.5"), 1, 4, set(FloatPayload(2.5f))},
        {"items", "Materials", "FLD11-2", Number("0.25"), 1, 11, at(8, FloatPayload(0.25f))},
        {"levers", "LeverPrototypes", "FLD1-1", {false, "nan"}, 1, 1, at(4, FloatBitsPayload(0xFFFFFFFFu))},
        {"items", "Weapons", "FLD15-0", Number("201.000000"), 2, 15, set(Bytes{201})},
        {"units", "NPC", "FLD7-3", Number("9"), 4, 7, at(3, Bytes{9})},
        {"items", "Materials", "FLD13-2", Number("1.000000"), 1, 13, [](Bytes& p) { p[0] |= 4; }},
        {"spells", "SpellModifiers", "FLD1-0", {false, "ab"}, 2, 1, set(Bytes{'a', 'b', 0, 0})},
        {"items", "Weapons", "FLD27-0", {false, "0A0b0c"}, 2, 27, set(Bytes{10, 11, 12})},
        {"items", "QuestItems", "FLD22-0", {false, "z1,z;2"}, 5, 22, set(list)},
        {"spells", "SpellPrototypes", "FLD16-0", {false, "fh,abcd"}, 1, 16, set(codes)},
        {"acks", "Answers", "FLD10-0", {false, "{1=a.wav##2=-5##3=Привет, {x}##4=c1}"}, 1, 10, set(ack)},
        {"units", "RaceModels", "FLD12-2", Number("3.5"), 2, 12, [](Bytes& p) {
             Bytes out;
             NodeCursor cursor(p);
             for (NodeView node; cursor.Next(node);)
                 gamedb::AppendNode(out, node.header.tag, node.header.tag == 2 ? FloatPayload(3.5f) : Bytes(node.payload.begin(), node.payload.end()));
             p = out;
         }},
        {"prints", "FootPrints", "FLD10-3", Number("-12"), 2, 10, [](Bytes& p) {
             Bytes out;
             NodeCursor cursor(p);
             for (NodeView node; cursor.Next(node);)
                 gamedb::AppendNode(out, node.header.tag, node.header.tag == 3 ? Int32Payload(-12) : Bytes(node.payload.begin(), node.payload.end()));
             p = out;
         }},
    };
    for (const Edit& edit : edits) {
        SCOPED_TRACE(std::string(edit.sheet) + " " + edit.code);
        FactBook book = ModelBook(original);
        CellOf(book, edit.sheet, 0, edit.code) = edit.cell;
        WriteFactBook(dir / "book.xlsx", book);
        const GenDatabase* db = nullptr;
        for (const GenDatabase& d : original)
            if (d.kind->name == edit.kind) db = &d;
        GenDatabase expected = *db;
        edit.expect(expected.FindBlock(edit.block)->records.at(0).Find(edit.tag)->payload);
        const CommunityPack pack = PackBook(dir / "book.xlsx", *db->kind, Serialize(*db));
        EXPECT_EQ(pack.bytes, Serialize(expected));
        EXPECT_TRUE(pack.changed);
        EXPECT_THAT(pack.report, HasSubstr("changes from"));
    }
}

// Records pair by key when the counts differ: a row taken out drops its
// record and the others keep what the layout could not show; a row added
// is a new record by the game's rules.
TEST(CommunityWorkbook, RowsRemovedAndAddedPairByKey) {
    TempDir dir;
    GenOptions options;
    options.minRecords = 3;
    const std::vector<GenDatabase> dbs = Databases(5, options);
    const GenDatabase& units = dbs[5];
    ASSERT_EQ(units.kind->name, "units");
    const Bytes base = Serialize(units);

    FactBook book = ModelBook(dbs);
    FactSheet& monsters = SheetOf(book, "Monsters");
    monsters.rows.erase(monsters.rows.begin() + 1);
    WriteFactBook(dir / "removed.xlsx", book);
    const CommunityPack removed = PackBook(dir / "removed.xlsx", *units.kind, base);
    GenDatabase expected = units;
    expected.FindBlock(3)->records.erase(expected.FindBlock(3)->records.begin() + 1);
    EXPECT_EQ(removed.bytes, Serialize(expected)) << removed.report;
    EXPECT_GT(removed.kept, 0u);
    EXPECT_THAT(removed.report, HasSubstr("1 removed"));

    book = ModelBook(dbs);
    FactRow added = SheetOf(book, "Monsters").rows.front();
    added[0] = FactCell{false, "новый"};
    added[5] = FactCell{false, "nan"};   // G, FLD5-0
    SheetOf(book, "Monsters").rows.push_back(added);
    WriteFactBook(dir / "added.xlsx", book);
    const CommunityPack grown = PackBook(dir / "added.xlsx", *units.kind, base);
    EXPECT_THAT(grown.report, HasSubstr("1 added"));
    // The records before are the base's, bytes and all; the new one is
    // written whole, in tag order, with the documented NaN.
    const auto records = [](const Bytes& db) {
        std::vector<Bytes> out;
        NodeCursor file(db);
        NodeView f;
        file.Next(f);
        NodeCursor blocks(f.payload);
        for (NodeView b; blocks.Next(b);) {
            if (b.header.tag != 3) continue;
            NodeCursor cursor(b.payload);
            for (NodeView r; cursor.Next(r);) out.emplace_back(r.payload.begin(), r.payload.end());
        }
        return out;
    };
    const std::vector<Bytes> before = records(base), after = records(grown.bytes);
    ASSERT_EQ(after.size(), before.size() + 1);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
    const std::vector<NodeView> fields = [&] {
        std::vector<NodeView> out;
        NodeCursor cursor(after.back());
        for (NodeView n; cursor.Next(n);) out.push_back(n);
        return out;
    }();
    const RecordSpec& spec = FindBlock(*units.kind, 3)->record;
    ASSERT_EQ(fields.size(), spec.fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) EXPECT_EQ(fields[i].header.tag, spec.fields[i].tag);
    EXPECT_EQ(Bytes(fields[0].payload.begin(), fields[0].payload.end()), TextPayload("\xED\xEE\xE2\xFB\xE9"));
    EXPECT_EQ(Bytes(fields[5].payload.begin(), fields[5].payload.end()), FloatBitsPayload(0xFFFFFFFFu));
}


// Of two columns with one code, the one that differs from the base wins.
TEST(CommunityWorkbook, DuplicateColumnThatDiffersWins) {
    TempDir dir;
    std::vector<GenDatabase> dbs = Databases(3);
    GenDatabase& prints = dbs[3];
    ASSERT_EQ(prints.kind->name, "prints");
    FactBook book = ModelBook(dbs);
    FactSheet& sheet = SheetOf(book, "BloodPrints");
    sheet.rows[0][6] = Number("77.000000");   // H, the second FLD3-2
    WriteFactBook(dir / "book.xlsx", book);
    const CommunityPack pack = PackBook(dir / "book.xlsx", *prints.kind, Serialize(prints));
    Bytes& wet = prints.FindBlock(1)->records[0].Find(3)->payload;
    Bytes out;
    NodeCursor cursor(wet);
    for (NodeView node; cursor.Next(node);)
        gamedb::AppendNode(out, node.header.tag, node.header.tag == 2 ? Int32Payload(77) : Bytes(node.payload.begin(), node.payload.end()));
    wet = out;
    EXPECT_EQ(pack.bytes, Serialize(prints));
    EXPECT_THAT(pack.report, HasSubstr("columns G and H (FLD3-2) disagree; H was taken"));
}

// ---- refusals -------------------------------------------------------------------

TEST(CommunityWorkbook, BrokenWorkbooksAreRefusedNamingTheCell) {
    TempDir dir;
    const std::vector<GenDatabase> dbs = Databases(2);
    const Bytes items = Serialize(dbs[0]);
    struct Case {
        std::function<void(FactBook&)> spoil;
        std::vector<std::string> said;
    };
    const std::vector<Case> cases = {
        {[](FactBook& b) { b.erase(b.begin() + 2); }, {"the sheet \"Armors\" is missing"}},
        {[](FactBook& b) {
             FactSheet& s = b[1];
             static std::vector<CommunityColumn> columns;
             columns.assign(s.layout->columns.begin(), s.layout->columns.end());
             columns[4].code = "FLD99-0";
             static CommunitySheet layout;
             layout = *s.layout;
             layout.columns = columns;
             s.layout = &layout;
         },
         {"sheet \"Weapons\"", "row 3", "no column has the code FLD4-0"}},
        {[](FactBook& b) { CellOf(b, "Materials", 0, "FLD3-0") = FactCell{false, "twelve"}; },
         {"sheet \"Materials\"", "row 4", "column E (FLD3-0)", "text in a number column: \"twelve\""}},
        {[](FactBook& b) { CellOf(b, "Armors", 0, "FLD14-1") = Number("2.000000"); },
         {"sheet \"Armors\"", "row 4", "column Q (FLD14-1)", "\"2.000000\"", "a shop flag, 0 or 1"}},
        {[](FactBook& b) { CellOf(b, "LootItems", 0, "FLD1-0") = FactCell{false, "名前"}; },
         {"sheet \"LootItems\"", "row 4", "column C (FLD1-0)", "Windows-1251 cannot hold", "名前"}},
        {[](FactBook& b) { CellOf(b, "Weapons", 0, "FLD27-0") = FactCell{false, "00zz00"}; },
         {"sheet \"Weapons\"", "column AH (FLD27-0)", "6 hex digits"}},
        {[](FactBook& b) { CellOf(b, "Materials", 0, "FLD4-0") = std::nullopt; },
         {"sheet \"Materials\"", "column F (FLD4-0)", "no value"}},
    };
    for (const Case& c : cases) {
        FactBook book = ModelBook(dbs);
        c.spoil(book);
        WriteFactBook(dir / "book.xlsx", book);
        const std::string message = Refusal(dir / "book.xlsx", *dbs[0].kind, items);
        for (const std::string& part : c.said) EXPECT_THAT(message, HasSubstr(part));
    }
}

// ---- the command line -----------------------------------------------------------

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// unpack --layout community and pack back: the archive is not even
// written; an edit lands in its member; a refused workbook leaves the
// archive and a database target as they were.
TEST(CommunityWorkbook, CommandLineRoundTripEditAndRefusal) {
    TempDir dir;
    const std::vector<GenDatabase> dbs = Databases(9);
    std::vector<resarc::Member> members;
    const char* names[] = {"items.idb", "levers.ldb", "perks.pdb", "prints.db", "spells.sdb", "units.udb", "quests.qdb", "acks.db"};
    for (std::size_t i = 0; i < dbs.size(); ++i) {
        const Bytes b = Serialize(dbs[i]);
        members.push_back(resarc::Member{names[i], 1000, std::string(b.begin(), b.end())});
    }
    members.push_back(resarc::Member{"readme.txt", 1000, std::string("hello")});
    resarc::WriteArchive(dir / "database.res", members);
    const std::string archive = ReadFile(dir / "database.res");
    const auto before = fs::last_write_time(dir / "database.res");

    auto run = [&](const std::string& args) { return idb::testing::RunProgram(dir, GAMEDB_PATH, args); };
    auto r = run("unpack database.res book.xlsx --layout community");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = run("pack book.xlsx database.res");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("not written"));
    EXPECT_EQ(ReadFile(dir / "database.res"), archive);
    EXPECT_EQ(fs::last_write_time(dir / "database.res"), before);

    FactBook book = ModelBook(dbs);
    CellOf(book, "Quests", 0, "FLD5-0") = Number("123.000000");
    WriteFactBook(dir / "edited.xlsx", book);
    r = run("pack edited.xlsx database.res");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("money"));
    GenDatabase quests = dbs[6];
    quests.FindBlock(1)->records[0].Find(5)->payload = Int32Payload(123);
    const resarc::Archive changed = resarc::Archive::Open(dir / "database.res");
    const std::string member = changed.Read(*changed.Find("quests.qdb"));
    EXPECT_EQ(Bytes(member.begin(), member.end()), Serialize(quests));
    EXPECT_EQ(changed.Read(*changed.Find("units.udb")), members[5].data.index() == 1 ? std::get<std::string>(members[5].data) : "");

    // ARCHIVE:MEMBER and a database file.
    r = run("pack book.xlsx database.res:quests.qdb");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(resarc::Archive::Open(dir / "database.res").Read(*changed.Find("quests.qdb")), std::get<std::string>(members[6].data));
    WriteBytes(dir / "quests.qdb", Serialize(dbs[6]));
    r = run("pack edited.xlsx quests.qdb");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "quests.qdb"), std::string(member));

    CellOf(book, "Quests", 0, "FLD5-0") = FactCell{false, "lots"};
    WriteFactBook(dir / "bad.xlsx", book);
    const std::string archiveNow = ReadFile(dir / "database.res");
    for (const std::string target : {"database.res", "quests.qdb", "database.res:quests.qdb"}) {
        const std::string file = target.substr(0, target.find(':'));
        const std::string was = ReadFile(dir / file);
        r = run("pack bad.xlsx " + target);
        EXPECT_EQ(r.exitCode, 1) << target;
        EXPECT_THAT(r.err, HasSubstr("sheet \"Quests\", row 4, column G (FLD5-0)")) << target;
        EXPECT_EQ(ReadFile(dir / file), was) << target;
    }
    EXPECT_EQ(ReadFile(dir / "database.res"), archiveNow);
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_THAT(entry.path().filename().string(), ::testing::Not(HasSubstr(".tmp"))) << "a temporary was left";
}

// What the command line refuses before anything is written: a workbook
// name that is not .xlsx, a layout it does not know, an archive with two
// databases of one kind (which one would the sheets go to?).
TEST(CommunityWorkbook, CommandLineRefusesWhatItCannotTell) {
    TempDir dir;
    const std::vector<GenDatabase> dbs = Databases(4);
    const Bytes items = Serialize(dbs[0]);
    WriteBytes(dir / "items.idb", items);
    auto run = [&](const std::string& args) { return idb::testing::RunProgram(dir, GAMEDB_PATH, args); };
    EXPECT_EQ(run("unpack items.idb items.txt --layout community").exitCode, 2);
    EXPECT_EQ(run("unpack items.idb book.xlsx --layout sideways").exitCode, 2);
    EXPECT_FALSE(fs::exists(dir / "book.xlsx"));
    ASSERT_EQ(run("unpack items.idb book.xlsx --layout community").exitCode, 0);

    const std::string bytes(items.begin(), items.end());
    const std::vector<resarc::Member> members = {{"a.idb", 1000, bytes}, {"b.idb", 1000, bytes}};
    resarc::WriteArchive(dir / "two.res", members);
    const std::string before = ReadFile(dir / "two.res");
    const auto r = run("pack book.xlsx two.res");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(r.err, HasSubstr("more than one items database"));
    EXPECT_EQ(ReadFile(dir / "two.res"), before);
    EXPECT_EQ(run("pack book.xlsx two.res:b.idb").exitCode, 0);
    EXPECT_EQ(ReadFile(dir / "two.res"), before);
}

}  // namespace
}  // namespace gamedb::testing
