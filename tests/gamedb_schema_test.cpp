#include "gamedb/schema.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace gamedb {
namespace {

bool IsColumnName(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

// Tags ascending (the order the game writes and the order the reader expects),
// names usable as unique column names, array counts where a type needs one.
void ExpectWellFormed(const RecordSpec& record, const std::string& where) {
    ASSERT_FALSE(record.fields.empty()) << where;
    std::set<std::string_view> names;
    int previousTag = -1;
    for (const FieldSpec& field : record.fields) {
        const std::string at = where + "." + std::string(field.name);
        EXPECT_GT(int{field.tag}, previousTag) << at << ": tags must ascend without repeats";
        previousTag = field.tag;
        EXPECT_TRUE(IsColumnName(field.name)) << at;
        EXPECT_TRUE(names.insert(field.name).second) << at << ": duplicate name";
        const bool counted = field.type == ValueType::Float32Array || field.type == ValueType::ByteArray ||
                             field.type == ValueType::Raw;
        EXPECT_EQ(counted, field.count > 0) << at << ": count " << field.count;
        const bool composite = field.type == ValueType::Nested || field.type == ValueType::RecordList;
        EXPECT_EQ(composite, field.record != nullptr) << at;
        if (field.record != nullptr) ExpectWellFormed(*field.record, at);
    }
}

TEST(GamedbSchema, EveryKindIsWellFormed) {
    ASSERT_EQ(Kinds().size(), 8u);
    std::set<std::string_view> kindNames;
    for (const KindSpec& kind : Kinds()) {
        EXPECT_TRUE(kindNames.insert(kind.name).second) << kind.name;
        EXPECT_EQ(FindKind(kind.name), &kind);
        ASSERT_FALSE(kind.blocks.empty()) << kind.name;
        std::set<std::string_view> blockNames;
        for (std::size_t i = 0; i < kind.blocks.size(); ++i) {
            const BlockSpec& block = kind.blocks[i];
            const std::string where = std::string(kind.name) + "/" + std::string(block.name);
            EXPECT_EQ(block.tag, i + 1) << where << ": blocks are numbered 1..n";
            EXPECT_TRUE(IsColumnName(block.name)) << where;
            EXPECT_TRUE(blockNames.insert(block.name).second) << where;
            EXPECT_EQ(FindBlock(kind, block.tag), &block);
            ExpectWellFormed(block.record, where);
            if (block.keyTag >= 0) {
                const FieldSpec* key = FindField(block.record, static_cast<std::uint8_t>(block.keyTag));
                ASSERT_NE(key, nullptr) << where;
                EXPECT_EQ(key->type, ValueType::Text) << where;
            }
        }
    }
    EXPECT_EQ(FindKind("Items"), nullptr);
}

TEST(GamedbSchema, ShapesOfTheKinds) {
    struct Row {
        std::string_view kind;
        std::size_t blocks;
        std::size_t fieldsOfBlock1;
    };
    const Row rows[] = {{"items", 6, 14}, {"levers", 1, 8}, {"perks", 2, 4}, {"prints", 3, 3},
                        {"spells", 5, 28}, {"units", 4, 5}, {"quests", 2, 8}, {"acks", 3, 36}};
    for (const Row& row : rows) {
        const KindSpec* kind = FindKind(row.kind);
        ASSERT_NE(kind, nullptr) << row.kind;
        EXPECT_EQ(kind->blocks.size(), row.blocks) << row.kind;
        EXPECT_EQ(kind->blocks[0].record.fields.size(), row.fieldsOfBlock1) << row.kind;
    }
    // Spot checks of the layouts that are easiest to get wrong.
    const KindSpec& acks = *FindKind("acks");
    const FieldSpec* bored = FindField(acks.blocks[0].record, 32);
    ASSERT_NE(bored, nullptr);
    EXPECT_EQ(bored->record->fields.back().tag, 10);
    EXPECT_EQ(FindField(acks.blocks[0].record, 31)->record->fields.size(), 4u);
    const KindSpec& prints = *FindKind("prints");
    EXPECT_NE(FindField(prints.blocks[1].record, 10), nullptr);
    EXPECT_EQ(FindField(prints.blocks[2].record, 10), nullptr);
    const FieldSpec* places = FindField(FindKind("levers")->blocks[0].record, 1);
    EXPECT_EQ(FixedLength(*places), 16);
    const FieldSpec* unk27 = FindField(FindKind("items")->blocks[1].record, 27);
    EXPECT_EQ(FixedLength(*unk27), 3);
    EXPECT_EQ(FindField(FindKind("spells")->blocks[1].record, 1)->type, ValueType::Code4);
}

TEST(GamedbSchema, KindForFileName) {
    struct Row {
        std::string_view fileName;
        std::string_view kind;  // empty: no kind
    };
    const Row rows[] = {
        {"Items.idb", "items"},
        {"ITEMS.IDB", "items"},
        {"mod/items.idb", "items"},
        {"C:\\Games\\Data\\levers.LDB", "levers"},
        {"perks.pdb", "perks"},
        {"prints.db", "prints"},
        {"Prints.DB", "prints"},
        {"spells.sdb", "spells"},
        {"units.udb", "units"},
        {"quests.qdb", "quests"},
        {"acks.db", "acks"},
        {"dir.idb/acks.db", "acks"},
        {"ACKS.DB", "acks"},
        // Whole names match exactly: other *.db files have no kind.
        {"myprints.db", ""},
        {"acks.db.bak", ""},
        {"other.db", ""},
        {"unhufe.adb", "anims"},
        {"idb", ""},
        {".idb", "items"},
        {"", ""},
        {"items.idb/", ""},
    };
    for (const Row& row : rows) {
        const KindSpec* kind = KindForFileName(row.fileName);
        if (row.kind.empty())
            EXPECT_EQ(kind, nullptr) << row.fileName;
        else {
            ASSERT_NE(kind, nullptr) << row.fileName;
            EXPECT_EQ(kind->name, row.kind) << row.fileName;
        }
    }
}

}  // namespace
}  // namespace gamedb
