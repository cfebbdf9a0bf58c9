#include "gamedb/check.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "shell/conversion_run.h"
#include "tests/support/gamedb_gen.h"
#include "tests/support/temp_dir.h"

namespace gamedb {
namespace {

using testing::Bytes;
using testing::GenDatabase;
using testing::GenOptions;

struct Result {
    CheckSummary summary;
    std::vector<CheckFinding> findings;

    std::vector<const CheckFinding*> Problems() const {
        std::vector<const CheckFinding*> out;
        for (const CheckFinding& f : findings)
            if (f.severity == CheckFinding::Severity::Problem) out.push_back(&f);
        return out;
    }
    std::string Lines() const {
        std::string text;
        for (const CheckFinding& f : findings) text += FormatFinding(f) + "\n";
        return text;
    }
};

Result RunCheck(const Bytes& bytes, const KindSpec& kind, const CheckOptions& options = {}) {
    MemorySource source(bytes, "test.db");
    Result result;
    result.summary = Check(source, kind, [&](const CheckFinding& f) { result.findings.push_back(f); }, options);
    return result;
}

std::size_t NodeSize(std::size_t payload, bool longForm) { return payload + (payload <= 127 && !longForm ? 2 : 5); }

std::size_t RecordContent(const testing::GenRecord& record) {
    std::size_t n = 0;
    for (const auto& field : record.fields) n += NodeSize(field.payload.size(), field.longForm);
    return n;
}

std::size_t BlockContent(const testing::GenBlock& block) {
    std::size_t n = 0;
    for (const auto& record : block.records) n += NodeSize(RecordContent(record), record.longForm);
    return n;
}

// Byte offset of a field node's tag in the serialised database.
std::uint64_t FieldOffset(const GenDatabase& db, std::size_t b, std::size_t r, std::size_t f) {
    std::size_t content = 0;
    for (const auto& block : db.blocks) content += NodeSize(BlockContent(block), block.longForm);
    std::uint64_t at = NodeSize(content, db.longForm) - content;
    for (std::size_t i = 0; i < b; ++i) at += NodeSize(BlockContent(db.blocks[i]), db.blocks[i].longForm);
    at += NodeSize(BlockContent(db.blocks[b]), db.blocks[b].longForm) - BlockContent(db.blocks[b]);
    const auto& records = db.blocks[b].records;
    for (std::size_t i = 0; i < r; ++i) at += NodeSize(RecordContent(records[i]), records[i].longForm);
    at += NodeSize(RecordContent(records[r]), records[r].longForm) - RecordContent(records[r]);
    for (std::size_t i = 0; i < f; ++i) at += NodeSize(records[r].fields[i].payload.size(), records[r].fields[i].longForm);
    return at;
}

TEST(GamedbCheck, GeneratedDatabasesOfEveryKindAreClean) {
    for (const KindSpec& kind : Kinds()) {
        for (std::uint64_t seed = 1; seed <= 8; ++seed) {
            GenOptions options;
            options.seed = seed;
            options.maxTextLength = seed % 2 ? 20 : 160;
            options.exoticTextRate = 0.2;
            const GenDatabase db = testing::Generate(kind, options);
            const Result result = RunCheck(testing::Serialize(db), kind);
            EXPECT_EQ(result.summary.problems, 0) << kind.name << " seed " << seed << "\n" << result.Lines();
            long long records = 0;
            for (const auto& block : db.blocks) records += static_cast<long long>(block.records.size());
            EXPECT_EQ(result.summary.records, records);
            EXPECT_EQ(result.summary.blocks, static_cast<long long>(kind.blocks.size()));
        }
    }
}

// A small spells database (texts, numbers, code4, code4 lists, text lists)
// damaged in one place per row.
TEST(GamedbCheck, EachDamageIsReportedWithItsPlaceAndOffset) {
    const KindSpec& spells = *FindKind("spells");
    GenOptions options;
    options.seed = 5;
    options.minRecords = 2;
    options.maxRecords = 2;
    options.oddFloatRate = 0;
    options.exoticTextRate = 0;
    options.duplicateKeyRate = 0;
    const GenDatabase base = testing::Generate(spells, options);

    struct Row {
        const char* name;
        std::function<void(GenDatabase&)> damage;
        std::string expected;  // in the finding's text or field
        std::size_t field;     // index of the field in block 2, record 2, whose offset the finding names; -1: no check
    };
    constexpr std::size_t kNoOffset = static_cast<std::size_t>(-1);
    auto record = [](GenDatabase& db) -> testing::GenRecord& { return db.blocks[1].records[1]; };
    const Row rows[] = {
        {"unknown tag", [&](GenDatabase& db) { record(db).fields.insert(record(db).fields.begin() + 3, {99, {1, 2}}); },
         "unknown field tag 99 (2 bytes)", 3},
        {"int32 too short", [&](GenDatabase& db) { record(db).fields[3].payload.pop_back(); }, "length 3, expected 4", 3},
        {"text without 00", [&](GenDatabase& db) { record(db).fields[0].payload = {'a', 'b'}; }, "without its terminating 00", 0},
        {"empty text", [&](GenDatabase& db) { record(db).fields[0].payload.clear(); }, "a text holds at least its terminating 00", 0},
        {"missing field", [&](GenDatabase& db) { record(db).fields.erase(record(db).fields.begin() + 2); }, "price (tag 2): the field is missing", kNoOffset},
        {"out of order", [&](GenDatabase& db) { std::swap(record(db).fields[2], record(db).fields[3]); }, "out of order: comes after kind (tag 3)", 3},
        {"repeated", [&](GenDatabase& db) { record(db).fields.insert(record(db).fields.begin() + 4, record(db).fields[3]); }, "occurs a second time", 4},
        {"long size form", [&](GenDatabase& db) { record(db).fields[5].longForm = true; }, "4-byte size for a payload of 4 bytes", 5},
        {"code with junk", [&](GenDatabase& db) { record(db).fields[1].payload = {'a', 0, 'b', 0}; }, "bytes after its 00 padding", 1},
        {"shop bits", [&](GenDatabase& db) { record(db).fields[8].payload = testing::Int32Payload(32); }, "above the fifth shop", 8},
    };
    for (const Row& row : rows) {
        GenDatabase db = base;
        row.damage(db);
        const Result result = RunCheck(testing::Serialize(db), spells);
        const auto problems = result.Problems();
        ASSERT_EQ(problems.size(), 1u) << row.name << "\n" << result.Lines();
        const std::string line = FormatFinding(*problems[0]);
        EXPECT_NE(line.find(row.expected), std::string::npos) << row.name << ": " << line;
        EXPECT_EQ(problems[0]->block, "spell_modifiers") << row.name;
        EXPECT_EQ(problems[0]->record, 2) << row.name;
        if (row.field != kNoOffset) {
            std::uint64_t at = FieldOffset(db, 1, 1, row.field);
            // Value problems point at the value, node problems at the node.
            if (row.expected.find("length") != std::string::npos || row.expected.find("00") != std::string::npos ||
                row.expected.find("fifth") != std::string::npos)
                at += 2;
            EXPECT_EQ(problems[0]->offset, at) << row.name << ": " << line;
        }
    }
}

TEST(GamedbCheck, DamageOutsideRecords) {
    const KindSpec& levers = *FindKind("levers");
    GenOptions options;
    options.seed = 2;
    options.minRecords = 3;
    options.maxRecords = 3;
    const Bytes good = testing::Serialize(testing::Generate(levers, options));
    struct Row {
        const char* name;
        std::function<void(Bytes&)> damage;
        std::string expected;
    };
    const Row rows[] = {
        {"empty file", [](Bytes& b) { b.clear(); }, "the database is empty"},
        {"one byte", [](Bytes& b) { b.resize(1); }, "incomplete file node header: 1 byte left"},
        {"cut short", [](Bytes& b) { b.resize(b.size() - 40); }, "overruns its container by 30 bytes"},
        {"trailer changed", [](Bytes& b) { b[b.size() - 4] = 2; }, "the trailer is 00 00 02 0C 02 08 02 00 00 00"},
        {"trailer short", [](Bytes& b) { b.resize(b.size() - 3); }, "the trailer after the file node is 7 bytes"},
        {"bytes after", [](Bytes& b) { b.push_back(0); }, "1 byte follow the trailer"},
        {"file tag", [](Bytes& b) { b[0] = 2; }, "the file node has tag 2, expected 1"},
    };
    for (const Row& row : rows) {
        Bytes bytes = good;
        row.damage(bytes);
        const Result result = RunCheck(bytes, levers);
        EXPECT_NE(result.Lines().find(row.expected), std::string::npos) << row.name << "\n" << result.Lines();
        EXPECT_GT(result.summary.problems, 0) << row.name;
    }
}

TEST(GamedbCheck, BlocksMissingUnknownAndOutOfOrder) {
    const KindSpec& perks = *FindKind("perks");
    GenOptions options;
    options.minRecords = 1;
    GenDatabase db = testing::Generate(perks, options);
    std::swap(db.blocks[0], db.blocks[1]);
    db.blocks.push_back({7, {}, false});
    const std::string lines = RunCheck(testing::Serialize(db), perks).Lines();
    EXPECT_EQ(lines.find("is missing"), std::string::npos) << lines;
    EXPECT_NE(lines.find("skills: the block comes after block 2"), std::string::npos) << lines;
    EXPECT_NE(lines.find("block 7: block tag 7 is not a block of perks"), std::string::npos) << lines;

    db.blocks.resize(1);
    const std::string short1 = RunCheck(testing::Serialize(db), perks).Lines();
    EXPECT_NE(short1.find("block 1 (skills) is missing"), std::string::npos) << short1;
}

TEST(GamedbCheck, NestedAndListDamageNamesTheItem) {
    const KindSpec& acks = *FindKind("acks");
    GenOptions options;
    options.minRecords = 1;
    options.maxRecords = 1;
    GenDatabase db = testing::Generate(acks, options);
    // answers record 1, field "move": two items, the second with an int32 of 3 bytes.
    Bytes item1, item2, list;
    testing::AppendNode(item1, 1, testing::TextPayload("a.wav"));
    testing::AppendNode(item2, 1, testing::TextPayload("b.wav"));
    testing::AppendNode(item2, 2, Bytes{1, 2, 3});
    testing::AppendNode(list, 1, item1);
    testing::AppendNode(list, 1, item2);
    db.blocks[0].records[0].Find(11)->payload = list;
    const Result result = RunCheck(testing::Serialize(db), acks);
    const std::string lines = result.Lines();
    EXPECT_NE(lines.find("move (tag 11), item 1, unk2 (tag 2): the field is missing"), std::string::npos) << lines;
    EXPECT_NE(lines.find("move (tag 11), item 2, unk2 (tag 2): length 3, expected 4"), std::string::npos) << lines;
    EXPECT_NE(lines.find("move (tag 11), item 2, subtitle (tag 3): the field is missing"), std::string::npos) << lines;
}

TEST(GamedbCheck, EveryProblemIsListedNotJustTheFirst) {
    const KindSpec& quests = *FindKind("quests");
    GenOptions options;
    options.minRecords = 3;
    options.maxRecords = 3;
    GenDatabase db = testing::Generate(quests, options);
    db.blocks[0].records[0].fields[1].payload.push_back(0);
    db.blocks[1].records[2].fields[0].payload = {'x'};
    db.blocks[1].records[1].fields.pop_back();
    db.trailing = {1, 2};
    const Result result = RunCheck(testing::Serialize(db), quests);
    EXPECT_EQ(result.summary.problems, 4) << result.Lines();
}

// A size off by one can still frame by chance; the typed checks must catch it.
TEST(GamedbCheck, FieldSizeOffByOneIsCaught) {
    for (const KindSpec& kind : Kinds()) {
        for (std::uint64_t seed = 1; seed <= 4; ++seed) {
            GenOptions options;
            options.seed = seed;
            options.minRecords = 2;
            options.maxTextLength = 20;
            const GenDatabase db = testing::Generate(kind, options);
            const Bytes good = testing::Serialize(db);
            const std::uint64_t at = FieldOffset(db, 0, 0, 0) + 1;  // the first field's size byte
            ASSERT_EQ(good[at] & 1, 0);
            for (int delta : {-2, 2}) {
                if (good[at] == 0 && delta < 0) continue;
                Bytes bytes = good;
                bytes[at] = static_cast<std::uint8_t>(bytes[at] + delta);
                EXPECT_GT(RunCheck(bytes, kind).summary.problems, 0) << kind.name << " seed " << seed << " delta " << delta;
            }
        }
    }
}

TEST(GamedbCheck, IrregularDatabasesNeverThrow) {
    for (const KindSpec& kind : Kinds()) {
        for (std::uint64_t seed = 1; seed <= 5; ++seed) {
            const GenOptions options = GenOptions::Irregular(seed, 0.2);
            Bytes bytes = testing::Serialize(testing::Generate(kind, options));
            const Result result = RunCheck(bytes, kind);
            EXPECT_GT(result.summary.problems, 0);
            // Cut anywhere before the trailer's end: still findings, never an exception.
            const std::size_t end = bytes.size() - options.trailing.size();
            for (std::size_t cut = 0; cut < end; cut += 1 + bytes.size() / 40) {
                const Bytes part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
                EXPECT_GT(RunCheck(part, kind).summary.problems, 0) << kind.name << " cut " << cut;
            }
        }
    }
}

// ---- how far idb2txt reads ----------------------------------------------------

GenOptions ItemsOptions(int minRecords, int maxRecords) {
    GenOptions options;
    options.seed = 11;
    options.minRecords = minRecords;
    options.maxRecords = maxRecords;
    options.maxTextLength = 20;
    options.maxListItems = 2;
    return options;
}

std::vector<CheckFinding> Notes(const Result& result) {
    std::vector<CheckFinding> notes;
    for (const CheckFinding& f : result.findings)
        if (f.severity == CheckFinding::Severity::Note) notes.push_back(f);
    return notes;
}

TEST(GamedbCheck, Idb2txtReachesEveryRecordOfASmallDatabase) {
    idb::testing::TempDir dir("gamedb-check");
    const GenDatabase db = testing::Generate(*FindKind("items"), ItemsOptions(2, 5));
    const auto path = dir / "Items.idb";
    testing::WriteDatabase(path, db);
    const Result result = RunCheck(testing::ReadBytes(path), *FindKind("items"), {path});
    EXPECT_EQ(result.summary.problems, 0) << result.Lines();
    const auto notes = Notes(result);
    ASSERT_EQ(notes.size(), 6u) << result.Lines();
    for (std::size_t c = 0; c < 6; ++c)
        EXPECT_NE(notes[c].text.find("idb2txt reads all " + std::to_string(db.blocks[c].records.size()) + " records"),
                  std::string::npos)
            << notes[c].text;
    // What idb2txt itself makes of the file: the same record counts.
    const idb::ConversionSummary summary = idb::ConvertDatabase(path, dir.path(), {});
    for (std::size_t c = 0; c < 6; ++c) EXPECT_EQ(summary.rows[c], static_cast<long long>(db.blocks[c].records.size()));
}

TEST(GamedbCheck, Idb2txtSkipsTheLastRecordsOfALongCategory) {
    idb::testing::TempDir dir("gamedb-check");
    GenDatabase db = testing::Generate(*FindKind("items"), ItemsOptions(2, 3));
    // 200 materials: the counters gain a byte per record, more than the last
    // record's size, so the category ends early.
    const BlockSpec& materials = FindKind("items")->blocks[0];
    GenOptions options = ItemsOptions(1, 1);
    for (int i = 0; i < 200; ++i) {
        testing::GenRecord record = testing::RandomRecord(materials.record, 100 + static_cast<std::uint64_t>(i), options);
        record.fields[0].payload = testing::TextPayload("m" + std::to_string(i));
        db.blocks[0].records.push_back(record);
    }
    // Where the counters end: the first record whose start plus one byte per
    // record before it reaches the block's length.
    std::size_t length = 0;
    for (const auto& record : db.blocks[0].records) length += NodeSize(RecordContent(record), record.longForm);
    std::size_t start = 0, expectedRead = 0;
    for (const auto& record : db.blocks[0].records) {
        if (start + expectedRead >= length) break;
        start += NodeSize(RecordContent(record), record.longForm);
        ++expectedRead;
    }
    ASSERT_LT(expectedRead, db.blocks[0].records.size());

    const auto path = dir / "Items.idb";
    testing::WriteDatabase(path, db);
    const Result result = RunCheck(testing::ReadBytes(path), *FindKind("items"), {path});
    EXPECT_EQ(result.summary.problems, 0) << result.Lines();
    const auto notes = Notes(result);
    ASSERT_EQ(notes.size(), 6u) << result.Lines();
    const std::string skipped = "m" + std::to_string(expectedRead - db.blocks[0].records.size() + 200);
    EXPECT_NE(notes[0].text.find("reads " + std::to_string(expectedRead) + " of " +
                                 std::to_string(db.blocks[0].records.size()) + " records and skips record " +
                                 std::to_string(expectedRead + 1)),
              std::string::npos)
        << notes[0].text;
    EXPECT_NE(notes[0].text.find("\"" + skipped + "\""), std::string::npos) << notes[0].text;
    const auto& first = db.blocks[0].records[expectedRead];
    const std::size_t recordHeader = NodeSize(RecordContent(first), first.longForm) - RecordContent(first);
    EXPECT_EQ(notes[0].offset, FieldOffset(db, 0, expectedRead, 0) - recordHeader);
    for (std::size_t c = 1; c < 6; ++c) EXPECT_NE(notes[c].text.find("not read as stored"), std::string::npos) << notes[c].text;
}

TEST(GamedbCheck, Idb2txtMisreadsALongField) {
    idb::testing::TempDir dir("gamedb-check");
    GenDatabase db = testing::Generate(*FindKind("items"), ItemsOptions(2, 2));
    // A quick item's spell text of 200 bytes has the 4-byte size idb2txt does not read.
    db.blocks[3].records[1].Find(25)->payload = testing::TextPayload(std::string(199, 's'));
    const auto path = dir / "Items.idb";
    testing::WriteDatabase(path, db);
    const Result result = RunCheck(testing::ReadBytes(path), *FindKind("items"), {path});
    EXPECT_EQ(result.summary.problems, 0) << result.Lines();
    const auto notes = Notes(result);
    ASSERT_EQ(notes.size(), 6u);
    EXPECT_NE(notes[2].text.find("reads all"), std::string::npos) << notes[2].text;
    EXPECT_NE(notes[3].text.find("idb2txt misreads record 2"), std::string::npos) << notes[3].text;
    EXPECT_NE(notes[4].text.find("not read as stored"), std::string::npos) << notes[4].text;
}

TEST(GamedbCheck, Idb2txtStopsAtARecordOf16KiB) {
    idb::testing::TempDir dir("gamedb-check");
    GenDatabase db = testing::Generate(*FindKind("items"), ItemsOptions(2, 2));
    // Its size word has bit 15 set, which idb2txt takes for damage.
    db.blocks[2].records[0].Find(1)->payload = testing::TextPayload(std::string(17000, 'k'));
    const auto path = dir / "Items.idb";
    testing::WriteDatabase(path, db);
    const Result result = RunCheck(testing::ReadBytes(path), *FindKind("items"), {path});
    EXPECT_EQ(result.summary.problems, 0) << result.Lines();
    const auto notes = Notes(result);
    ASSERT_EQ(notes.size(), 6u);
    EXPECT_NE(notes[1].text.find("reads all 2 records"), std::string::npos) << notes[1].text;
    EXPECT_NE(notes[2].text.find("armors: idb2txt stops with an error: "), std::string::npos) << notes[2].text;
    EXPECT_NE(notes[2].text.find("damaged record size word"), std::string::npos) << notes[2].text;
    EXPECT_NE(notes[3].text.find("not read as stored"), std::string::npos) << notes[3].text;
}

TEST(GamedbCheck, NoIdb2txtNotesForOtherKindsOrWithoutAFile) {
    const Bytes bytes = testing::Serialize(testing::Generate(*FindKind("items"), ItemsOptions(1, 2)));
    EXPECT_TRUE(Notes(RunCheck(bytes, *FindKind("items"))).empty());
}

}  // namespace
}  // namespace gamedb
