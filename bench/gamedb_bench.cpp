// Unpack and pack of generated game databases, all eight kinds in the size
// proportions of the game's own files (units and acks largest, prints
// smallest), about 54 MB in all and a tenth of that. Baselines in the same
// run: copying the databases, and copying the tables unpack wrote, with
// fread/fwrite in 64 KiB blocks. Peak memory comes from forked children that
// do only the measured work: unpack's must not grow with the input, pack's
// may hold one block.
//
// The figures users feel are whole processes: the built gamedb run once per
// database of the large set, beside `cp -r` of the tables it wrote (for
// unpack) and `cp` of the databases (for pack), all started the same way.
// gamedb stages its files and renames them but does not flush them, so each
// side's output is flushed to disk (fsync) before the clock stops in the
// flush:1 runs and neither is in the flush:0 runs: like is compared with like.
// Pack runs twice: on the tables as unpacked (it copies the block of an
// unchanged table from the source) and on the same tables as though every
// one was edited (it reads them all).
//
//   build/bench/bench/gamedb_bench [--benchmark_repetitions=N] [--benchmark_filter=...]
//   build/bench/bench/gamedb_bench --benchmark_filter=Process   (the whole processes only)
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "bench/bench_support.h"
#include "gamedb/byte_io.h"
#include "gamedb/folder.h"
#include "gamedb/pack.h"
#include "gamedb/schema.h"
#include "gamedb/unpack.h"
#include "tests/support/gamedb_gen.h"

namespace fs = std::filesystem;

const char bench::kProgram[] = "gamedb_bench";

namespace {

using bench::ChildPeakRss;
using bench::CopyFile;
using bench::Die;
using bench::RunProgram;
using bench::SyncToDisk;

// Bytes of each kind in the game's files; scaled by 110 they make ~54 MB.
struct Share {
    std::string_view kind;
    std::uint64_t bytes;
};
constexpr Share kShares[] = {{"units", 213542}, {"acks", 155928}, {"items", 76470}, {"quests", 16452},
                             {"spells", 14347}, {"perks", 9805},  {"levers", 4774}, {"prints", 2747}};
constexpr int kLargeScale = 110;
constexpr int kSmallScale = 11;
constexpr std::size_t kBlock = 64 * 1024;

// In blocks: a whole-file read would leave the heap of this process, which
// the forked children measured later start from, tens of MiB larger.
bool SameFiles(const fs::path& a, const fs::path& b) {
    std::FILE* fa = std::fopen(a.c_str(), "rb");
    std::FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa && fb;
    std::vector<char> x(kBlock), y(kBlock);
    while (same) {
        const std::size_t n = std::fread(x.data(), 1, x.size(), fa);
        same = std::fread(y.data(), 1, y.size(), fb) == n && std::equal(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n), y.begin());
        if (n == 0) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

std::string FileName(std::string_view kind) {
    const gamedb::KindSpec& spec = *gamedb::FindKind(kind);
    const std::string_view pattern = spec.filePattern;
    return pattern.starts_with("*") ? std::string(kind) + std::string(pattern.substr(1)) : std::string(pattern);
}

// One set of eight databases with their unpacked tables.
struct Set {
    fs::path root;
    std::uintmax_t bytes = 0;          // of the eight databases
    std::uintmax_t largestBlock = 0;   // payload of the largest block
    // Peak resident memory of a child doing only that, measured before this
    // process ran any of it: its heap, which a child starts from, stays small.
    double unpackPeak = 0, packPeak = 0, copyPeak = 0;
    fs::path Database(std::string_view kind) const { return root / "db" / FileName(kind); }
    fs::path Tables(std::string_view kind) const { return root / "tables" / std::string(kind); }
    fs::path Packed(std::string_view kind) const { return root / "packed" / FileName(kind); }
    fs::path Copy(std::string_view kind) const { return root / "copy" / FileName(kind); }
    // What the whole processes write and read.
    fs::path ProcessTables() const { return root / "process-tables"; }
    fs::path ProcessPacked() const { return root / "process-packed"; }
    fs::path ProcessCopy() const { return root / "process-copy"; }
};

void CopyDatabases(const Set& set) {
    std::vector<char> block(kBlock);
    for (const Share& share : kShares) CopyFile(set.Database(share.kind), set.Copy(share.kind), block);
}

void UnpackAll(const Set& set) {
    for (const Share& share : kShares) {
        gamedb::FileRegionSource source(set.Database(share.kind));
        gamedb::DiskOutputFolder out(set.Tables(share.kind));
        gamedb::Unpack(source, *gamedb::FindKind(share.kind), out);
    }
}

void PackAll(const Set& set) {
    for (const Share& share : kShares) gamedb::PackToFile(set.Tables(share.kind), set.Packed(share.kind));
}

class Workspace {
public:
    static Workspace& Get() {
        static Workspace workspace;
        return workspace;
    }
    const Set& For(int scale) const { return scale == kLargeScale ? large_ : small_; }

private:
    Workspace() {
        Make(large_, kLargeScale);
        Make(small_, kSmallScale);
        for (Set* set : {&large_, &small_}) {
            set->unpackPeak = ChildPeakRss([&] { UnpackAll(*set); });
            set->packPeak = ChildPeakRss([&] { PackAll(*set); });
            set->copyPeak = ChildPeakRss([&] { CopyDatabases(*set); });
        }
    }

    void Make(Set& set, int scale) {
        set.root = root_ / std::to_string(scale);
        for (const char* sub : {"db", "tables", "packed", "copy"}) fs::create_directories(set.root / sub);
        const gamedb::testing::GenOptions options = gamedb::testing::GenOptions::RealLike();
        for (const Share& share : kShares) {
            const fs::path path = set.Database(share.kind);
            // Generated in a child: the model takes several times the file's size.
            ChildPeakRss([&] {
                const auto database = gamedb::testing::GenerateOfSize(*gamedb::FindKind(share.kind),
                                                                      share.bytes * static_cast<std::uint64_t>(scale), options);
                gamedb::testing::WriteDatabase(path, database);
            });
            set.bytes += fs::file_size(path);
        }
        // Unpacked in a child: this process's heap must stay as it was.
        ChildPeakRss([&] { UnpackAll(set); });
        // The largest block, for pack's memory bound: a block's table is
        // about as large as the block, so take the largest table.
        for (const Share& share : kShares)
            for (const auto& entry : fs::directory_iterator(set.Tables(share.kind)))
                set.largestBlock = std::max(set.largestBlock, fs::file_size(entry.path()));
    }

    bench::TempFolder root_;
    Set large_, small_;
};

void Counters(benchmark::State& state, const Set& set, double peak) {
    state.SetBytesProcessed(static_cast<std::int64_t>(set.bytes) * state.iterations());
    state.counters["input_MiB"] = static_cast<double>(set.bytes) / (1 << 20);
    if (peak > 0)
        state.counters["peak_rss"] = benchmark::Counter(peak, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
}

void BM_Unpack(benchmark::State& state) {
    const Set& set = Workspace::Get().For(static_cast<int>(state.range(0)));
    for (auto _ : state) UnpackAll(set);
    Counters(state, set, set.unpackPeak);
}

// Bytes processed is the databases' size, so MB/s compare with unpack's.
void BM_Pack(benchmark::State& state) {
    const Set& set = Workspace::Get().For(static_cast<int>(state.range(0)));
    for (auto _ : state) PackAll(set);
    Counters(state, set, set.packPeak);
    state.counters["largest_table_MiB"] = static_cast<double>(set.largestBlock) / (1 << 20);
    // What pack gave back must be the databases it came from.
    for (const Share& share : kShares)
        if (!SameFiles(set.Packed(share.kind), set.Database(share.kind)))
            state.SkipWithError("pack did not give back the unpacked database");
}

// Baseline: the eight databases copied; peak_rss is the floor under the others'.
void BM_CopyDatabases(benchmark::State& state) {
    const Set& set = Workspace::Get().For(static_cast<int>(state.range(0)));
    for (auto _ : state) CopyDatabases(set);
    Counters(state, set, set.copyPeak);
}

// Baseline: the tables unpack wrote, copied (as many bytes as unpack writes
// and pack reads).
void BM_CopyTables(benchmark::State& state) {
    const Set& set = Workspace::Get().For(static_cast<int>(state.range(0)));
    std::vector<char> block(kBlock);
    std::uintmax_t tableBytes = 0;
    for (auto _ : state) {
        tableBytes = 0;
        for (const Share& share : kShares)
            for (const auto& entry : fs::directory_iterator(set.Tables(share.kind)))
                tableBytes += CopyFile(entry.path(), set.root / "copy" / "table.tmp", block);
    }
    Counters(state, set, 0);
    state.counters["tables_MiB"] = static_cast<double>(tableBytes) / (1 << 20);
}

// The program measured: the built gamedb, or another build of it named by
// GAMEDB_BENCH_PROGRAM (to set two builds side by side).
std::string Program() {
    const char* other = std::getenv("GAMEDB_BENCH_PROGRAM");
    return other && *other ? other : GAMEDB_PATH;
}

// One database's command line.
using Command = std::function<std::vector<std::string>(const Set&, const Share&)>;

std::vector<std::string> UnpackCommand(const Set& set, const Share& share) {
    return {Program(), "--quiet", "unpack", set.Database(share.kind).string(),
            (set.ProcessTables() / std::string(share.kind)).string()};
}

// The set's databases unpacked by the built program, with the manifest's
// record of where they came from, as a user's tables are.
const Set& UnpackedSet() {
    const Set& set = Workspace::Get().For(kLargeScale);
    if (!fs::exists(set.ProcessTables())) {
        fs::create_directory(set.ProcessTables());
        for (const Share& share : kShares) RunProgram(UnpackCommand(set, share));
    }
    return set;
}

// Each round runs `command` for each database of the large set into
// `folder`, made empty outside the timing, and with flush:1 flushes what
// it wrote to disk before the clock stops.
void ProcessRounds(benchmark::State& state, const Set& set, const fs::path& folder, const Command& command) {
    double processorSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(folder);
        fs::create_directory(folder);
        state.ResumeTiming();
        for (const Share& share : kShares) processorSeconds += RunProgram(command(set, share));
        if (state.range(0)) SyncToDisk(folder);
    }
    Counters(state, set, 0);
    state.counters["process_cpu_ms"] = benchmark::Counter(processorSeconds * 1000, benchmark::Counter::kAvgIterations);
}

void BM_ProcessUnpack(benchmark::State& state) {
    const Set& set = Workspace::Get().For(kLargeScale);
    ProcessRounds(state, set, set.ProcessTables(), UnpackCommand);
}

// Baseline: `cp -r` of each database's tables into a folder that does not
// exist yet, as a user would copy them.
void BM_ProcessCopyTables(benchmark::State& state) {
    const Set& set = UnpackedSet();
    ProcessRounds(state, set, set.ProcessCopy(), [](const Set& s, const Share& share) -> std::vector<std::string> {
        return {"cp", "-r", (s.ProcessTables() / std::string(share.kind)).string(), (s.ProcessCopy() / std::string(share.kind)).string()};
    });
}

// Packs the tables in `tables` (a folder per database) and checks that
// each database comes back. With the change report against the source
// database, as pack runs for a user; --quiet keeps the report from the
// terminal but not from the work.
void PackRounds(benchmark::State& state, const Set& set, const fs::path& tables) {
    ProcessRounds(state, set, set.ProcessPacked(), [&tables](const Set& s, const Share& share) -> std::vector<std::string> {
        return {Program(), "--quiet", "pack", (tables / std::string(share.kind)).string(),
                (s.ProcessPacked() / FileName(share.kind)).string()};
    });
    for (const Share& share : kShares)
        if (!SameFiles(set.ProcessPacked() / FileName(share.kind), set.Database(share.kind)))
            state.SkipWithError("pack did not give back the unpacked database");
}

void BM_ProcessPack(benchmark::State& state) {
    const Set& set = UnpackedSet();
    PackRounds(state, set, set.ProcessTables());
}

// The same tables as though every one was edited: their manifests without
// the checksums that let pack copy an unchanged table's block from the
// source, so that pack reads every table (and compares every block).
const fs::path& EditedTables() {
    static const fs::path edited = [] {
        const Set& set = UnpackedSet();
        const fs::path folder = set.root / "process-edited";
        fs::remove_all(folder);
        fs::copy(set.ProcessTables(), folder, fs::copy_options::recursive);
        for (const Share& share : kShares) {
            const fs::path manifest = folder / std::string(share.kind) / "manifest.txt";
            std::string text, kept;
            {
                std::FILE* in = std::fopen(manifest.c_str(), "rb");
                if (!in) Die("cannot read " + manifest.string());
                char chunk[4096];
                for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) text.append(chunk, n);
                std::fclose(in);
            }
            for (std::size_t at = 0; at < text.size();) {
                const std::size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
                if (text.compare(at, 6, "crc32\t") != 0) kept.append(text, at, end - at);
                at = end;
            }
            std::FILE* out = std::fopen(manifest.c_str(), "wb");
            if (!out || std::fwrite(kept.data(), 1, kept.size(), out) != kept.size() || std::fclose(out) != 0)
                Die("cannot write " + manifest.string());
        }
        return folder;
    }();
    return edited;
}

void BM_ProcessPackEdited(benchmark::State& state) {
    PackRounds(state, UnpackedSet(), EditedTables());
}

// Baseline: `cp` of each database.
void BM_ProcessCopyDatabases(benchmark::State& state) {
    const Set& set = Workspace::Get().For(kLargeScale);
    ProcessRounds(state, set, set.ProcessCopy(), [](const Set& s, const Share& share) -> std::vector<std::string> {
        return {"cp", s.Database(share.kind).string(), (s.ProcessCopy() / FileName(share.kind)).string()};
    });
}

void Flushes(benchmark::internal::Benchmark* b) {
    b->ArgName("flush")->Arg(1)->Arg(0);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

void Scales(benchmark::internal::Benchmark* b) {
    b->ArgName("scale")->Arg(kLargeScale)->Arg(kSmallScale);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_CopyDatabases)->Apply(Scales);
BENCHMARK(BM_CopyTables)->Apply(Scales);
BENCHMARK(BM_Unpack)->Apply(Scales)->MinTime(2.0);
BENCHMARK(BM_Pack)->Apply(Scales)->MinTime(2.0);
BENCHMARK(BM_ProcessCopyTables)->Apply(Flushes);
BENCHMARK(BM_ProcessUnpack)->Apply(Flushes)->MinTime(2.0);
BENCHMARK(BM_ProcessCopyDatabases)->Apply(Flushes);
BENCHMARK(BM_ProcessPack)->Apply(Flushes)->MinTime(2.0);
BENCHMARK(BM_ProcessPackEdited)->Apply(Flushes)->MinTime(2.0);

// After the usual table: unpack and pack as multiples of the baselines of the
// same size from this run.
class UnpackPackRatios final : public bench::RatioReporter {
public:
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (int scale : {kLargeScale, kSmallScale}) {
            const std::string suffix = "/scale:" + std::to_string(scale);
            const Run* copyDb = Find("BM_CopyDatabases" + suffix);
            const Run* copyTables = Find("BM_CopyTables" + suffix);
            for (const char* name : {"BM_Unpack", "BM_Pack"}) {
                const Run* run = Find(name + suffix);
                if (!run) continue;
                std::printf("%s at scale %d:", name + 3, scale);
                if (copyDb) std::printf(" %.1fx the time of copying the databases,", Time(*run) / Time(*copyDb));
                if (copyTables) std::printf(" %.2fx the time of copying the tables", Time(*run) / Time(*copyTables));
                std::printf("\n");
            }
        }
        for (int flush : {1, 0}) {
            const std::string suffix = "/flush:" + std::to_string(flush);
            const char* how = flush ? "flushed to disk" : "not flushed";
            for (const auto& [command, name, baseline, what] :
                 {std::tuple{"unpack", "BM_ProcessUnpack", "BM_ProcessCopyTables", "cp -r of its tables"},
                  std::tuple{"pack", "BM_ProcessPack", "BM_ProcessCopyDatabases", "cp of the databases"},
                  std::tuple{"pack of tables all edited", "BM_ProcessPackEdited", "BM_ProcessCopyDatabases",
                             "cp of the databases"}}) {
                const Run* run = Find(name + suffix);
                const Run* copy = Find(baseline + suffix);
                if (!run || !copy) continue;
                std::printf("gamedb %s as processes, %s: %.2fx the time (%.2fx the processor time) of %s\n", command,
                            how, Time(*run) / Time(*copy), ProcessorTime(*run) / ProcessorTime(*copy), what);
            }
        }
    }

private:
    static double ProcessorTime(const Run& run) {
        const auto cpu = run.counters.find("process_cpu_ms");
        return cpu != run.counters.end() ? cpu->second.value : run.GetAdjustedCPUTime();
    }
};

}  // namespace

int main(int argc, char** argv) {
    UnpackPackRatios reporter;
    return bench::RunBenchmarks(argc, argv, reporter);
}
