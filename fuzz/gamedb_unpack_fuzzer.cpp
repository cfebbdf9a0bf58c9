// Arbitrary bytes through the frame reader and unpack, all in memory. The
// first byte picks the kind. A database that unpacks must pack back to the
// very same bytes; anything else than gamedb::Error escaping is a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "gamedb/byte_io.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "gamedb/pack.h"
#include "gamedb/unpack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const auto kinds = gamedb::Kinds();
    const gamedb::KindSpec& kind = kinds[data[0] % kinds.size()];
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    gamedb::MemoryFolder folder;
    try {
        gamedb::MemorySource source(bytes, "fuzz");
        gamedb::Unpack(source, kind, folder);
    } catch (const gamedb::Error&) {
        return 0;
    }
    gamedb::MemorySink sink;
    gamedb::Pack(folder, sink);  // must not fail on what unpack wrote
    if (sink.Bytes().size() != bytes.size() || !std::equal(bytes.begin(), bytes.end(), sink.Bytes().begin())) std::abort();
    return 0;
}
