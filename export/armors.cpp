#include "export/armors.h"

#include "export/idb_reader.h"
#include "export/table_writer.h"

namespace idb {

ArmorRecord& CurrentArmor() {
    static ArmorRecord record;
    return record;
}

std::string ArmorsHeader() {
    return HeaderText(
        {{1, "Name"},
         {2, "General"},
         {10, "Armor"},
         {13, "Main"},
         {21, "Additional"},
         {29, "Lists"},
         {30, "Available In"},
         {35, "Graphics Data"}},
        {"Name",        "Price",      "Weight",     "Size",          "Mana",       "Slots",
         "Durability",  "Deconstructable", "Components", "Type",     "Material Type", "Spell",
         "Absorption",  "Piercing",   "Slashing",   "Bludgeoning",   "Termal",     "Chemic",
         "Electric",    "General",    "Absorption", "Piercing",      "Slashing",   "Bludgeoning",
         "Termal",      "Chemic",     "Electric",   "General",       "Stats Modifiers", "Shop 1",
         "Shop 2",      "Shop 3",     "Shop 4",     "Shop 5",        "Texture Type Index",
         "Texture Type Index 2", "Figure Names", "Wear Order", "Apply Wounds"});
}

void ReadAbsorption(IdbReader& in, int fieldLength, std::vector<float>& values) {
    const int slots = fieldLength / 4;
    values.clear();
    if (slots <= 0) return;
    if (slots >= 2) {
        values.resize(static_cast<std::size_t>(slots - 1));
        values[0] = static_cast<float>(static_cast<double>(in.ReadSingle()) * 10);
        for (std::size_t i = 1; i < values.size(); ++i) {
            values[i] = static_cast<float>(static_cast<double>(in.ReadSingle()) * 100);
        }
    }
    in.Skip(4);
}

namespace {

constexpr std::string_view kStatPrefixes[8] = {"s1 ", "s2 ", "s3 ", "s4 ", "s5 ", "s6 ", "stealth ", "s8 "};

}  // namespace

std::string StatsText(const std::array<std::uint8_t, 8>& stats) {
    std::string text;
    for (std::size_t slot = 0; slot < stats.size(); ++slot) {
        if (stats[slot] == 0) continue;
        text += kStatPrefixes[slot];
        text += FormatLong(static_cast<std::int8_t>(stats[slot]));
    }
    return text;
}

namespace {

void WriteAbsorptionCells(TableWriter& out, const std::vector<float>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        out.AppendSingle(values[i]);
        if (i != 0) out.Append("%");
        out.EndCell();
    }
}

// StatsText straight into the cell.
void WriteStatsCell(TableWriter& out, const std::array<std::uint8_t, 8>& stats) {
    for (std::size_t slot = 0; slot < stats.size(); ++slot) {
        if (stats[slot] == 0) continue;
        out.Append(kStatPrefixes[slot]);
        out.AppendLong(static_cast<std::int8_t>(stats[slot]));
    }
    out.EndCell();
}

}  // namespace

void ExportArmors(IdbReader& in, TableWriter& out) {
    ArmorRecord& a = CurrentArmor();
    while (in.HasMoreRecords()) {
        in.ReadRecordHeader();
        in.ReadItemName(a.ItemName);
        out.WriteCell(a.ItemName);
        ReadCommonBlock(in, a.Block);

        in.ReadFieldHeader();
        ReadAbsorption(in, in.FieldLength(), a.MainAbsorption);
        in.ReadFieldHeader();
        ReadAbsorption(in, in.FieldLength(), a.AdditionalAbsorption);
        in.ReadFieldHeader();
        a.ApplyWounds = in.ReadByte();
        in.ReadFieldHeader();
        a.WearOrder = in.ReadLong();
        in.ReadFieldHeader();
        in.ReadText(in.FieldLength(), a.Spell);
        in.ReadFieldHeader();
        for (std::uint8_t& stat : a.StatsModifiers) stat = in.ReadByte();

        WriteGeneralCells(out, a.Block);
        out.WriteCell(a.Spell);
        WriteAbsorptionCells(out, a.MainAbsorption);
        WriteAbsorptionCells(out, a.AdditionalAbsorption);
        WriteStatsCell(out, a.StatsModifiers);
        WriteShopCells(out, a.Block);
        WriteGraphicsCells(out, a.Block);
        out.WriteLongCell(a.WearOrder);
        out.WriteByteCell(a.ApplyWounds);
        out.EndRow();
    }
}

}  // namespace idb
