// Plausible item records for every category, generated deterministically:
// the bundled sample database and the benchmark's large one are made of them.
#pragma once

#include <cstddef>

#include "tests/support/idb_builder.h"

namespace idb::testing {

RecordBuilder SampleMaterial(int index);
RecordBuilder SampleWeapon(int index);
RecordBuilder SampleArmor(int index);
RecordBuilder SampleQuickItem(int index);
RecordBuilder SampleQuestItem(int index);
RecordBuilder SampleLootItem(int index);

// A database with `perCategory` records in each of the six categories, in
// real framing (keep it to a few dozen: see IdbBuilder::SizeMode).
IdbBuilder SampleDatabase(int perCategory);

// A database of about `targetBytes` with the same mix of categories, its
// category sizes taken from the reader's counters so that every record is read.
std::string LargeDatabase(std::size_t targetBytes);

}  // namespace idb::testing
