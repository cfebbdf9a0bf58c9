// What differs between two values of one field, down to the part that
// changed: the items of a list (`bored[3].volume: 30 -> 40`, items counted
// from 1), the fields of a nested record (`head.armor`), the elements of a
// fixed array (`absorption[2]`). A value whose parts cannot be told (bytes
// that do not frame, a length that does not fit) is compared whole.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "gamedb/diff.h"
#include "gamedb/schema.h"

namespace gamedb {

// The smallest differing part: a leaf of the comparison.
struct ValueLeaf {
    std::string name;                      // "bored[3].volume"
    const FieldSpec* spec;                 // the leaf's layout; nullptr for an unknown tag
    std::span<const std::uint8_t> oldBytes, newBytes;
};

// Called for each differing leaf present on both sides; returning false
// drops it from the changes (its new bytes were put back to the old ones).
using LeafFilter = std::function<bool(const ValueLeaf&)>;

// Appends the changes from `oldBytes` to `newBytes` of a field named `name`
// (`spec` nullptr: a tag the layout lacks, shown as hex).
void CompareValues(std::vector<FieldChange>& out, const std::string& name, const FieldSpec* spec,
                   std::span<const std::uint8_t> oldBytes, std::span<const std::uint8_t> newBytes,
                   const LeafFilter* filter = nullptr);

// A value as the tables write it: its cell, or '#' and hex without a layout.
std::string ValueCell(const FieldSpec* spec, std::span<const std::uint8_t> payload);

}  // namespace gamedb
