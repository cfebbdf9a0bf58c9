#include "export/loot_items.h"

#include "export/idb_reader.h"
#include "export/table_writer.h"

namespace idb {

LootItemRecord& CurrentLootItem() {
    static LootItemRecord record;
    return record;
}

std::string LootItemsHeader() {
    return HeaderText({{1, "Name"}, {2, "General"}, {10, "Loot"}, {12, "Available In"}, {17, "Graphics Data"}},
                      {"Name", "Price", "Weight", "Size", "Mana", "Slots", "Durability", "Deconstructable",
                       "Components", "Type", "Material", "Shop 1", "Shop 2", "Shop 3", "Shop 4", "Shop 5",
                       "Texture Type Index", "Texture Type Index 2", "Figure Names"});
}

void ExportLootItems(IdbReader& in, TableWriter& out) {
    LootItemRecord& l = CurrentLootItem();
    while (in.HasMoreRecords()) {
        in.ReadRecordHeader();
        in.ReadItemName(l.ItemName);
        out.WriteCell(l.ItemName);
        ReadCommonBlock(in, l.Block);
        WriteGeneralCells(out, l.Block);
        WriteShopCells(out, l.Block);
        WriteGraphicsCells(out, l.Block);
        // The row is complete before the record's own fields are read.
        for (int i = 0; i < 3; ++i) {
            in.ReadFieldHeader();
            in.Skip(4);
        }
        out.EndRow();
    }
}

}  // namespace idb
