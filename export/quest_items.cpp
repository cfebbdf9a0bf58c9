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
    FormatZoneList(raw, text);
    return text;
}

void FormatZoneList(std::string_view raw, std::string& text) {
    text.clear();
    if (raw.size() <= 2) return;
    // The two leading characters go first, whatever they are, NULs included.
    for (char c : raw.substr(2)) {
        if (c == '\x01') text += ", ";
        else if (c != '\n' && c != '\0') text += c;
    }
}

void ExportQuestItems(IdbReader& in, TableWriter& out) {
    QuestItemRecord& q = CurrentQuestItem();
    std::string raw;
    while (in.HasMoreRecords()) {
        in.ReadRecordHeader();
        in.ReadItemName(q.ItemName);
        out.WriteCell(q.ItemName);
        ReadCommonBlock(in, q.Block);

        in.ReadFieldHeader();
        q.ScriptID = in.ReadLong();
        in.ReadFieldHeader();
        if (in.FieldLength() > 0) {
            in.ReadRaw(in.FieldLength(), raw);
            FormatZoneList(raw, q.Zones);
        }

        WriteGeneralCells(out, q.Block);
        out.WriteLongCell(q.ScriptID);
        out.WriteCell(q.Zones);
        WriteShopCells(out, q.Block);
        WriteGraphicsCells(out, q.Block);
        out.EndRow();
        q.Zones.clear();
    }
}

}  // namespace idb
