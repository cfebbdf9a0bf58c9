// The armors category: common block, two absorption arrays, wounds, wear
// order, spell and eight stat modifiers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "export/common_block.h"

namespace idb {

class IdbReader;
class TableWriter;

// The last armor read; every record overwrites all of it.
struct ArmorRecord {
    std::string ItemName;
    CommonItemBlock Block;
    std::vector<float> MainAbsorption;        // [0] × 10, then percentages × 100
    std::vector<float> AdditionalAbsorption;  // the same
    std::uint8_t ApplyWounds = 0;
    std::int32_t WearOrder = 0;
    std::string Spell;
    std::array<std::uint8_t, 8> StatsModifiers{};
};

ArmorRecord& CurrentArmor();

std::string ArmorsHeader();

// Reads an absorption field of k = FieldLength \ 4 four-byte slots: the
// absorption value, k - 2 percentages and 4 trailing bytes that are dropped.
// k = 0 reads nothing; k = 1 reads and drops its 4 bytes.
void ReadAbsorption(IdbReader& in, int fieldLength, std::vector<float>& values);

// The labelled pieces of the eight stat modifier bytes, e.g. "s1 5s3 -2stealth 10".
std::string StatsText(const std::array<std::uint8_t, 8>& stats);

void ExportArmors(IdbReader& in, TableWriter& out);

}  // namespace idb
