// Listing, extracting and rewriting a generated 200 MB archive (2 000
// members of 0..200 KiB), and replacing a 4 KiB member of a generated
// 516 MiB archive, beside baselines measured in the same run that
// move the same bytes with plain fread/fwrite in 64 KiB blocks: the entry
// table and name pool read raw (for listing), each member copied into a
// file of its own (for extracting), and the archive copied whole (for
// rewriting and replacing). Peak memory comes from forked children that do only the
// measured work.
//
//   build/bench/bench/archive_bench [--benchmark_repetitions=N] [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "archive/archive.h"
#include "archive/fresh_layout.h"
#include "archive/in_place.h"
#include "archive/cp1251.h"
#include "archive/file_util.h"

namespace fs = std::filesystem;

const char bench::kProgram[] = "archive_bench";

namespace {

using bench::ChildPeakRss;
using bench::Die;

constexpr std::size_t kMembers = 2000;
constexpr std::size_t kMaxMember = 200 * 1024;
constexpr std::size_t kBlock = 64 * 1024;

std::uint64_t CopyRegion(const fs::path& from, std::uint64_t offset, std::uint64_t length, const fs::path& to,
                         std::vector<char>& block) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (!in || !out || !idb::SeekFile(in, offset)) Die("cannot copy " + from.string());
    std::uint64_t left = length;
    while (left > 0) {
        const std::size_t want = left < block.size() ? static_cast<std::size_t>(left) : block.size();
        const std::size_t got = std::fread(block.data(), 1, want, in);
        if (got != want || std::fwrite(block.data(), 1, got, out) != got) Die("cannot copy " + from.string());
        left -= got;
    }
    std::fclose(in);
    if (std::fclose(out) != 0) Die("cannot write " + to.string());
    return length;
}

class Workspace {
public:
    static Workspace& Get() {
        static Workspace workspace;
        return workspace;
    }
    fs::path Archive() const { return root_ / "data.res"; }
    fs::path Rewritten() const { return root_ / "rewritten.res"; }
    fs::path Extracted() const { return root_ / "extracted"; }
    fs::path Copies() const { return root_ / "copies"; }
private:
    Workspace() {
        // Generated in a child, so the members' bytes do not stay in this
        // process's heap.
        ChildPeakRss([this] {
            std::mt19937_64 random(42);
            std::vector<resarc::Member> members;
            const std::string folder = *resarc::Utf8ToCp1251("Данные");
            for (std::size_t i = 0; i < kMembers; ++i) {
                std::string data(random() % (kMaxMember + 1), '\0');
                for (std::size_t at = 0; at + 8 <= data.size(); at += 8) {
                    const std::uint64_t word = random();
                    std::memcpy(data.data() + at, &word, 8);
                }
                std::string name = (i % 2 ? folder : std::string("data")) + "\\member" + std::to_string(i) + ".bin";
                members.push_back(resarc::Member{std::move(name), 0x3ACAF33C, std::move(data)});
            }
            resarc::WriteArchive(Archive(), members);
        });
        fs::create_directory(Extracted());
        fs::create_directory(Copies());
    }
    bench::TempFolder root_;
};

void SetCounters(benchmark::State& state, std::uint64_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
    state.counters["archive_MiB"] = static_cast<double>(fs::file_size(Workspace::Get().Archive())) / (1 << 20);
}

void SetPeak(benchmark::State& state, double peak) {
    state.counters["peak_rss"] = benchmark::Counter(peak, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
}

// What `res list` does: open, check, and format every entry.
std::size_t ListAll(const fs::path& path) {
    const resarc::Archive archive = resarc::Archive::Open(path);
    std::size_t characters = 0;
    for (const resarc::Entry& entry : archive.Entries()) {
        characters += resarc::Cp1251ToUtf8(entry.name).size() + resarc::FormatTime(entry.time).size() +
                      std::to_string(entry.size).size();
    }
    return characters;
}

void BM_List(benchmark::State& state) {
    const fs::path path = Workspace::Get().Archive();
    for (auto _ : state) benchmark::DoNotOptimize(ListAll(path));
    state.counters["entries"] = static_cast<double>(kMembers);
}

// Baseline: the header, entry table and name pool read raw.
void BM_ReadTable(benchmark::State& state) {
    const fs::path path = Workspace::Get().Archive();
    const resarc::Archive archive = resarc::Archive::Open(path);
    std::uint64_t tableOffset = 0;
    for (const resarc::Entry& entry : archive.Entries()) tableOffset = std::max<std::uint64_t>(tableOffset, entry.offset + entry.size);
    tableOffset = (tableOffset + 15) / 16 * 16;
    std::vector<char> block(kBlock);
    for (auto _ : state) {
        std::FILE* in = std::fopen(path.c_str(), "rb");
        if (!in) Die("cannot open");
        std::size_t total = std::fread(block.data(), 1, 16, in);
        idb::SeekFile(in, tableOffset);
        for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), in)) > 0;) total += got;
        std::fclose(in);
        benchmark::DoNotOptimize(total);
    }
}

std::uint64_t ExtractAll(const fs::path& path, const fs::path& folder) {
    const resarc::Archive archive = resarc::Archive::Open(path);
    std::uint64_t bytes = 0;
    for (const resarc::Entry& entry : archive.Entries()) {
        const fs::path target = folder / resarc::SafeRelativePath(entry.name);
        fs::create_directories(target.parent_path());
        archive.Extract(entry, target);
        bytes += entry.size;
    }
    return bytes;
}

void BM_Extract(benchmark::State& state) {
    const Workspace& ws = Workspace::Get();
    const double peak = ChildPeakRss([&] { ExtractAll(ws.Archive(), ws.Extracted()); });
    std::uint64_t bytes = 0;
    for (auto _ : state) bytes = ExtractAll(ws.Archive(), ws.Extracted());
    SetCounters(state, bytes);
    SetPeak(state, peak);
}

// Baseline: each member's bytes copied into a file of its own.
void BM_CopyMembers(benchmark::State& state) {
    const Workspace& ws = Workspace::Get();
    const resarc::Archive archive = resarc::Archive::Open(ws.Archive());
    std::vector<char> block(kBlock);
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        std::size_t index = 0;
        for (const resarc::Entry& entry : archive.Entries()) {
            bytes += CopyRegion(ws.Archive(), entry.offset, entry.size, ws.Copies() / std::to_string(index++), block);
        }
    }
    SetCounters(state, bytes);
}

void BM_Rewrite(benchmark::State& state) {
    const Workspace& ws = Workspace::Get();
    const auto rewrite = [&] { resarc::WriteArchive(ws.Rewritten(), resarc::Archive::Open(ws.Archive()).Members()); };
    const double peak = ChildPeakRss(rewrite);
    for (auto _ : state) rewrite();
    SetCounters(state, fs::file_size(ws.Archive()));
    SetPeak(state, peak);
}

// Baseline: the archive copied whole.
void BM_CopyArchive(benchmark::State& state) {
    const Workspace& ws = Workspace::Get();
    std::vector<char> block(kBlock);
    const std::uint64_t size = fs::file_size(ws.Archive());
    for (auto _ : state) CopyRegion(ws.Archive(), 0, size, ws.Rewritten(), block);
    SetCounters(state, size);
}

// A 516 MiB archive (129 members of 4 MiB around one of 4 KiB), generated
// only when its benchmarks run and removed with the temporary folder.
class LargeWorkspace {
public:
    static LargeWorkspace& Get() {
        static LargeWorkspace workspace;
        return workspace;
    }
    fs::path Archive() const { return root_ / "large.res"; }
    fs::path Copy() const { return root_ / "copy.res"; }
    fs::path Small(int variant) const { return root_ / ("small" + std::to_string(variant)); }
    static constexpr const char* kSmallName = "data\\small.bin";

private:
    LargeWorkspace() {
        constexpr std::size_t kLarge = 4 << 20, kCount = 129;
        std::mt19937_64 random(7);
        std::string block(kLarge, '\0');
        for (std::size_t at = 0; at + 8 <= block.size(); at += 8) {
            const std::uint64_t word = random();
            std::memcpy(block.data() + at, &word, 8);
        }
        const fs::path blockFile = root_ / "block";
        std::FILE* out = std::fopen(blockFile.c_str(), "wb");
        if (!out || std::fwrite(block.data(), 1, block.size(), out) != block.size() || std::fclose(out) != 0) Die("cannot write");
        for (int variant = 0; variant < 2; ++variant) {
            std::FILE* small = std::fopen(Small(variant).c_str(), "wb");
            const std::string data(4096, static_cast<char>('a' + variant));
            if (!small || std::fwrite(data.data(), 1, data.size(), small) != data.size() || std::fclose(small) != 0) Die("cannot write");
        }
        // Members stream from the one block file, so the archive never sits in memory.
        std::vector<resarc::Member> members;
        for (std::size_t i = 0; i < kCount; ++i) {
            members.push_back(resarc::Member{"data\\large" + std::to_string(i) + ".bin", 0x3ACAF33C,
                                             resarc::FileRegion{blockFile, 0, kLarge}});
            if (i == kCount / 2) members.push_back(resarc::MemberFromFile(Small(0), kSmallName));
        }
        resarc::WriteArchive(Archive(), members);
        fs::remove(blockFile);
    }
    bench::TempFolder root_;
};

// `res replace` of the 4 KiB member by other bytes of the same size: its
// data and its table entry are written in place under the undo journal.
void BM_ReplaceSmallInLarge(benchmark::State& state) {
    const LargeWorkspace& ws = LargeWorkspace::Get();
    // Alternates across runs too, so every replacement changes the member.
    static int variant = 1;
    for (auto _ : state) {
        std::vector<resarc::Edit> edits;
        edits.push_back(resarc::Edit{resarc::EditKind::kReplace, resarc::MemberFromFile(ws.Small(variant), LargeWorkspace::kSmallName)});
        if (!resarc::UpdateArchive(ws.Archive(), ws.Archive(), std::move(edits)).inPlace) Die("not changed in place");
        variant ^= 1;
    }
    state.counters["archive_MiB"] = static_cast<double>(fs::file_size(ws.Archive())) / (1 << 20);
}

// Baseline: the large archive copied whole.
void BM_CopyLarge(benchmark::State& state) {
    const LargeWorkspace& ws = LargeWorkspace::Get();
    std::vector<char> block(kBlock);
    const std::uint64_t size = fs::file_size(ws.Archive());
    for (auto _ : state) CopyRegion(ws.Archive(), 0, size, ws.Copy(), block);
    fs::remove(ws.Copy());
    state.counters["archive_MiB"] = static_cast<double>(size) / (1 << 20);
}

BENCHMARK(BM_ReadTable)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_List)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopyMembers)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Extract)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_CopyArchive)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Rewrite)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_CopyLarge)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ReplaceSmallInLarge)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// After the usual table: each measured operation as a multiple of its
// baseline from this run.
class ArchiveRatios final : public bench::RatioReporter {
public:
    void Finalize() override {
        ConsoleReporter::Finalize();
        const std::pair<const char*, const char*> kPairs[] = {
            {"BM_List", "BM_ReadTable"}, {"BM_Extract", "BM_CopyMembers"}, {"BM_Rewrite", "BM_CopyArchive"},
            {"BM_ReplaceSmallInLarge", "BM_CopyLarge"}};
        for (const auto& [measured, baseline] : kPairs) {
            const Run* m = Find(measured);
            const Run* b = Find(baseline);
            if (m && b) std::printf("%s: %.3gx the time of %s\n", measured, Time(*m) / Time(*b), baseline);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    ArchiveRatios reporter;
    return bench::RunBenchmarks(argc, argv, reporter);
}
