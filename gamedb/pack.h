// Folder of tables and manifest.txt -> database. At most one block is held
// in memory; the file node's size is patched in at the end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "gamedb/byte_io.h"
#include "gamedb/folder.h"
#include "gamedb/unpack.h"

namespace gamedb {

struct PackSummary {
    std::vector<TableSummary> tables;
    std::uint64_t bytes = 0;
};

// A block an observer holds as it is: its payload's length and records.
struct HeldBlock {
    std::uint64_t length = 0;
    long long rows = 0;
};

// Sees each block as pack built it, before it is written, and may change
// values in place (same lengths); Finish comes after the last block.
//
// Before a block is built, Held may answer that the observer has that very
// block (its table is known to be what it was made from): pack then takes
// the block's payload from CopyHeld, in pieces, instead of the table.
class PackObserver {
public:
    virtual ~PackObserver() = default;
    virtual std::optional<HeldBlock> Held(std::uint8_t /*tag*/, const std::string& /*table*/, InputFolder& /*in*/) {
        return std::nullopt;
    }
    virtual void CopyHeld(const std::function<void(std::span<const std::uint8_t>)>& /*write*/) {}
    virtual void Block(std::uint8_t tag, const std::string& table, std::vector<std::uint8_t>& records) = 0;
    virtual void Finish() = 0;
};

// Writes the database to `out`. Throws Error naming table, row, column, the
// cell and what was expected; `out` then holds a partial database. The
// manifest's kind is looked up in `kinds`.
PackSummary Pack(InputFolder& in, ByteSink& out, std::span<const KindSpec> kinds = Kinds(),
                 PackObserver* observer = nullptr);

// The kind a folder's manifest names; throws Error when it cannot be read.
const KindSpec& ManifestKind(InputFolder& in);

// Packs `dir` into `target` through a temporary file beside it, renamed over
// the target only on success. Refuses a target that is one of the folder's
// own files.
PackSummary PackToFile(const std::filesystem::path& dir, const std::filesystem::path& target,
                       PackObserver* observer = nullptr);
PackSummary PackToFile(InputFolder& in, const std::filesystem::path& target, PackObserver* observer = nullptr);

}  // namespace gamedb
