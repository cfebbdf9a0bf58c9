// The materials category: fields picked by tag, any number in any order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace idb {

class IdbReader;
class TableWriter;

// Called once per field read, so that a window can keep pumping messages.
// It may throw to stop the conversion.
using YieldHook = std::function<void()>;

// The values of the last material, kept for the life of the process: a
// record that lacks a field repeats what the last record with that tag left,
// in this run or an earlier one.
struct MaterialRecord {
    std::string TypeName;
    std::string CodeName;
    float Price = 0;
    float Weight = 0;
    float Mana = 0;
    std::int32_t Slots = 0;
    float Durability = 0;
    std::int32_t Skill = 0;
    float Damage = 0;
    std::vector<float> Absorption;  // empty until the first tag-11 field
    std::string ShopFlags;          // empty until the first tag-13 field
};

MaterialRecord& CurrentMaterial();

std::string MaterialsHeader();

void ExportMaterials(IdbReader& in, TableWriter& out, const YieldHook& yield = {});

}  // namespace idb
