// Writes a seed corpus for workbook_fuzzer: workbooks of typed cells as the
// writer makes them, one per sheet shape.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "gamedb/byte_io.h"
#include "gamedb/unpack.h"
#include "gamedb/workbook_folder.h"
#include "tests/support/gamedb_gen.h"
#include "workbook/workbook.h"

using workbook::Cell;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: workbook_seeds DIR\n", stderr);
        return 2;
    }
    try {
        const std::filesystem::path dir = argv[1];
        std::filesystem::create_directories(dir);
        for (int sheets = 1; sheets <= 3; ++sheets) {
            workbook::WorkbookWriter writer(dir / ("book" + std::to_string(sheets) + ".xlsx"), dir);
            for (int s = 0; s < sheets; ++s) {
                writer.BeginSheet("items.sheet" + std::to_string(s), {.hidden = s == 2});
                writer.AddRow(std::vector<Cell>{Cell::Text("name"), Cell::Text("price"), Cell::Text("~extra")});
                for (int r = 0; r < 4 * sheets; ++r)
                    writer.AddRow(std::vector<Cell>{Cell::Text("Шкура волка _x0041_ " + std::to_string(r)),
                                                    Cell::Number(1.5 * r - 3), Cell{}});
            }
            writer.Close();
        }
        // Workbooks as unpack writes them, for the path through pack.
        for (const char* kind : {"items", "acks"}) {
            gamedb::testing::GenOptions options;
            options.lookalikeRate = 0.2;
            const gamedb::testing::Bytes bytes = gamedb::testing::Serialize(gamedb::testing::Generate(*gamedb::FindKind(kind), options));
            gamedb::MemorySource source(bytes, kind);
            gamedb::WorkbookOutputFolder out(dir / (std::string(kind) + ".xlsx"));
            gamedb::Unpack(source, *gamedb::FindKind(kind), out);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "workbook_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
