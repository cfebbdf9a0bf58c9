// A database and one byte of it changed, through unpack and diff, all in
// memory. Bytes: kind, position (2 bytes), new value, then the database.
// Unpack keeps every byte, so for a database that unpacks: diff must fail
// exactly when the changed copy does not unpack (damage), and otherwise
// call the two equal exactly when the byte did not change.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "gamedb/byte_io.h"
#include "gamedb/diff.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "gamedb/unpack.h"

namespace {

bool Unpacks(std::span<const std::uint8_t> bytes, const gamedb::KindSpec& kind) {
    gamedb::MemoryFolder folder;
    gamedb::MemorySource source(bytes, "fuzz");
    try {
        gamedb::Unpack(source, kind, folder);
        return true;
    } catch (const gamedb::Error&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    const auto kinds = gamedb::Kinds();
    const gamedb::KindSpec& kind = kinds[data[0] % kinds.size()];
    const std::span<const std::uint8_t> original(data + 4, size - 4);
    if (!Unpacks(original, kind)) return 0;
    std::vector<std::uint8_t> changed(original.begin(), original.end());
    changed[(data[1] | std::size_t{data[2]} << 8) % changed.size()] = data[3];
    const bool changedUnpacks = Unpacks(changed, kind);
    try {
        gamedb::MemorySource a(original, "old");
        gamedb::MemorySource b(changed, "new");
        const gamedb::DiffResult diff = gamedb::Diff(a, b, kind);
        const bool same = std::equal(changed.begin(), changed.end(), original.begin());
        if (!changedUnpacks || diff.Equal() != same || FormatDiff(diff).empty() != same) std::abort();
    } catch (const gamedb::Error&) {
        if (changedUnpacks) std::abort();
    }
    return 0;
}
