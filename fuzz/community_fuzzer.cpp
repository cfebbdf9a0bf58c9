// A database through the community's workbook layout and back: written as
// a workbook, then packed into itself with the base rule, it must come back
// byte for byte, whatever it holds (misfit lengths, unknown and repeated
// fields, NaN payloads, odd texts). The first byte picks the kind, as for
// the unpack fuzzer, whose seeds serve here. Anything but gamedb::Error
// escaping (or the workbook library refusing a text too long for a cell)
// is a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

#include <unistd.h>

#include "gamedb/community.h"
#include "gamedb/error.h"
#include "workbook/workbook.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("community_fuzz_" + std::to_string(::getpid()) + ".xlsx");
    const auto kinds = gamedb::Kinds();
    const gamedb::KindSpec& kind = kinds[data[0] % kinds.size()];
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    try {
        const gamedb::CommunitySource source{&kind, bytes, "fuzz"};
        gamedb::WriteCommunityWorkbook(path, std::span(&source, 1));
    } catch (const gamedb::Error&) {
        return 0;
    } catch (const workbook::Error&) {
        return 0;
    }
    workbook::WorkbookReader reader(path);
    const gamedb::CommunityPack pack = gamedb::PackCommunity(reader, "book", kind, bytes, "fuzz");
    if (pack.changed || pack.bytes.size() != bytes.size() || !std::equal(bytes.begin(), bytes.end(), pack.bytes.begin()))
        std::abort();
    return 0;
}
