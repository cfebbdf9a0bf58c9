// The loot items category: common block and three unshown 4-byte fields.
#pragma once

#include <string>

#include "export/common_block.h"

namespace idb {

class IdbReader;
class TableWriter;

struct LootItemRecord {
    std::string ItemName;
    CommonItemBlock Block;
};

LootItemRecord& CurrentLootItem();

std::string LootItemsHeader();

void ExportLootItems(IdbReader& in, TableWriter& out);

}  // namespace idb
