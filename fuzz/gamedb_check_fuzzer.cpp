// Arbitrary bytes through check and diff, all in memory; the first byte picks
// the kind. Check must never throw on what the bytes hold; a database check
// finds clean must unpack, and must compare equal with itself. The set check
// reads the same bytes as a set of one and must not fail either.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "gamedb/byte_io.h"
#include "gamedb/check.h"
#include "gamedb/check_set.h"
#include "gamedb/diff.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "gamedb/unpack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const auto kinds = gamedb::Kinds();
    const gamedb::KindSpec& kind = kinds[data[0] % kinds.size()];
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    gamedb::MemorySource source(bytes, "fuzz");
    long long findings = 0;
    const gamedb::CheckSummary summary = gamedb::Check(source, kind, [&](const gamedb::CheckFinding& finding) {
        ++findings;
        (void)gamedb::FormatFinding(finding);
    });
    if (findings != summary.problems + summary.notes) std::abort();
    try {
        gamedb::MemorySource a(bytes, "old");
        gamedb::MemorySource b(bytes, "new");
        const gamedb::DiffResult diff = gamedb::Diff(a, b, kind);
        if (!diff.Equal() || !gamedb::FormatDiff(diff).empty()) std::abort();
    } catch (const gamedb::Error&) {
        if (summary.problems == 0) std::abort();  // a clean database must frame
    }
    if (summary.problems == 0) {
        gamedb::MemoryFolder folder;
        gamedb::MemorySource again(bytes, "fuzz");
        gamedb::Unpack(again, kind, folder);  // must not throw
    }
    gamedb::MemorySource forSet(bytes, "fuzz");
    gamedb::DatabaseSet set;
    set.byKind.emplace(std::string(kind.name), gamedb::LoadSetDatabase(forSet, kind, "fuzz"));
    set.animations.emplace();
    long long setFindings = 0;
    const gamedb::SetCheckSummary setSummary = gamedb::CheckSet(set, [&](const gamedb::SetFinding& finding) {
        ++setFindings;
        (void)gamedb::FormatSetFinding(finding);
    });
    if (setFindings != setSummary.errors + setSummary.warnings + setSummary.notes) std::abort();
    return 0;
}
