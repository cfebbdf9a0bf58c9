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
    in.ReadFlags(block.ShopFlags);
    in.ReadFieldHeader();
    block.Deconstructable = in.ReadByte();
}

void WriteGeneralCells(TableWriter& out, const CommonItemBlock& block) {
    out.WriteSingleCell(block.Price);
    out.WriteSingleCell(block.Weight);
    out.WriteSingleCell(block.Size);
    out.WriteSingleCell(block.Mana);
    out.WriteLongCell(block.Slots);
    out.WriteSingleCell(block.Durability);
    out.WriteByteCell(block.Deconstructable);
    out.WriteLongCell(block.Components);
    out.WriteCell(block.TypeName);
    out.WriteCell(block.MaterialType);
}

void WriteShopCells(TableWriter& out, const CommonItemBlock& block) { FlagCells(out, block.ShopFlags); }

void WriteGraphicsCells(TableWriter& out, const CommonItemBlock& block) {
    out.WriteLongCell(block.TextureTypeIndex);
    out.WriteLongCell(block.TextureTypeIndex2);
    out.WriteLongCell(block.FigureNames);
}

}  // namespace idb
