// Writes a generated game database: make_gamedb [--lookalikes] KIND FILE [SEED],
// or make_gamedb --size BYTES KIND FILE for a tidy one of about that size in
// the game's own proportions, as the benchmarks use (for profiling by hand).
// Irregular on purpose (unknown tags, misfit lengths, 4-byte sizes, odd
// floats), so that a round trip through the program proves more than a tidy
// file would. --lookalikes adds what spreadsheets like to misread: texts and
// codes that look like numbers, dates or formulas, raw fields of digits only,
// and more -0, NaN payloads, infinities and subnormals.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>

#include "gamedb/adb.h"
#include "tests/support/adb_gen.h"
#include "tests/support/gamedb_gen.h"

int main(int argc, char** argv) {
    std::uint64_t size = 0;
    if (argc > 2 && std::strcmp(argv[1], "--size") == 0) {
        size = std::strtoull(argv[2], nullptr, 10);
        argc -= 2;
        argv += 2;
    }
    const bool lookalikes = argc > 1 && std::strcmp(argv[1], "--lookalikes") == 0;
    if (lookalikes) {
        --argc;
        ++argv;
    }
    if (argc < 3 || argc > 4) {
        std::fputs("Usage: make_gamedb [--lookalikes] KIND FILE [SEED]\n"
                   "       make_gamedb --size BYTES KIND FILE\n",
                   stderr);
        return 2;
    }
    const gamedb::KindSpec* kind = gamedb::FindKind(argv[1]);
    if (!kind) {
        std::fprintf(stderr, "make_gamedb: unknown kind '%s'\n", argv[1]);
        return 2;
    }
    try {
        const std::uint64_t seed = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 1;
        gamedb::testing::GenOptions options = gamedb::testing::GenOptions::Irregular(seed);
        if (lookalikes) {
            options.lookalikeRate = 0.3;
            options.oddFloatRate = 0.3;
        }
        const std::string path = argv[2];
        const std::filesystem::path file(std::u8string(path.begin(), path.end()));
        if (size != 0) {
            gamedb::testing::WriteDatabase(
                file, gamedb::testing::GenerateOfSize(*kind, size, gamedb::testing::GenOptions::RealLike()));
        } else if (gamedb::IsAnimKind(*kind)) {
            gamedb::testing::AdbGenOptions adbOptions;
            adbOptions.seed = seed;
            adbOptions.irregularRate = 0.05;
            gamedb::testing::WriteBytes(file, gamedb::testing::SerializeAdb(gamedb::testing::GenerateAdb(adbOptions)));
        } else {
            gamedb::testing::WriteDatabase(file, gamedb::testing::Generate(*kind, options));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_gamedb: %s\n", e.what());
        return 1;
    }
    return 0;
}
