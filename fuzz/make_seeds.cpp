// Writes a small seed corpus for convert_fuzzer: well-formed databases in
// both framings and a few edge shapes the reader must get through.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/idb_builder.h"
#include "tests/support/sample_items.h"

using idb::testing::IdbBuilder;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: make_seeds DIR\n", stderr);
        return 2;
    }
    try {
        const std::filesystem::path dir = argv[1];
        std::filesystem::create_directories(dir);
        auto write = [&](const char* name, const std::string& bytes) { idb::testing::WriteFile(dir / name, bytes); };

        write("one-each.idb", idb::testing::SampleDatabase(1).Build());
        write("three-each.idb", idb::testing::SampleDatabase(3).Trailing(std::string("\0\0", 2)).Build());
        write("counters.idb", idb::testing::SampleDatabase(2).Build(IdbBuilder::SizeMode::ReaderCounters));
        IdbBuilder empty;
        for (int i = 0; i < 6; ++i) empty.Category({});
        write("empty-categories.idb", empty.Build());
        write("header-only.idb", std::string("\x01\x01\0\0\0", 5));
        // A long record name takes the four-byte size form.
        IdbBuilder longName;
        longName.Category({idb::testing::RecordBuilder(std::string(120, 'n')).Long(3, 7).Long(12, 8)});
        write("long-record.idb", longName.Build(IdbBuilder::SizeMode::ReaderCounters));
        // The largest category size: only the end of the file stops the
        // category, after every record has taken its bytes.
        std::string huge = std::string("\x01", 1) + idb::testing::Le32(0) + "\x01" + idb::testing::Le32(0x7FFFFFFF);
        for (int i = 0; i < 3; ++i) huge += idb::testing::SampleMaterial(i).Bytes();
        write("huge-category.idb", huge);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
