// The 15 fields that open every weapon, armor, quick, quest and loot item.
#pragma once

#include <cstdint>
#include <string>

namespace idb {

class IdbReader;
class TableWriter;

struct CommonItemBlock {
    std::string TypeName;
    std::int32_t UnlistedValue = 0;  // read, never shown
    std::string MaterialType;
    std::int32_t FigureNames = 0;
    std::int32_t TextureTypeIndex = 0;
    std::int32_t TextureTypeIndex2 = 0;
    float Price = 0;
    float Weight = 0;
    float Size = 0;
    float Mana = 0;
    std::int32_t Slots = 0;
    float Durability = 0;
    std::int32_t Components = 0;
    std::string ShopFlags;  // flag digit string, least significant bit first
    std::uint8_t Deconstructable = 0;
};

// Reads the 15 fields in their fixed order, taking them by position; each
// field header adds 2 + FieldLength to the reader's RecordPosition.
void ReadCommonBlock(IdbReader& in, CommonItemBlock& block);

// Price, Weight, Size, Mana, Slots, Durability, Deconstructable, Components,
// TypeName, MaterialType: ten cells.
void WriteGeneralCells(TableWriter& out, const CommonItemBlock& block);
// Shop 1 to Shop 5.
void WriteShopCells(TableWriter& out, const CommonItemBlock& block);
// TextureTypeIndex, TextureTypeIndex2, FigureNames.
void WriteGraphicsCells(TableWriter& out, const CommonItemBlock& block);

}  // namespace idb
