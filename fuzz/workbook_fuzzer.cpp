// Feeds arbitrary bytes to the workbook reader as a file, and then to pack
// as a workbook of tables. A damaged or hostile workbook must end in
// workbook::Error (gamedb::Error from pack) within the reader's limits;
// any other exception escapes and aborts, which the fuzzer reports, as it
// does sanitizer findings, leaks and hangs.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "gamedb/byte_io.h"
#include "gamedb/error.h"
#include "gamedb/pack.h"
#include "gamedb/workbook_folder.h"
#include "workbook/workbook.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The zip reader wants a file; one per process, rewritten each run.
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("workbook_fuzz_" + std::to_string(::getpid()) + ".xlsx");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) std::abort();
    try {
        workbook::ReadLimits limits;
        limits.partBytes = 16u << 20;  // bounded, so a bomb is refused quickly
        limits.totalBytes = 64u << 20;
        limits.stringBytes = 1u << 20;
        workbook::WorkbookReader reader(path, limits);
        for (const workbook::SheetInfo& sheet : reader.Sheets()) {
            for (const workbook::Row& row : reader.ReadSheet(sheet))
                if (row.cells.size() > limits.columns) std::abort();
            if (reader.FindSheet(sheet.name) == nullptr) std::abort();
        }
    } catch (const workbook::Error&) {
    }
    try {
        gamedb::WorkbookInputFolder in(path);
        gamedb::MemorySink sink;
        gamedb::Pack(in, sink);
    } catch (const gamedb::Error&) {
    }
    return 0;
}
