#include "gamedb/diff.h"

#include <gtest/gtest.h>

#include "gamedb/cells.h"
#include "gamedb/error.h"
#include "gamedb/framing.h"
#include "tests/support/gamedb_gen.h"

namespace gamedb {
namespace {

using testing::Bytes;
using testing::GenDatabase;
using testing::GenOptions;

DiffResult RunDiff(const GenDatabase& a, const GenDatabase& b) {
    const Bytes oldBytes = testing::Serialize(a);
    const Bytes newBytes = testing::Serialize(b);
    MemorySource oldSource(oldBytes, "old");
    MemorySource newSource(newBytes, "new");
    return Diff(oldSource, newSource, *a.kind);
}

GenDatabase Weapons(std::vector<std::string> names) {
    GenOptions options;
    options.seed = 3;
    options.minRecords = 1;
    options.maxRecords = 1;
    GenDatabase db = testing::Generate(*FindKind("items"), options);
    const BlockSpec& weapons = FindKind("items")->blocks[1];
    db.blocks[1].records.clear();
    std::uint64_t seed = 50;
    for (const std::string& name : names) {
        testing::GenRecord record = testing::RandomRecord(weapons.record, seed++, options);
        record.Find(0)->payload = testing::TextPayload(name);
        record.Find(7)->payload = testing::FloatPayload(100);
        db.blocks[1].records.push_back(std::move(record));
    }
    return db;
}

TEST(GamedbDiff, EqualDatabases) {
    for (const KindSpec& kind : Kinds()) {
        GenOptions options;
        options.seed = 9;
        const GenDatabase db = testing::Generate(kind, options);
        const DiffResult diff = RunDiff(db, db);
        EXPECT_TRUE(diff.Equal()) << kind.name << "\n" << FormatDiff(diff);
        EXPECT_EQ(FormatDiff(diff), "");
    }
}

TEST(GamedbDiff, OnePriceChanged) {
    const GenDatabase before = Weapons({"axe", "sword", "bow"});
    GenDatabase after = before;
    after.blocks[1].records[1].Find(7)->payload = testing::FloatPayload(150.5f);
    const DiffResult diff = RunDiff(before, after);
    EXPECT_FALSE(diff.Equal());
    EXPECT_EQ(FormatDiff(diff),
              "weapons: 1 changed, 0 added, 0 removed (3 -> 3 records)\n"
              "  changed record 2 \"sword\"\n"
              "    price: 100 -> 150.5\n");
}

TEST(GamedbDiff, AddedRemovedAndRenamed) {
    const GenDatabase before = Weapons({"axe", "sword", "bow"});
    GenDatabase after = Weapons({"axe", "bow", "spear"});
    after.blocks[1].records[0] = before.blocks[1].records[0];
    after.blocks[1].records[1] = before.blocks[1].records[2];
    const DiffResult diff = RunDiff(before, after);
    const std::string text = FormatDiff(diff);
    EXPECT_NE(text.find("weapons: 0 changed, 1 added, 1 removed (3 -> 3 records)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  removed record 2 \"sword\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  added record 3 \"spear\"\n    name: spear\n    kind: "), std::string::npos) << text;
    EXPECT_NE(text.find("    price: 100\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("in another order"), std::string::npos) << text;
}

// Duplicate names pair in file order: the k-th "axe" with the k-th "axe".
TEST(GamedbDiff, DuplicateKeysPairInOrder) {
    GenDatabase before = Weapons({"axe", "axe", "bow"});
    // Twins but for the price.
    before.blocks[1].records[1] = before.blocks[1].records[0];
    before.blocks[1].records[0].Find(7)->payload = testing::FloatPayload(1);
    before.blocks[1].records[1].Find(7)->payload = testing::FloatPayload(2);
    struct Row {
        const char* name;
        std::vector<std::size_t> keep;  // old records, in the new order
        std::string expected;
    };
    const Row rows[] = {
        {"second axe removed", {0, 2},
         "weapons: 0 changed, 0 added, 1 removed (3 -> 2 records)\n  removed record 2 \"axe\"\n"},
        {"first axe removed", {1, 2},
         "weapons: 1 changed, 0 added, 1 removed (3 -> 2 records)\n  removed record 2 \"axe\"\n"
         "  changed record 1 \"axe\"\n    price: 1 -> 2\n"},
        {"axes swapped", {1, 0, 2},
         "weapons: 2 changed, 0 added, 0 removed (3 -> 3 records)\n  changed record 1 \"axe\"\n    price: 1 -> 2\n"
         "  changed record 2 \"axe\"\n    price: 2 -> 1\n"},
        {"bow first", {2, 0, 1}, "weapons: 0 changed, 0 added, 0 removed (3 -> 3 records)\n  the records come in another order\n"},
    };
    for (const Row& row : rows) {
        GenDatabase after = before;
        after.blocks[1].records.clear();
        for (std::size_t i : row.keep) after.blocks[1].records.push_back(before.blocks[1].records[i]);
        EXPECT_EQ(FormatDiff(RunDiff(before, after)), row.expected) << row.name;
    }
}

TEST(GamedbDiff, FieldsOutsideTheSchemaAndLayout) {
    const GenDatabase before = Weapons({"axe"});
    struct Row {
        const char* name;
        std::function<void(GenDatabase&)> edit;
        std::string expected;
    };
    auto axe = [](GenDatabase& db) -> testing::GenRecord& { return db.blocks[1].records[0]; };
    const Row rows[] = {
        {"unknown tag", [&](GenDatabase& db) { axe(db).fields.push_back({99, {1, 0xAB}}); }, "    tag 99: (absent) -> #01AB\n"},
        {"field dropped", [&](GenDatabase& db) { axe(db).fields.erase(axe(db).fields.begin() + 7); }, "    price: 100 -> (absent)\n"},
        {"repeated", [&](GenDatabase& db) { axe(db).fields.push_back(axe(db).fields[7]); }, "    price (occurrence 2): (absent) -> 100\n"},
        {"misfit", [&](GenDatabase& db) { axe(db).Find(7)->payload.push_back(0); }, "    price: 100 -> #0000C84200\n"},
        {"size form", [&](GenDatabase& db) { axe(db).Find(7)->longForm = true; }, "    same values; the fields' order or size forms differ\n"},
        {"order", [&](GenDatabase& db) { std::swap(axe(db).fields[7], axe(db).fields[8]); }, "    same values; the fields' order or size forms differ\n"},
    };
    for (const Row& row : rows) {
        GenDatabase after = before;
        row.edit(after);
        const std::string text = FormatDiff(RunDiff(before, after));
        EXPECT_NE(text.find("  changed record 1 \"axe\"\n" + row.expected), std::string::npos) << row.name << "\n" << text;
    }
}

TEST(GamedbDiff, DifferencesOutsideTheRecords) {
    GenOptions options;
    options.minRecords = 1;
    options.maxTextLength = 6;  // records below 128 bytes
    options.maxListItems = 1;
    const GenDatabase before = testing::Generate(*FindKind("quests"), options);
    struct Row {
        const char* name;
        std::function<void(GenDatabase&)> edit;
        std::string expected;
    };
    const Row rows[] = {
        {"trailing bytes", [](GenDatabase& db) { db.trailing = {0xFF}; },
         "the bytes after the file node differ: 0000020C020801000000 -> 0000020C020801000000FF\n"},
        {"block dropped", [](GenDatabase& db) { db.blocks.pop_back(); }, "briefings: only in the old database ("},
        {"record form", [](GenDatabase& db) { db.blocks[0].records[0].longForm = true; },
         "    same values; the fields' order or size forms differ\n"},
        {"blocks swapped", [](GenDatabase& db) { std::swap(db.blocks[0], db.blocks[1]); }, "the blocks come in another order\n"},
    };
    for (const Row& row : rows) {
        GenDatabase after = before;
        row.edit(after);
        const DiffResult diff = RunDiff(before, after);
        EXPECT_FALSE(diff.Equal()) << row.name;
        const std::string text = FormatDiff(diff);
        EXPECT_NE(text.find(row.expected), std::string::npos) << row.name << "\n" << text;
    }
}

TEST(GamedbDiff, LongTailsComparedToTheirLastByte) {
    GenOptions options;
    options.maxRecords = 1;
    GenDatabase before = testing::Generate(*FindKind("levers"), options);
    before.trailing.assign(200'000, 0x11);
    GenDatabase after = before;
    EXPECT_TRUE(RunDiff(before, after).Equal());
    after.trailing.back() = 0x12;
    const std::string text = FormatDiff(RunDiff(before, after));
    EXPECT_NE(text.find("the bytes after the file node differ: 0000020C02080100000011111111"), std::string::npos) << text;
    EXPECT_NE(text.find("... (200010 bytes) -> 0000020C"), std::string::npos) << text;
}

TEST(GamedbDiff, BlockSizeForm) {
    GenOptions options;
    options.maxRecords = 0;
    const GenDatabase before = testing::Generate(*FindKind("perks"), options);
    GenDatabase after = before;
    after.blocks[1].longForm = true;
    const DiffResult diff = RunDiff(before, after);
    EXPECT_FALSE(diff.Equal());
    EXPECT_EQ(FormatDiff(diff), "a block's size form differs\n");
}

TEST(GamedbDiff, ValuesInTheTablesCellSyntax) {
    GenDatabase before = Weapons({"axe"});
    GenDatabase after = before;
    after.blocks[1].records[0].Find(0)->payload = before.blocks[1].records[0].Find(0)->payload;
    // Russian text, a NaN, a byte array with every value.
    after.blocks[1].records[0].Find(3)->payload = testing::TextPayload("\xEC\xE5\xF7 a|b");
    after.blocks[1].records[0].Find(8)->payload = testing::FloatBitsPayload(0xFFFFFFFF);
    const std::string text = FormatDiff(RunDiff(before, after));
    const FieldSpec& material = *FindField(FindKind("items")->blocks[1].record, 3);
    std::string cell;
    AppendCell(cell, material, after.blocks[1].records[0].Find(3)->payload);
    EXPECT_NE(text.find(" -> " + cell + "\n"), std::string::npos) << text;
    EXPECT_NE(cell.find("\xD0\xBC\xD0\xB5\xD1\x87"), std::string::npos) << cell << "\n" << text;  // "меч" in UTF-8
    EXPECT_NE(text.find("weight: "), std::string::npos) << text;
    EXPECT_NE(text.find(" -> nan:0xFFFFFFFF\n"), std::string::npos) << text;
}

// Where the weapons block's first record starts in the serialized database.
RecordInfo FirstWeapon(const Bytes& bytes) {
    MemorySource source(bytes, "probe");
    FrameReader reader(source);
    BlockInfo block;
    RecordInfo record;
    while (reader.NextBlock(block))
        if (block.header.tag == FindKind("items")->blocks[1].tag && reader.NextRecord(record)) return record;
    throw std::logic_error("no weapon");
}

// Everything unpack keeps is a difference diff names; damage unpack refuses
// is trouble (an Error), never "different".
TEST(GamedbDiff, TagsAndDamagedFieldFraming) {
    const Bytes before = testing::Serialize(Weapons({"axe"}));
    const RecordInfo axe = FirstWeapon(before);
    struct Row {
        const char* name;
        std::size_t offset;
        std::uint8_t value;
        std::string expected;   // empty: an Error naming the damage
    };
    const Row rows[] = {
        {"file node tag", 0, 2, "the file node's tag differs: 1 -> 2\n"},
        {"record tag", static_cast<std::size_t>(axe.offset), 3,
         "weapons: 1 changed, 0 added, 0 removed (1 -> 1 records)\n  changed record 1 \"axe\"\n    (record tag): 1 -> 3\n"},
        {"field overruns its record", static_cast<std::size_t>(axe.payloadOffset) + 1, 0xFF, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes after = before;
        after[row.offset] = row.value;
        for (const bool damagedIsNew : {true, false}) {
            MemorySource a(damagedIsNew ? before : after, "old");
            MemorySource b(damagedIsNew ? after : before, "new");
            if (row.expected.empty()) {
                try {
                    Diff(a, b, *FindKind("items"));
                    ADD_FAILURE() << "no error";
                } catch (const Error& error) {
                    EXPECT_NE(std::string(error.what()).find("bad field framing: "), std::string::npos) << error.what();
                }
                continue;
            }
            const DiffResult diff = Diff(a, b, *FindKind("items"));
            EXPECT_FALSE(diff.Equal());
            if (damagedIsNew) {
                EXPECT_EQ(FormatDiff(diff), row.expected);
            }
        }
    }
}

// Damaged input is reported as an Error (exit status 2), never anything worse.
TEST(GamedbDiff, DamagedInputThrowsOnlyError) {
    for (const KindSpec& kind : Kinds()) {
        const GenDatabase irregular = testing::Generate(kind, GenOptions::Irregular(4, 0.2));
        const Bytes good = testing::Serialize(irregular);
        for (std::size_t i = 0; i < good.size(); i += 1 + good.size() / 60) {
            Bytes bad = good;
            bad[i] = static_cast<std::uint8_t>(bad[i] ^ 0x5B);
            for (const Bytes* newer : {static_cast<const Bytes*>(&bad), &good}) {
                MemorySource a(good, "old");
                MemorySource b(*newer, "new");
                try {
                    const DiffResult diff = Diff(a, b, kind);
                    FormatDiff(diff);
                    if (newer == &good) {
                        EXPECT_TRUE(diff.Equal()) << kind.name;
                    }
                } catch (const Error&) {
                }
            }
        }
    }
}

// Property: one value changed anywhere gives exactly that record and field.
TEST(GamedbDiff, RandomSingleEditIsFound) {
    for (const KindSpec& kind : Kinds()) {
        for (std::uint64_t seed = 1; seed <= 10; ++seed) {
            GenOptions options;
            options.seed = seed;
            options.minRecords = 1;
            options.duplicateKeyRate = 0.3;
            const GenDatabase before = testing::Generate(kind, options);
            GenDatabase after = before;
            const std::size_t b = seed % kind.blocks.size();
            auto& record = after.blocks[b].records[seed % after.blocks[b].records.size()];
            const BlockSpec& spec = kind.blocks[b];
            // The last field that is not the key: a key change is a rename.
            std::size_t f = record.fields.size() - 1;
            if (spec.keyTag >= 0 && record.fields[f].tag == spec.keyTag) --f;
            record.fields[f].payload.push_back(0x5A);
            const DiffResult diff = RunDiff(before, after);
            ASSERT_EQ(diff.blocks.size(), kind.blocks.size());
            std::size_t changes = 0;
            for (const BlockDiff& block : diff.blocks) {
                for (const RecordChange& change : block.records) {
                    ++changes;
                    EXPECT_EQ(block.tag, spec.tag);
                    EXPECT_EQ(change.kind, RecordChange::Kind::Changed);
                    ASSERT_EQ(change.fields.size(), 1u) << FormatDiff(diff);
                    EXPECT_EQ(change.fields[0].field, FindField(spec.record, record.fields[f].tag)->name);
                }
            }
            EXPECT_EQ(changes, 1u) << kind.name << " seed " << seed << "\n" << FormatDiff(diff);
        }
    }
}

}  // namespace
}  // namespace gamedb
