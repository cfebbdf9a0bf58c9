// The weapons category: common block and ten fields of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/common_block.h"

namespace idb {

class IdbReader;
class TableWriter;

// The last weapon read; every record overwrites all of it.
struct WeaponRecord {
    std::string ItemName;
    CommonItemBlock Block;
    std::int32_t Actions = 0;
    float Range = 0;
    float DamageMin = 0;                    // file value × 10
    float DamageMax = 0;                    // file value × 10 + DamageMin
    std::vector<float> DamageProportions;  // file values × 100
    std::string Spell;
    float AttackBonus = 0;
    float DefenceBonus = 0;
};

WeaponRecord& CurrentWeapon();

std::string WeaponsHeader();

void ExportWeapons(IdbReader& in, TableWriter& out);

}  // namespace idb
