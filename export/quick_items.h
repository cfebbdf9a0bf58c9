// The quick items category: common block, skill, damage, damage type, spell.
#pragma once

#include <cstdint>
#include <string>

#include "export/common_block.h"

namespace idb {

class IdbReader;
class TableWriter;

// The last quick item read. DamageType changes only for an index from 0 to
// 6, so an item with any other index shows the word of the last one that
// had a valid index, in this run or an earlier one.
struct QuickItemRecord {
    std::string ItemName;
    CommonItemBlock Block;
    std::int32_t Skill = 0;
    float Damage = 0;
    std::string DamageType;
    std::string Spell;
};

QuickItemRecord& CurrentQuickItem();

std::string QuickItemsHeader();

void ExportQuickItems(IdbReader& in, TableWriter& out);

}  // namespace idb
