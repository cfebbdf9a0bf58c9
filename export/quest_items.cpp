#include "export/quest_items.h"

#include "export/idb_reader.h"
#include "export/table_writer.h"

namespace idb {

QuestItemRecord& CurrentQuestItem() {
    static QuestItemRecord record;
    return record;
}

std::string QuestItemsHeader() {
    return HeaderText({{1, "Name"}, {2, "General"}, {10, "Quest Items"}, {14, "Available In"}, {19, "Graphics Data"}},
                      {"Name", "Price", "Weight", "Size", "Mana", "Slots", "Durability", "Deconstructable",
                       "Components", "Type", "Material Type", "ScriptID", "Zones", "Shop 1", "Shop 2", "Shop 3",
                       "Shop 4", "Shop 5", "Texture Type Index", "Texture Type Index 2", "Figure Names"});
}

std::string FormatZoneList(std::string_view raw) {
    std::string text;
    if (raw.size() <= 2) return text;
    // The two leading characters go first, whatever they are, NULs included.
    for (char c : raw.substr(2)) {
        if (c == '\x01') text += ", ";
        else if (c != '\n' && c != '\0') text += c;
    }
    return text;
}

void ExportQuestItems(IdbReader& in, TableWriter& out) {
    QuestItemRecord& q = CurrentQuestItem();
    std::string raw;
    while (in.HasMoreRecords()) {
        in.ReadRecordHeader();
        q.ItemName = in.ReadItemName();
        out.WriteCell(q.ItemName);
        ReadCommonBlock(in, q.Block);

        in.ReadFieldHeader();
        q.ScriptID = in.ReadLong();
        in.ReadFieldHeader();
        if (in.FieldLength() > 0) {
            in.ReadRaw(in.FieldLength(), raw);
            q.Zones = FormatZoneList(raw);
        }

        WriteGeneralCells(out, q.Block);
        out.WriteCell(FormatLong(q.ScriptID));
        out.WriteCell(q.Zones);
        WriteShopCells(out, q.Block);
        WriteGraphicsCells(out, q.Block);
        out.EndRow();
        q.Zones.clear();
    }
}

}  // namespace idb
