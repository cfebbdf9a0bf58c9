// Animation databases (*.adb) in memory. The first byte picks what the rest
// is: 0-0x3F a file (unpack must pack back to the same bytes; check and
// diff must not fail on it), 0x40-0x7F a clips table of the layout the
// second byte picks, 0x80 and up a manifest. Whatever packs must unpack and
// pack again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "gamedb/adb.h"
#include "gamedb/error.h"

namespace {

void FromBytes(std::span<const std::uint8_t> bytes) {
    const gamedb::KindSpec& kind = gamedb::AnimKind();
    gamedb::MemorySource checked(bytes, "fuzz");
    long long findings = 0;
    const gamedb::CheckSummary summary = gamedb::Check(checked, kind, [&](const gamedb::CheckFinding& finding) {
        ++findings;
        (void)gamedb::FormatFinding(finding);
    });
    if (findings != summary.problems + summary.notes) std::abort();
    gamedb::MemoryFolder folder;
    try {
        gamedb::MemorySource source(bytes, "fuzz");
        gamedb::Unpack(source, kind, folder);
    } catch (const gamedb::Error&) {
        if (summary.records > 0 || summary.problems == 0) std::abort();  // check read clips, so unpack must
        return;
    }
    gamedb::MemorySink sink;
    gamedb::Pack(folder, sink);
    if (sink.Bytes().size() != bytes.size() || !std::equal(bytes.begin(), bytes.end(), sink.Bytes().begin())) std::abort();
    gamedb::MemorySource a(bytes, "old"), b(bytes, "new");
    const gamedb::DiffResult diff = gamedb::Diff(a, b, kind);
    if (!diff.Equal() || !gamedb::FormatDiff(diff).empty()) std::abort();
}

void FromText(bool manifest, const gamedb::AdbLayout& layout, const std::string& text) {
    gamedb::MemoryFolder folder;
    const std::string table = gamedb::TableName(gamedb::AnimKind(), 1);
    if (manifest) {
        folder.Files()["manifest.txt"] = text;
        folder.Files()[table] = "name\t~extra\n";
    } else {
        folder.Files()["manifest.txt"] = "format\t1\nkind\tanims\nrecord_size\t" + std::to_string(layout.recordSize) +
                                         "\nmodel_name\tGoblin\nheight_min\t1\nheight_mid\t1.01\nheight_max\t1.02\ntable\t" + table + "\n";
        folder.Files()[table] = text;
    }
    gamedb::MemorySink first;
    try {
        gamedb::Pack(folder, first);
    } catch (const gamedb::Error&) {
        return;
    }
    gamedb::MemoryFolder again;
    gamedb::MemorySource source(first.Bytes(), "packed");
    gamedb::Unpack(source, gamedb::AnimKind(), again);
    gamedb::MemorySink second;
    gamedb::Pack(again, second);
    if (second.Bytes() != first.Bytes()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    if (data[0] < 0x40) {
        FromBytes(std::span(data + 1, size - 1));
    } else {
        const auto layouts = gamedb::AdbLayouts();
        FromText(data[0] >= 0x80, *layouts[data[1] % layouts.size()], std::string(reinterpret_cast<const char*>(data + 2), size - 2));
    }
    return 0;
}
