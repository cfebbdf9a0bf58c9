// Writes the bundled sample database: make_sample samples/Items.idb
#include <cstdio>
#include <exception>

#include "tests/support/sample_items.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: make_sample OUTPUT.idb\n", stderr);
        return 2;
    }
    try {
        // Real files end with a few bytes after the last category.
        idb::testing::SampleDatabase(30).Trailing(std::string("\x00\x00", 2)).Write(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_sample: %s\n", e.what());
        return 1;
    }
    return 0;
}
