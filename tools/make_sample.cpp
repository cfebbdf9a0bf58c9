// Writes the bundled sample database:   make_sample samples/Items.idb
// or one dominated by N materials:      make_sample --materials=N OUTPUT.idb
// The second keeps the window program's materials export, which yields to
// the message loop once per field, busy for seconds: the end-to-end tests
// act on the window during that time.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/sample_items.h"

namespace {

idb::testing::IdbBuilder MaterialsHeavyDatabase(int materials) {
    using namespace idb::testing;
    IdbBuilder db;
    std::vector<RecordBuilder> records;
    for (int i = 0; i < materials; ++i) records.push_back(SampleMaterial(i));
    db.Category(std::move(records));
    for (RecordBuilder (*make)(int) : {SampleWeapon, SampleArmor, SampleQuickItem, SampleQuestItem, SampleLootItem}) {
        records.clear();
        for (int i = 0; i < 30; ++i) records.push_back(make(i));
        db.Category(std::move(records));
    }
    return db;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string option = argc == 3 ? argv[1] : "";
    const std::string prefix = "--materials=";
    const int materials = option.rfind(prefix, 0) == 0 ? std::atoi(option.c_str() + prefix.size()) : 0;
    if (argc != 2 && !(argc == 3 && materials > 0)) {
        std::fputs("Usage: make_sample [--materials=N] OUTPUT.idb\n", stderr);
        return 2;
    }
    try {
        if (materials > 0) {
            // Past a few dozen records only the reader's own counting reads them all.
            MaterialsHeavyDatabase(materials).Write(argv[2], idb::testing::IdbBuilder::SizeMode::ReaderCounters);
        } else {
            // Real files end with a few bytes after the last category.
            idb::testing::SampleDatabase(30).Trailing(std::string("\x00\x00", 2)).Write(argv[1]);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_sample: %s\n", e.what());
        return 1;
    }
    return 0;
}
