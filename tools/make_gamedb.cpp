// Writes a generated game database: make_gamedb KIND FILE [SEED]. Irregular
// on purpose (unknown tags, misfit lengths, 4-byte sizes, odd floats), so
// that a round trip through the program proves more than a tidy file would.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

#include "gamedb/adb.h"
#include "tests/support/adb_gen.h"
#include "tests/support/gamedb_gen.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fputs("Usage: make_gamedb KIND FILE [SEED]\n", stderr);
        return 2;
    }
    const gamedb::KindSpec* kind = gamedb::FindKind(argv[1]);
    if (!kind) {
        std::fprintf(stderr, "make_gamedb: unknown kind '%s'\n", argv[1]);
        return 2;
    }
    try {
        const std::uint64_t seed = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 1;
        const std::string path = argv[2];
        const std::filesystem::path file(std::u8string(path.begin(), path.end()));
        if (gamedb::IsAnimKind(*kind)) {
            gamedb::testing::AdbGenOptions options;
            options.seed = seed;
            options.irregularRate = 0.05;
            gamedb::testing::WriteBytes(file, gamedb::testing::SerializeAdb(gamedb::testing::GenerateAdb(options)));
        } else {
            gamedb::testing::WriteDatabase(file, gamedb::testing::Generate(*kind, gamedb::testing::GenOptions::Irregular(seed)));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_gamedb: %s\n", e.what());
        return 1;
    }
    return 0;
}
