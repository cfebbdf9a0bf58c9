// The quest items category: common block, script number and zone list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "export/common_block.h"

namespace idb {

class IdbReader;
class TableWriter;

// The last quest item read; Zones is emptied after every row.
struct QuestItemRecord {
    std::string ItemName;
    CommonItemBlock Block;
    std::int32_t ScriptID = 0;
    std::string Zones;
};

QuestItemRecord& CurrentQuestItem();

std::string QuestItemsHeader();

// The cell text of a raw zone list: the first two characters dropped, each
// code 1 turned into ", ", LF and NUL removed. Shorter than 3: empty.
std::string FormatZoneList(std::string_view raw);
// Same, into `text`, reusing its storage.
void FormatZoneList(std::string_view raw, std::string& text);

void ExportQuestItems(IdbReader& in, TableWriter& out);

}  // namespace idb
