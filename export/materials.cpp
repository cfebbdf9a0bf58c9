#include "export/materials.h"

#include "export/idb_reader.h"
#include "export/table_writer.h"

namespace idb {

MaterialRecord& CurrentMaterial() {
    static MaterialRecord record;
    return record;
}

std::string MaterialsHeader() {
    return HeaderText({{1, "Name"}, {2, "General"}, {9, "Material"}, {13, "Absorption"}, {20, "Available In"}},
                      {"Name", "?Unknown?", "?Unknown?", "Price", "Weight", "Mana", "Slots", "Durability", "Type",
                       "Code Name", "Damage", "Skill", "Piercing", "Slashing", "Bludgeoning", "Termal", "Chemic",
                       "Electric", "General", "Shop 1", "Shop 2", "Shop 3", "Shop 4", "Shop 5"});
}

void ExportMaterials(IdbReader& in, TableWriter& out, const YieldHook& yield) {
    MaterialRecord& m = CurrentMaterial();
    std::string name;
    while (in.HasMoreRecords()) {
        in.ReadRecordHeader();
        in.ReadItemName(name);
        out.WriteCell(name);
        while (in.HasMoreFields()) {
            if (yield) yield();
            in.ReadFieldHeader();
            switch (in.FieldTag()) {
                case 1: in.ReadText(in.FieldLength(), m.TypeName); break;
                case 2: in.ReadText(in.FieldLength(), m.CodeName); break;
                // The two unnamed integers go out as they come, right after
                // the name and in record order.
                case 3:
                case 12: out.WriteLongCell(in.ReadLong()); break;
                case 4: m.Price = in.ReadSingle(); break;
                case 5: m.Weight = in.ReadSingle(); break;
                case 6: m.Mana = in.ReadSingle(); break;
                case 7: m.Slots = in.ReadLong(); break;
                case 8: m.Durability = in.ReadSingle(); break;
                case 9: m.Skill = in.ReadLong(); break;
                case 10: m.Damage = in.ReadSingle(); break;
                case 11: in.ReadSingleArray(in.FieldLength(), m.Absorption); break;
                case 13: in.ReadFlags(m.ShopFlags); break;
                default: break;  // unknown tags: not a byte of the value is read
            }
        }
        out.WriteSingleCell(m.Price);
        out.WriteSingleCell(m.Weight);
        out.WriteSingleCell(m.Mana);
        out.WriteLongCell(m.Slots);
        out.WriteSingleCell(m.Durability);
        out.WriteCell(m.TypeName);
        out.WriteCell(m.CodeName);
        out.WriteSingleCell(m.Damage);
        out.WriteLongCell(m.Skill);
        for (float value : m.Absorption) out.WriteSingleCell(value);
        FlagCells(out, m.ShopFlags);
        out.EndRow();
    }
}

}  // namespace idb
