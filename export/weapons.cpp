#include "export/weapons.h"

#include "export/idb_reader.h"
#include "export/table_writer.h"

namespace idb {

WeaponRecord& CurrentWeapon() {
    static WeaponRecord record;
    return record;
}

std::string WeaponsHeader() {
    return HeaderText({{1, "Name"},
                       {2, "General"},
                       {10, "Weapon"},
                       {17, "Damage proportions"},
                       {24, "Lists"},
                       {25, "Available In"},
                       {30, "Graphics Data"}},
                      {"Name",        "Price",       "Weight",        "Size",
                       "Mana",        "Slots",       "Durability",    "Deconstructable",
                       "Components",  "Type",        "Material Type", "Range",
                       "Damage Min",  "Damage Max",  "Actions",       "Spell",
                       "Piercing",    "Slashing",    "Bludgeoning",   "Termal",
                       "Chemic",      "Electric",    "General",       "Stats Modifiers",
                       "Shop 1",      "Shop 2",      "Shop 3",        "Shop 4",
                       "Shop 5",      "Texture Type Index", "Texture Type Index 2", "Figure Names"});
}

namespace {

// "attack A, defence D", either part left out when its bonus is zero.
void WriteBonusCell(TableWriter& out, float attack, float defence) {
    if (attack != 0) {
        out.Append("attack ");
        out.AppendSingle(attack);
    }
    if (defence != 0) {
        out.Append(attack != 0 ? ", defence " : "defence ");
        out.AppendSingle(defence);
    }
    out.EndCell();
}

}  // namespace

void ExportWeapons(IdbReader& in, TableWriter& out) {
    WeaponRecord& w = CurrentWeapon();
    while (in.HasMoreRecords()) {
        in.ReadRecordHeader();
        in.ReadItemName(w.ItemName);
        out.WriteCell(w.ItemName);
        ReadCommonBlock(in, w.Block);

        in.ReadFieldHeader();
        w.Actions = in.ReadLong();
        in.ReadFieldHeader();
        in.Skip(in.FieldLength());
        in.ReadFieldHeader();
        w.Range = in.ReadSingle();
        in.ReadFieldHeader();
        w.DamageMin = static_cast<float>(static_cast<double>(in.ReadSingle()) * 10);
        in.ReadFieldHeader();
        // Scaled and summed in double, rounded to single once.
        w.DamageMax = static_cast<float>(static_cast<double>(in.ReadSingle()) * 10 + w.DamageMin);
        in.ReadFieldHeader();
        in.ReadSingleArray(in.FieldLength(), w.DamageProportions);
        for (float& value : w.DamageProportions) value = static_cast<float>(static_cast<double>(value) * 100);
        in.ReadFieldHeader();
        in.ReadText(in.FieldLength(), w.Spell);
        in.ReadFieldHeader();
        in.Skip(in.FieldLength());
        in.ReadFieldHeader();
        w.AttackBonus = in.ReadSingle();
        in.ReadFieldHeader();
        w.DefenceBonus = in.ReadSingle();

        WriteGeneralCells(out, w.Block);
        out.WriteSingleCell(w.Range);
        out.WriteSingleCell(w.DamageMin);
        out.WriteSingleCell(w.DamageMax);
        out.WriteLongCell(w.Actions);
        out.WriteCell(w.Spell);
        for (float value : w.DamageProportions) {
            out.AppendSingle(value);
            out.Append("%");
            out.EndCell();
        }
        WriteBonusCell(out, w.AttackBonus, w.DefenceBonus);
        WriteShopCells(out, w.Block);
        WriteGraphicsCells(out, w.Block);
        out.EndRow();
    }
}

}  // namespace idb
