#include "export/common_block.h"

#include "export/idb_reader.h"
#include "export/table_writer.h"

namespace idb {

void ReadCommonBlock(IdbReader& in, CommonItemBlock& block) {
    in.ReadFieldHeader();
    in.ReadText(in.FieldLength(), block.TypeName);
    in.ReadFieldHeader();
    block.UnlistedValue = in.ReadLong();
    in.ReadFieldHeader();
    in.ReadText(in.FieldLength(), block.MaterialType);
    in.ReadFieldHeader();
    block.FigureNames = in.ReadLong();
    in.ReadFieldHeader();
    block.TextureTypeIndex = in.ReadLong();
    in.ReadFieldHeader();
    block.TextureTypeIndex2 = in.ReadLong();
    in.ReadFieldHeader();
    block.Price = in.ReadSingle();
    in.ReadFieldHeader();
    block.Weight = in.ReadSingle();
    in.ReadFieldHeader();
    block.Size = in.ReadSingle();
    in.ReadFieldHeader();
    block.Mana = in.ReadSingle();
    in.ReadFieldHeader();
    block.Slots = in.ReadLong();
    in.ReadFieldHeader();
    block.Durability = in.ReadSingle();
    in.ReadFieldHeader();
    block.Components = in.ReadLong();
    in.ReadFieldHeader();
    block.ShopFlags = in.ReadFlags();
    in.ReadFieldHeader();
    block.Deconstructable = in.ReadByte();
}

void WriteGeneralCells(TableWriter& out, const CommonItemBlock& block) {
    const std::string& sep = out.DecimalSeparator();
    out.WriteCell(FormatSingle(block.Price, sep));
    out.WriteCell(FormatSingle(block.Weight, sep));
    out.WriteCell(FormatSingle(block.Size, sep));
    out.WriteCell(FormatSingle(block.Mana, sep));
    out.WriteCell(FormatLong(block.Slots));
    out.WriteCell(FormatSingle(block.Durability, sep));
    out.WriteCell(FormatByte(block.Deconstructable));
    out.WriteCell(FormatLong(block.Components));
    out.WriteCell(block.TypeName);
    out.WriteCell(block.MaterialType);
}

void WriteShopCells(TableWriter& out, const CommonItemBlock& block) { FlagCells(out, block.ShopFlags); }

void WriteGraphicsCells(TableWriter& out, const CommonItemBlock& block) {
    out.WriteCell(FormatLong(block.TextureTypeIndex));
    out.WriteCell(FormatLong(block.TextureTypeIndex2));
    out.WriteCell(FormatLong(block.FigureNames));
}

}  // namespace idb
