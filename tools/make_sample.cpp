// Writes the bundled sample database:   make_sample samples/Items.idb
// or one dominated by N materials:      make_sample --materials=N OUTPUT.idb
// or the benchmark's mix of N bytes:    make_sample --bytes=N OUTPUT.idb
// The second keeps the window program's materials export, which yields to
// the message loop once per field, busy for seconds: the end-to-end tests
// act on the window during that time. The third is the database the
// benchmark converts, for comparing tables before and after a change.
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
    const std::string bytesPrefix = "--bytes=";
    const long long bytes = option.rfind(bytesPrefix, 0) == 0 ? std::atoll(option.c_str() + bytesPrefix.size()) : 0;
    // The generator holds several times the database in memory: 1 GB is plenty.
    constexpr long long kMaxBytes = 1LL << 30;
    if (argc != 2 && !(argc == 3 && (materials > 0 || (bytes > 0 && bytes <= kMaxBytes)))) {
        std::fputs("Usage: make_sample [--materials=N | --bytes=N] OUTPUT.idb\n", stderr);
        return 2;
    }
    try {
        if (bytes > 0) {
            idb::testing::WriteFile(argv[2], idb::testing::LargeDatabase(static_cast<std::size_t>(bytes)));
        } else if (materials > 0) {
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
