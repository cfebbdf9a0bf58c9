// Writes seed corpora for the gamedb fuzzers: generated databases of
// every kind (regular and irregular) prefixed by their kind's index, and
// their tables prefixed by kind and block index; with a third folder, the
// animation-database fuzzer's: files, tables and manifests of every layout.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "gamedb/byte_io.h"
#include "gamedb/folder.h"
#include "gamedb/unpack.h"
#include "gamedb/adb.h"
#include "tests/support/adb_gen.h"
#include "tests/support/gamedb_gen.h"

using namespace gamedb::testing;

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fputs("Usage: make_gamedb_seeds UNPACK_DIR PACK_DIR [ADB_DIR]\n", stderr);
        return 2;
    }
    try {
        const std::filesystem::path unpackDir = argv[1];
        const std::filesystem::path packDir = argv[2];
        std::filesystem::create_directories(unpackDir);
        std::filesystem::create_directories(packDir);
        const auto kinds = gamedb::Kinds();
        for (std::size_t k = 0; k < kinds.size(); ++k) {
            for (int variant = 0; variant < 2; ++variant) {
                GenOptions options = variant ? GenOptions::Irregular(k + 1, 0.1) : GenOptions{};
                options.seed = k + 1;
                options.maxRecords = 3;
                const Bytes db = Serialize(Generate(kinds[k], options));
                Bytes seed{static_cast<std::uint8_t>(k)};
                seed.insert(seed.end(), db.begin(), db.end());
                const std::string name = std::string(kinds[k].name) + "-" + std::to_string(variant);
                WriteBytes(unpackDir / name, seed);

                gamedb::MemoryFolder folder;
                gamedb::MemorySource source(db, name);
                gamedb::Unpack(source, kinds[k], folder);
                for (std::size_t b = 0; b < kinds[k].blocks.size(); ++b) {
                    const std::string& table = folder.Files()[gamedb::TableName(kinds[k], kinds[k].blocks[b].tag)];
                    Bytes packSeed{static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(b)};
                    packSeed.insert(packSeed.end(), table.begin(), table.end());
                    WriteBytes(packDir / (name + "-" + std::to_string(b)), packSeed);
                }
                const std::string& manifest = folder.Files()["manifest.txt"];
                Bytes manifestSeed{static_cast<std::uint8_t>(k | 0x80), 0};
                manifestSeed.insert(manifestSeed.end(), manifest.begin(), manifest.end());
                WriteBytes(packDir / (name + "-manifest"), manifestSeed);
            }
        }
        if (argc == 4) {
            const std::filesystem::path adbDir = argv[3];
            std::filesystem::create_directories(adbDir);
            const auto layouts = gamedb::AdbLayouts();
            for (std::size_t l = 0; l < layouts.size(); ++l) {
                for (int variant = 0; variant < 2; ++variant) {
                    AdbGenOptions options;
                    options.seed = l + 1;
                    options.recordSize = static_cast<int>(layouts[l]->recordSize);
                    options.minClips = 1;
                    options.maxClips = 3;
                    options.irregularRate = variant ? 0.3 : 0;
                    const Bytes adb = SerializeAdb(GenerateAdb(options));
                    const std::string name = "adb" + std::to_string(layouts[l]->recordSize) + "-" + std::to_string(variant);
                    Bytes seed{0};
                    seed.insert(seed.end(), adb.begin(), adb.end());
                    WriteBytes(adbDir / name, seed);
                    gamedb::MemoryFolder folder;
                    gamedb::MemorySource source(adb, name);
                    gamedb::Unpack(source, gamedb::AnimKind(), folder);
                    for (const auto& [file, first] : {std::pair{std::string("manifest.txt"), std::uint8_t{0x80}},
                                                      std::pair{gamedb::TableName(gamedb::AnimKind(), 1), std::uint8_t{0x40}}}) {
                        const std::string& text = folder.Files()[file];
                        Bytes textSeed{first, static_cast<std::uint8_t>(l)};
                        textSeed.insert(textSeed.end(), text.begin(), text.end());
                        WriteBytes(adbDir / (name + "-" + std::to_string(first)), textSeed);
                    }
                }
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_gamedb_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
