// Arbitrary text through pack's manifest and table parser, in memory. The
// first byte picks the kind, the second the block; with the high bit of the
// first byte the rest is the manifest, otherwise it is the block's table.
// Whatever packs must unpack and pack again to the same bytes, also
// against the database as its source (the blocks copied from it).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gamedb/byte_io.h"
#include "gamedb/change_report.h"
#include "gamedb/checksum.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "gamedb/pack.h"
#include "gamedb/provenance.h"
#include "gamedb/unpack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const auto kinds = gamedb::Kinds();
    const gamedb::KindSpec& kind = kinds[(data[0] & 0x7F) % kinds.size()];
    const gamedb::BlockSpec& block = kind.blocks[data[1] % kind.blocks.size()];
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

    gamedb::MemoryFolder folder;
    const std::string table = std::string(block.name) + ".tsv";
    if (data[0] & 0x80) {
        folder.Files()["manifest.txt"] = text;
        folder.Files()[table] = std::string(gamedb::kExtraColumn) + "\n";
    } else {
        folder.Files()["manifest.txt"] = "format\t1\nkind\t" + std::string(kind.name) + "\nfile\t1\tauto\nblock\t" +
                                         std::to_string(block.tag) + "\t" + table + "\tauto\ntrailer\t00 00 02 0C 02 08 01 00 00 00\n";
        folder.Files()[table] = text;
    }
    gamedb::MemorySink first;
    try {
        gamedb::Pack(folder, first);
    } catch (const gamedb::Error&) {
        return 0;
    }
    gamedb::MemoryFolder again;
    gamedb::MemorySource source(first.Bytes(), "packed");
    gamedb::ChecksummingSource read(source);
    gamedb::ProvenanceFolder recorded(again, "packed", &read);
    gamedb::Unpack(read, kind, recorded);
    gamedb::MemorySink second;
    gamedb::Pack(again, second);
    if (second.Bytes() != first.Bytes()) std::abort();
    gamedb::BaseComparison comparison(std::make_unique<gamedb::MemorySource>(first.Bytes(), "packed"), kind, false,
                                      gamedb::ReadProvenance(again).files);
    gamedb::MemorySink third;
    gamedb::Pack(again, third, gamedb::Kinds(), &comparison);
    if (third.Bytes() != first.Bytes() || !comparison.Failure().empty()) std::abort();
    return 0;
}
