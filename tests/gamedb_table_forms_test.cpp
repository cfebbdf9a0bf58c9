// Tables as spreadsheets and earlier versions write them: one column per
// part of an array or nested record, the folders of format 1, and what a
// spreadsheet's save changes (encoding, quotes, blanks, short rows).
#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "gamedb/byte_io.h"
#include "gamedb/cells.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "gamedb/pack.h"
#include "gamedb/unpack.h"
#include "tests/support/gamedb_gen.h"

namespace gamedb::testing {
namespace {

const std::string kBom = "\xEF\xBB\xBF";
const std::string kTrailer = "trailer\t00 00 02 0C 02 08 01 00 00 00\r\n";

Bytes PackFolder(MemoryFolder& folder, PackSummary* summary = nullptr) {
    MemorySink sink;
    PackSummary result = Pack(folder, sink);
    if (summary) *summary = result;
    return sink.Bytes();
}

std::string PackError(MemoryFolder& folder) {
    try {
        PackFolder(folder);
    } catch (const Error& e) {
        return e.what();
    }
    return "(packed)";
}

GenRecord Record(std::initializer_list<GenField> fields) {
    GenRecord record;
    record.fields = fields;
    return record;
}

Bytes Floats(std::initializer_list<std::uint32_t> bits) {
    Bytes out;
    for (const std::uint32_t b : bits) {
        const Bytes one = FloatBitsPayload(b);
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

Bytes Nested(std::initializer_list<std::pair<std::uint8_t, Bytes>> fields) {
    Bytes out;
    for (const auto& [tag, payload] : fields) AppendNode(out, tag, payload);
    return out;
}

// Made through Generate: g++ 12 warns falsely about a database built in a
// test's body.
GenDatabase EmptyDatabase(const char* kind) {
    GenOptions options;
    options.maxRecords = 0;
    GenDatabase db = Generate(*FindKind(kind), options);
    db.blocks.clear();
    return db;
}

// A folder written by the first version: ".txt" tables, format 1, an array
// or nested record in one cell, raw bytes as bare hex, -0 as "-0", prices
// with an exponent.
TEST(TableForms, PacksAFolderOfFormatOneByteForByte) {
    MemoryFolder levers;
    levers.Files()["manifest.txt"] = kBom + "format\t1\r\nkind\tlevers\r\nfile\t1\tauto\r\nblock\t1\tlever_prototypes.txt\tauto\r\n" + kTrailer;
    levers.Files()["lever_prototypes.txt"] =
        kBom + "name\tplaces\tplace_count\tscale\tswitch_time\tmaterial\tsound\thint\t~extra\r\n"
               "\xD0\xA0\xD1\x8B\xD1\x87\xD0\xB0\xD0\xB3\t1 2.5 -0 nan:0xFFFFFFFF\t1\t0.75\t500\twood\tlever.wav\t\t\r\n";
    GenDatabase lever = EmptyDatabase("levers");
    lever.blocks.push_back({1, {Record({{0, TextPayload("\xD0\xFB\xF7\xE0\xE3")},
                                        {1, Floats({0x3F800000u, 0x40200000u, 0x80000000u, 0xFFFFFFFFu})},
                                        {2, Int32Payload(1)},
                                        {3, FloatPayload(0.75f)},
                                        {4, Int32Payload(500)},
                                        {5, TextPayload("wood")},
                                        {6, TextPayload("lever.wav")},
                                        {7, TextPayload("")}})}});
    EXPECT_EQ(PackFolder(levers), Serialize(lever));

    MemoryFolder prints;
    prints.Files()["manifest.txt"] = kBom + "format\t1\r\nkind\tprints\r\nfile\t1\tauto\r\nblock\t1\tblood_prints.txt\tauto\r\n" + kTrailer;
    prints.Files()["blood_prints.txt"] = kBom + "terrain\tdry\twet\t~extra\r\ngrass\t0.5|120|30\t-0|-3|7\t\r\n";
    GenDatabase print = EmptyDatabase("prints");
    print.blocks.push_back({1, {Record({{1, TextPayload("grass")},
                                        {2, Nested({{1, FloatPayload(0.5f)}, {2, Int32Payload(120)}, {3, Int32Payload(30)}})},
                                        {3, Nested({{1, FloatBitsPayload(0x80000000u)}, {2, Int32Payload(-3)}, {3, Int32Payload(7)}})}})}});
    EXPECT_EQ(PackFolder(prints), Serialize(print));

    // Raw bytes as bare digits, a price written 4e+05.
    MemoryFolder items;
    items.Files()["manifest.txt"] = kBom + "format\t1\r\nkind\titems\r\nfile\t1\tauto\r\nblock\t6\tloot_items.txt\tauto\r\n" + kTrailer;
    items.Files()["loot_items.txt"] =
        kBom + "name\tkind\tkind_id\tmaterial\tunk4\ticon_index\ticon_index2\tprice\tweight\tsize\tmana\tslots\t"
               "durability\tcomponents\tshops\tcan_disassemble\ttype_id\tunk22\tunk23\t~extra\r\n"
               "bone\tjunk\t3\tbone\t0\t1\t2\t4e+05\t0.5\t1\t0\t0\t10\t0\t31\t1\t7\t04000000\t0\t\r\n";
    GenDatabase loot = EmptyDatabase("items");
    GenRecord bone = Record({{0, TextPayload("bone")}, {1, TextPayload("junk")}, {2, Int32Payload(3)}, {3, TextPayload("bone")},
                             {4, Int32Payload(0)}, {5, Int32Payload(1)}, {6, Int32Payload(2)}, {7, FloatPayload(400000.0f)},
                             {8, FloatPayload(0.5f)}, {9, FloatPayload(1)}, {10, FloatPayload(0)}, {11, Int32Payload(0)},
                             {12, FloatPayload(10)}, {13, Int32Payload(0)}, {14, Int32Payload(31)}, {15, Bytes{1}},
                             {21, Int32Payload(7)}, {22, Bytes{4, 0, 0, 0}}, {23, Int32Payload(0)}});
    loot.blocks.push_back({6, {bone}});
    const Bytes original = Serialize(loot);
    EXPECT_EQ(PackFolder(items), original);

    // Unpacked again, the folder is of the current format.
    MemoryFolder again;
    MemorySource source(original, "db");
    Unpack(source, *FindKind("items"), again);
    EXPECT_EQ(again.Files().count("loot_items.tsv"), 1u);
    EXPECT_NE(again.Files()["manifest.txt"].find("format\t2\r\n"), std::string::npos);
    EXPECT_NE(again.Files()["loot_items.tsv"].find("\t400000\t0.5\t"), std::string::npos);
    EXPECT_NE(again.Files()["loot_items.tsv"].find("\t#04000000\t"), std::string::npos);
}

// Unpacks one generated database of `kind` and returns the folder.
MemoryFolder Unpacked(const GenDatabase& db) {
    MemoryFolder folder;
    const Bytes bytes = Serialize(db);
    MemorySource source(bytes, "db");
    Unpack(source, *db.kind, folder);
    return folder;
}

GenDatabase OneRecordEach(const char* kind, std::uint64_t seed = 3) {
    GenOptions options;
    options.seed = seed;
    options.minRecords = options.maxRecords = 1;
    options.oddFloatRate = 0;
    options.anyFloatRate = 0;
    return Generate(*FindKind(kind), options);
}

TEST(TableForms, ArraysAndNestedRecordsTakeOneColumnPerPart) {
    GenDatabase units = OneRecordEach("units");
    units.FindBlock(3)->records[0].Find(25)->payload = Floats({0x3F800000u, 0x40000000u, 0x40400000u, 0x40800000u, 0x40A00000u, 0x80000000u});
    MemoryFolder folder = Unpacked(units);
    const std::string& monsters = folder.Files()["monsters.tsv"];
    EXPECT_NE(monsters.find("\tsenses.sight\tsenses.infravision\tsenses.sense_life\tsenses.hearing\tsenses.smell\t"
                            "senses.tracking\tdetection.sight\t"),
              std::string::npos);
    EXPECT_NE(monsters.find("\t1\t2\t3\t4\t5\t\\e-0\t"), std::string::npos);
    EXPECT_NE(monsters.find("\tloot_common.chance\tloot_common.mask\t"), std::string::npos);
    EXPECT_NE(folder.Files()["races.tsv"].find("\thead.part\thead.unk1\thead.weight\thead.vitality\t"), std::string::npos);
    EXPECT_NE(Unpacked(OneRecordEach("items")).Files()["weapons.tsv"].find("\tunk22.0\tunk22.1\t"), std::string::npos);
    EXPECT_EQ(PackFolder(folder), Serialize(units));
}

TEST(TableForms, ABrokenOrAbsentSplitFieldKeepsItsBytes) {
    GenDatabase units = OneRecordEach("units");
    GenRecord& monster = units.FindBlock(3)->records[0];
    monster.Find(25)->payload = Bytes{1, 2, 3};  // too short for six floats
    // An absent nested record: all its columns are empty.
    std::erase_if(monster.fields, [](const GenField& f) { return f.tag == 27; });
    MemoryFolder folder = Unpacked(units);
    const std::string& table = folder.Files()["monsters.tsv"];
    EXPECT_NE(table.find("\t#010203\t\t\t\t\t\t"), std::string::npos);
    EXPECT_EQ(PackFolder(folder), Serialize(units));

    // A value beside the hex in the first column would be lost: refused.
    std::string& edited = folder.Files()["monsters.tsv"];
    edited.replace(edited.find("\t#010203\t\t"), 11, "\t#010203\t7\t");
    EXPECT_NE(PackError(folder).find("column senses.infravision: bad cell: \"7\", expected an empty cell"), std::string::npos)
        << PackError(folder);
}

// A folder of one perks table (skills: name, code, icon_index,
// base_attributes) whose table text is `table`.
MemoryFolder SkillsFolder(const std::string& table) {
    MemoryFolder folder;
    folder.Files()["manifest.txt"] = kBom + "format\t2\r\nkind\tperks\r\nfile\t1\tauto\r\nblock\t1\tskills.tsv\tauto\r\n" + kTrailer;
    folder.Files()["skills.tsv"] = table;
    return folder;
}

Bytes SkillsDatabase(const std::string& cp1251Name, std::int32_t icon) {
    GenDatabase db = EmptyDatabase("perks");
    db.blocks.push_back({1, {Record({{0, TextPayload(cp1251Name)}, {1, TextPayload("c")}, {2, Int32Payload(icon)}, {10, Bytes{}}})}});
    return Serialize(db);
}

TEST(TableForms, AcceptsWhatSpreadsheetsWrite) {
    const Bytes expected = SkillsDatabase("\xCC\xE5\xF7", 14);  // "Меч" in Windows-1251
    const std::string header = "name\tcode\ticon_index\tbase_attributes\t~extra\r\n";
    struct Case {
        const char* what;
        std::string table;
    };
    const Case cases[] = {
        {"as unpack writes it", kBom + header + "Меч\tc\t14\t\t\r\n"},
        {"Windows-1251 without a mark", header + "\xCC\xE5\xF7\tc\t14\t\t\r\n"},
        {"header cells in quotes", kBom + "\"name\"\t\"code\"\t\"icon_index\"\t\"base_attributes\"\t\"~extra\"\r\nМеч\tc\t14\t\t\r\n"},
        {"blanks around a number, and a plus", kBom + header + "Меч\tc\t +14 \t\t\r\n"},
        {"a no-break space and the text mark", kBom + header + "Меч\tc\t\xC2\xA0\\e14\t\t\r\n"},
        {"trailing empty cells dropped", kBom + header + "Меч\tc\t14\r\n"},
        {"empty cells added beyond the header", kBom + header + "Меч\tc\t14\t\t\t\t\r\n"},
        {"no ~extra column", kBom + "name\tcode\ticon_index\tbase_attributes\r\nМеч\tc\t14\t\r\n"},
    };
    for (const Case& c : cases) {
        MemoryFolder folder = SkillsFolder(c.table);
        PackSummary summary;
        Bytes packed;
        try {
            packed = PackFolder(folder, &summary);
        } catch (const Error& e) {
            ADD_FAILURE() << c.what << ": " << e.what();
            continue;
        }
        EXPECT_EQ(packed, expected) << c.what;
        EXPECT_EQ(summary.tables.at(0).cp1251, c.table.find("\xCC\xE5\xF7") != std::string::npos) << c.what;
    }
}

TEST(TableForms, RefusesWhatIsAmbiguousWithAClearMessage) {
    const std::string header = "name\tcode\ticon_index\tbase_attributes\t~extra\r\n";
    struct Case {
        const char* what;
        std::string table;
        const char* message;
    };
    const Case cases[] = {
        {"comma separator", kBom + "name,code,icon_index,base_attributes,~extra\r\nx,c,1,,\r\n",
         "the table was saved with ',' as the separator"},
        {"semicolon separator", kBom + "name;code;icon_index;base_attributes;~extra\r\nx;c;1;;\r\n",
         "the table was saved with ';' as the separator"},
        {"a cell more than the header", kBom + header + "x\tc\t1\t\t\tsurplus\r\n", "the row has 6 cells, expected at most 5"},
        // A broken byte in a table otherwise UTF-8 is shown escaped, never as it is.
        {"undecodable bytes", kBom + header + "\xD0\x9C\xFF\xFE\tc\t1\t\t\r\n", "bad cell: \"\xD0\x9C\\xFF\\xFE\""},
    };
    for (const Case& c : cases) {
        MemoryFolder folder = SkillsFolder(c.table);
        const std::string error = PackError(folder);
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    }
}

// A comma that could separate thousands is refused, never guessed: 1,000 is
// 1000 to one person and 1.0 to another.
TEST(TableForms, AnAmbiguousCommaIsRefused) {
    const FieldSpec price{7, ValueType::Float32, "price"};
    for (const char* cell : {"1,000", "2,600", "-12,345", "+100,000"}) {
        std::vector<std::uint8_t> out;
        try {
            ParseCell(cell, price, out);
            ADD_FAILURE() << cell << " was read";
        } catch (const CellProblem& problem) {
            EXPECT_NE(problem.expected.find("'1,000' could be 1000 or 1.0"), std::string::npos) << problem.expected;
        }
    }
    for (const auto& [cell, value] : {std::pair{"1,5", 1.5f}, {"0,125", 0.125f}, {"1234,567", 1234.567f}, {"12,25", 12.25f}}) {
        std::vector<std::uint8_t> out;
        ParseCell(cell, price, out);
        EXPECT_EQ(out, FloatPayload(value)) << cell;
    }
}

// In a table a spreadsheet saved with decimal commas, "44,375" is 44.375; in
// one whose numbers have decimal points it could be 44375 and is refused.
TEST(TableForms, TheTableSettlesACommaBeforeThreeDigits) {
    const auto folder = [](const std::string& scale, const std::string& x1) {
        MemoryFolder f;
        f.Files()["manifest.txt"] = kBom + "format\t2\r\nkind\tlevers\r\nfile\t1\tauto\r\nblock\t1\tl.tsv\tauto\r\n" + kTrailer;
        f.Files()["l.tsv"] = "name\tplaces.x1\tplaces.y1\tplaces.x2\tplaces.y2\tplace_count\tscale\tswitch_time\tmaterial\tsound\thint\r\n"
                             "a\t" + x1 + "\t0\t0\t0\t1\t" + scale + "\t5\tm\ts\th\r\n";
        return f;
    };
    GenDatabase lever = EmptyDatabase("levers");
    lever.blocks.push_back({1, {Record({{0, TextPayload("a")},
                                        {1, Floats({std::bit_cast<std::uint32_t>(44.375f), 0, 0, 0})},
                                        {2, Int32Payload(1)},
                                        {3, FloatPayload(0.5f)},
                                        {4, Int32Payload(5)},
                                        {5, TextPayload("m")},
                                        {6, TextPayload("s")},
                                        {7, TextPayload("h")}})}});
    MemoryFolder commas = folder("0,5", "44,375");
    EXPECT_EQ(PackFolder(commas), Serialize(lever));
    MemoryFolder points = folder("0.5", "44,375");
    EXPECT_NE(PackError(points).find("row 2, column places.x1: bad cell: \"44,375\", expected a number without a comma"),
              std::string::npos)
        << PackError(points);
    // No other number tells: read with a decimal comma, and said so.
    MemoryFolder alone = folder("0,5", "44,375");
    alone.Files()["l.tsv"].replace(alone.Files()["l.tsv"].find("0,5"), 3, "\\e1");
    PackSummary summary;
    lever.blocks[0].records[0].Find(3)->payload = FloatPayload(1);
    EXPECT_EQ(PackFolder(alone, &summary), Serialize(lever));
    EXPECT_NE(summary.tables.at(0).note.find("read \"44,375\" (row 2, column places.x1) and the like with a decimal comma"),
              std::string::npos)
        << summary.tables.at(0).note;
}

}  // namespace
}  // namespace gamedb::testing
