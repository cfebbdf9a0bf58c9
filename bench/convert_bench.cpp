// Whole conversions of generated databases (about 50 MiB and a tenth of it),
// beside two baselines measured in the same run: reading the input with fread
// in 64 KiB blocks, and copying the six produced tables. Peak memory is taken
// from forked children that do nothing but the measured work, so neither the
// generator nor the benchmark's own state counts.
//
// The figure users feel is the whole process: the built idb2txt run on the
// database, beside `cp -r` of the tables it wrote, both started the same way.
//
//   build/bench/bench/idb_bench [--benchmark_repetitions=N] [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "shell/conversion_run.h"
#include "tests/support/idb_builder.h"
#include "tests/support/sample_items.h"

namespace fs = std::filesystem;

const char bench::kProgram[] = "idb_bench";

namespace {

using bench::ChildPeakRss;
using bench::CopyFile;
using bench::Die;
using bench::RunProgram;

constexpr std::size_t kLargeBytes = 50u << 20;
constexpr std::size_t kSmallBytes = kLargeBytes / 10;
constexpr std::size_t kBlock = 64 * 1024;

// fread in 64 KiB blocks, the least any conversion has to do.
std::size_t ReadWhole(const fs::path& path, std::vector<char>& block) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) Die("cannot open " + path.string());
    std::size_t total = 0;
    for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), file)) > 0;) total += got;
    std::fclose(file);
    return total;
}

// The temporary folder with both databases, made on first use and removed
// at exit.
class Workspace {
public:
    static Workspace& Get() {
        static Workspace workspace;
        return workspace;
    }

    fs::path Database(std::size_t bytes) const { return root_ / ("items-" + std::to_string(bytes) + ".idb"); }
    fs::path Output(std::size_t bytes) const { return root_ / ("out-" + std::to_string(bytes)); }
    fs::path Copies() const { return root_ / "copies"; }

private:
    Workspace() {
        for (std::size_t bytes : {kLargeBytes, kSmallBytes}) {
            // Generated in a child: building needs several times the file's
            // size, which would otherwise stay in this process's heap.
            const fs::path path = Database(bytes);
            ChildPeakRss([&] { idb::testing::WriteFile(path, idb::testing::LargeDatabase(bytes)); });
            fs::create_directory(Output(bytes));
        }
        fs::create_directory(Copies());
    }

    bench::TempFolder root_;
};

void SetProcessCounters(benchmark::State& state, double processorSeconds) {
    state.counters["process_cpu_ms"] = benchmark::Counter(processorSeconds * 1000, benchmark::Counter::kAvgIterations);
}

void SetInputCounters(benchmark::State& state, std::uintmax_t inputBytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(inputBytes) * state.iterations());
    state.counters["input_MiB"] = static_cast<double>(inputBytes) / (1 << 20);
}

// The conversion; peak_rss is one conversion in a child of its own.
void BM_Convert(benchmark::State& state) {
    const auto target = static_cast<std::size_t>(state.range(0));
    const Workspace& ws = Workspace::Get();
    const fs::path database = ws.Database(target);
    const fs::path output = ws.Output(target);
    const double peak = ChildPeakRss([&] { idb::ConvertDatabase(database, output); });
    long long rows = 0;
    for (auto _ : state) {
        const idb::ConversionSummary summary = idb::ConvertDatabase(database, output);
        rows = 0;
        for (long long count : summary.rows) rows += count;
        benchmark::DoNotOptimize(rows);
    }
    SetInputCounters(state, fs::file_size(database));
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["peak_rss"] = benchmark::Counter(peak, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
}

// Baseline: the input read through in 64 KiB blocks; peak_rss is what a
// child holding just that costs, the floor under the conversion's figure.
void BM_ReadInput(benchmark::State& state) {
    const auto target = static_cast<std::size_t>(state.range(0));
    const fs::path database = Workspace::Get().Database(target);
    std::vector<char> block(kBlock);
    const double peak = ChildPeakRss([&] { ReadWhole(database, block); });
    for (auto _ : state) benchmark::DoNotOptimize(ReadWhole(database, block));
    SetInputCounters(state, fs::file_size(database));
    state.counters["peak_rss"] = benchmark::Counter(peak, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
}

// Baseline: the six produced tables copied with fread/fwrite in 64 KiB
// blocks. Bytes processed is still the input's size, so MiB/s compare
// directly with the conversion's.
void BM_CopyTables(benchmark::State& state) {
    const auto target = static_cast<std::size_t>(state.range(0));
    const Workspace& ws = Workspace::Get();
    const fs::path output = ws.Output(target);
    idb::ConvertDatabase(ws.Database(target), output);
    std::vector<char> block(kBlock);
    std::size_t tableBytes = 0;
    for (auto _ : state) {
        tableBytes = 0;
        for (const idb::CategoryInfo& info : idb::Categories()) {
            const std::string name(info.tableName);
            tableBytes += CopyFile(output / name, ws.Copies() / name, block);
        }
    }
    SetInputCounters(state, fs::file_size(ws.Database(target)));
    state.counters["tables_MiB"] = static_cast<double>(tableBytes) / (1 << 20);
}

// The built idb2txt as a user runs it: start, conversion, exit.
void BM_ProcessConvert(benchmark::State& state) {
    const auto target = static_cast<std::size_t>(state.range(0));
    const Workspace& ws = Workspace::Get();
    const fs::path database = ws.Database(target);
    const fs::path output = ws.Output(target);
    double processorSeconds = 0;
    for (auto _ : state) processorSeconds += RunProgram({IDB2TXT_PATH, "--quiet", database.string(), output.string()});
    SetInputCounters(state, fs::file_size(database));
    SetProcessCounters(state, processorSeconds);
}

// Baseline for the whole process: `cp -r` of the six tables into a folder
// that does not exist yet, as a user would copy them.
void BM_ProcessCopyTables(benchmark::State& state) {
    const auto target = static_cast<std::size_t>(state.range(0));
    const Workspace& ws = Workspace::Get();
    const fs::path output = ws.Output(target);
    const fs::path copy = ws.Copies() / "tables";
    idb::ConvertDatabase(ws.Database(target), output);
    double processorSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(copy);
        state.ResumeTiming();
        processorSeconds += RunProgram({"cp", "-r", output.string(), copy.string()});
    }
    SetInputCounters(state, fs::file_size(ws.Database(target)));
    SetProcessCounters(state, processorSeconds);
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->ArgName("bytes")->Arg(static_cast<std::int64_t>(kLargeBytes))->Arg(static_cast<std::int64_t>(kSmallBytes));
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_ReadInput)->Apply(Sizes);
BENCHMARK(BM_CopyTables)->Apply(Sizes);
// More than the default half second gives a steadier mean.
BENCHMARK(BM_Convert)->Apply(Sizes)->MinTime(2.0);
BENCHMARK(BM_ProcessCopyTables)->Apply(Sizes);
BENCHMARK(BM_ProcessConvert)->Apply(Sizes)->MinTime(2.0);

// Prints, after the usual table, each conversion's time as a multiple of the
// baselines of the same size from this run.
class ConversionRatios final : public bench::RatioReporter {
public:
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (std::size_t bytes : {kLargeBytes, kSmallBytes}) {
            const std::string suffix = "/bytes:" + std::to_string(bytes);
            const Run* convert = Find("BM_Convert" + suffix);
            const Run* read = Find("BM_ReadInput" + suffix);
            const Run* copy = Find("BM_CopyTables" + suffix);
            if (convert) {
                // Times are in milliseconds.
                const double inputMiB = Counter(*convert, "input_MiB");
                std::printf("conversion of %zu bytes: %.0f MiB/s of input (%.0f MiB/s of processor time)", bytes,
                            inputMiB * 1000 / Time(*convert), inputMiB * 1000 / ProcessorTime(*convert));
                if (read) std::printf(", %.1fx the time of reading the input", Time(*convert) / Time(*read));
                if (copy) {
                    std::printf(", %.2fx the time (%.2fx the processor time) of copying the tables",
                                Time(*convert) / Time(*copy), ProcessorTime(*convert) / ProcessorTime(*copy));
                }
                std::printf("\n");
            }
            const Run* process = Find("BM_ProcessConvert" + suffix);
            const Run* processCopy = Find("BM_ProcessCopyTables" + suffix);
            if (process && processCopy) {
                std::printf("idb2txt on %zu bytes: %.2fx the time (%.2fx the processor time) of cp -r of its tables\n",
                            bytes, Time(*process) / Time(*processCopy),
                            ProcessorTime(*process) / ProcessorTime(*processCopy));
            }
        }
    }

private:
    static double Counter(const Run& run, const char* name) {
        const auto it = run.counters.find(name);
        return it == run.counters.end() ? 0 : it->second.value;
    }
    // A child process's own time, else this process's.
    static double ProcessorTime(const Run& run) {
        const auto cpu = run.counters.find("process_cpu_ms");
        return cpu != run.counters.end() ? cpu->second.value : run.GetAdjustedCPUTime();
    }
};

}  // namespace

int main(int argc, char** argv) {
    ConversionRatios reporter;
    return bench::RunBenchmarks(argc, argv, reporter);
}
