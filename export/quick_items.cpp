#include "export/quick_items.h"

#include "export/idb_reader.h"
#include "export/table_writer.h"

namespace idb {

QuickItemRecord& CurrentQuickItem() {
    static QuickItemRecord record;
    return record;
}

std::string QuickItemsHeader() {
    return HeaderText({{1, "Name"}, {2, "General"}, {10, "Quick Items"}, {16, "Available In"}, {21, "Graphics Data"}},
                      {"Name", "Price", "Weight", "Size", "Mana", "Slots", "Durability", "Deconstructable",
                       "Components", "Type", "Material Type", "Skill", "Damage", "Damage Type", "Spell", "Shop 1",
                       "Shop 2", "Shop 3", "Shop 4", "Shop 5", "Texture Type Index", "Texture Type Index 2",
                       "Figure Names"});
}

void ExportQuickItems(IdbReader& in, TableWriter& out) {
    static constexpr const char* kDamageTypeWords[7] = {"piercing", "slashing", "bludgeoning", "termal",
                                                        "chemic",   "electric", "general"};
    QuickItemRecord& q = CurrentQuickItem();
    while (in.HasMoreRecords()) {
        in.ReadRecordHeader();
        in.ReadItemName(q.ItemName);
        out.WriteCell(q.ItemName);
        ReadCommonBlock(in, q.Block);

        in.ReadFieldHeader();
        in.Skip(4);
        in.ReadFieldHeader();
        q.Skill = in.ReadLong();
        in.ReadFieldHeader();
        q.Damage = in.ReadSingle();
        in.ReadFieldHeader();
        const std::int32_t damageType = in.ReadLong();
        if (damageType >= 0 && damageType <= 6) q.DamageType = kDamageTypeWords[damageType];
        in.ReadFieldHeader();
        in.ReadText(in.FieldLength(), q.Spell);
        in.ReadFieldHeader();
        in.Skip(in.FieldLength());
        in.ReadFieldHeader();
        in.Skip(in.FieldLength());

        WriteGeneralCells(out, q.Block);
        out.WriteLongCell(q.Skill);
        out.WriteSingleCell(q.Damage);
        out.WriteCell(q.DamageType);
        out.WriteCell(q.Spell);
        WriteShopCells(out, q.Block);
        WriteGraphicsCells(out, q.Block);
        out.EndRow();
    }
}

}  // namespace idb
