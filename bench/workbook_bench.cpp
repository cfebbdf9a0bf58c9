// Unpack into .xlsx workbooks and pack from them, over generated databases
// of all eight kinds in the size proportions of the game's own files (about
// 54 MB in all), one workbook per database. Baseline in the same run:
// copying the databases with fread/fwrite in 64 KiB blocks. Peak memory
// comes from forked children doing only that work: writing a workbook must
// not grow with the database, reading one may hold a sheet.
//
//   build/bench/bench/workbook_bench [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "gamedb/byte_io.h"
#include "gamedb/pack.h"
#include "gamedb/schema.h"
#include "gamedb/unpack.h"
#include "gamedb/workbook_folder.h"
#include "tests/support/gamedb_gen.h"

namespace fs = std::filesystem;

const char bench::kProgram[] = "workbook_bench";

namespace {

struct Share {
    const char* kind;
    std::uint64_t bytes;
};
// The game's own sizes; scaled by 110 they make about 54 MB.
constexpr Share kShares[] = {{"units", 213542}, {"acks", 155928}, {"items", 76470}, {"quests", 16452},
                             {"spells", 14347}, {"perks", 9805},  {"levers", 4774}, {"prints", 2747}};
constexpr int kScale = 110;

class Workspace {
public:
    static Workspace& Get() {
        static Workspace workspace;
        return workspace;
    }
    fs::path Database(const char* kind) const { return root_ / "db" / kind; }
    fs::path Book(const char* kind) const { return root_ / "books" / (std::string(kind) + ".xlsx"); }
    fs::path Packed(const char* kind) const { return root_ / "packed" / kind; }
    fs::path Copy(const char* kind) const { return root_ / "copy" / kind; }
    std::uint64_t bytes = 0, bookBytes = 0;
    double unpackPeak = 0, packPeak = 0, copyPeak = 0;

private:
    Workspace() {
        for (const char* sub : {"db", "books", "packed", "copy"}) fs::create_directories(root_ / sub);
        const gamedb::testing::GenOptions options = gamedb::testing::GenOptions::RealLike();
        for (const Share& share : kShares) {
            bench::ChildPeakRss([&] {
                gamedb::testing::WriteDatabase(
                    Database(share.kind),
                    gamedb::testing::GenerateOfSize(*gamedb::FindKind(share.kind), share.bytes * kScale, options));
            });
            bytes += fs::file_size(Database(share.kind));
        }
        unpackPeak = bench::ChildPeakRss([this] { UnpackAll(); });
        packPeak = bench::ChildPeakRss([this] { PackAll(); });
        copyPeak = bench::ChildPeakRss([this] { CopyAll(); });
        for (const Share& share : kShares) {
            bookBytes += fs::file_size(Book(share.kind));
            if (gamedb::testing::ReadBytes(Packed(share.kind)) != gamedb::testing::ReadBytes(Database(share.kind)))
                bench::Die(std::string("the workbook of ") + share.kind + " did not pack back to its database");
        }
    }

public:
    void UnpackAll() const {
        try {
            Unpacks();
        } catch (const std::exception& e) {
            bench::Die(e.what());
        }
    }
    void PackAll() const {
        try {
            Packs();
        } catch (const std::exception& e) {
            bench::Die(e.what());
        }
    }
    void Unpacks() const {
        for (const Share& share : kShares) {
            gamedb::FileRegionSource source(Database(share.kind));
            gamedb::WorkbookOutputFolder out(Book(share.kind));
            gamedb::Unpack(source, *gamedb::FindKind(share.kind), out);
        }
    }
    void Packs() const {
        for (const Share& share : kShares) {
            gamedb::WorkbookInputFolder in(Book(share.kind));
            gamedb::PackToFile(in, Packed(share.kind));
        }
    }
    void CopyAll() const {
        std::vector<char> block(64 * 1024);
        for (const Share& share : kShares) bench::CopyFile(Database(share.kind), Copy(share.kind), block);
    }

private:
    bench::TempFolder root_;
};

void Counters(benchmark::State& state, double peak) {
    const Workspace& w = Workspace::Get();
    state.SetBytesProcessed(static_cast<std::int64_t>(w.bytes) * state.iterations());
    state.counters["input_MiB"] = static_cast<double>(w.bytes) / (1 << 20);
    state.counters["books_MiB"] = static_cast<double>(w.bookBytes) / (1 << 20);
    state.counters["peak_rss"] = benchmark::Counter(peak, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
}

void BM_CopyDatabases(benchmark::State& state) {
    for (auto _ : state) Workspace::Get().CopyAll();
    Counters(state, Workspace::Get().copyPeak);
}

void BM_UnpackToWorkbooks(benchmark::State& state) {
    for (auto _ : state) Workspace::Get().UnpackAll();
    Counters(state, Workspace::Get().unpackPeak);
}

void BM_PackFromWorkbooks(benchmark::State& state) {
    for (auto _ : state) Workspace::Get().PackAll();
    Counters(state, Workspace::Get().packPeak);
}

BENCHMARK(BM_CopyDatabases)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UnpackToWorkbooks)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PackFromWorkbooks)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

class Ratios final : public bench::RatioReporter {
public:
    void Finalize() override {
        ConsoleReporter::Finalize();
        const Run* copy = Find("BM_CopyDatabases");
        for (const char* name : {"BM_UnpackToWorkbooks", "BM_PackFromWorkbooks"}) {
            const Run* run = Find(name);
            if (run && copy) std::printf("%s: %.1fx the time of copying the databases\n", name + 3, Time(*run) / Time(*copy));
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    Ratios reporter;
    return bench::RunBenchmarks(argc, argv, reporter);
}
