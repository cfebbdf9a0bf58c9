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
    const std::string& sep = out.DecimalSeparator();
    while (in.HasMoreRecords()) {
        in.ReadRecordHeader();
        out.WriteCell(in.ReadItemName());
        while (in.HasMoreFields()) {
            if (yield) yield();
            in.ReadFieldHeader();
            switch (in.FieldTag()) {
                case 1: in.ReadText(in.FieldLength(), m.TypeName); break;
                case 2: in.ReadText(in.FieldLength(), m.CodeName); break;
                // The two unnamed integers go out as they come, right after
                // the name and in record order.
                case 3:
                case 12: out.WriteCell(FormatLong(in.ReadLong())); break;
                case 4: m.Price = in.ReadSingle(); break;
                case 5: m.Weight = in.ReadSingle(); break;
                case 6: m.Mana = in.ReadSingle(); break;
                case 7: m.Slots = in.ReadLong(); break;
                case 8: m.Durability = in.ReadSingle(); break;
                case 9: m.Skill = in.ReadLong(); break;
                case 10: m.Damage = in.ReadSingle(); break;
                case 11: m.Absorption = in.ReadSingleArray(in.FieldLength()); break;
                case 13: m.ShopFlags = in.ReadFlags(); break;
                default: break;  // unknown tags: not a byte of the value is read
            }
        }
        out.WriteCell(FormatSingle(m.Price, sep));
        out.WriteCell(FormatSingle(m.Weight, sep));
        out.WriteCell(FormatSingle(m.Mana, sep));
        out.WriteCell(FormatLong(m.Slots));
        out.WriteCell(FormatSingle(m.Durability, sep));
        out.WriteCell(m.TypeName);
        out.WriteCell(m.CodeName);
        out.WriteCell(FormatSingle(m.Damage, sep));
        out.WriteCell(FormatLong(m.Skill));
        for (float value : m.Absorption) out.WriteCell(FormatSingle(value, sep));
        FlagCells(out, m.ShopFlags);
        out.EndRow();
    }
}

}  // namespace idb
