// What the benchmarks share: failing loudly, peak memory from a forked
// child, plain block copies as baselines, whole programs run as processes,
// a temporary folder, and the run itself. Linux only (fork, wait4, mkdtemp).
#pragma once

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <system_error>
#include <vector>

namespace bench {

// The benchmark program's name, for its messages and its temporary folder;
// each program defines it.
extern const char kProgram[];

[[noreturn]] inline void Die(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    std::exit(1);
}

// Runs `work` in a forked child and returns the child's peak resident set in
// bytes. The child starts from the parent's resident set, so a baseline has
// to be measured the same way.
inline double ChildPeakRss(const std::function<void()>& work) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) Die("fork failed");
    if (pid == 0) {
        try {
            work();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s child: %s\n", kProgram, e.what());
            _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) Die("wait4 failed");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die("measured child failed");
    return static_cast<double>(usage.ru_maxrss) * 1024;  // Linux reports KiB
}

// fread/fwrite through `block`: the least a program that writes a copy does.
inline std::uintmax_t CopyFile(const std::filesystem::path& from, const std::filesystem::path& to,
                               std::vector<char>& block) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (!in || !out) Die("cannot copy " + from.string());
    std::uintmax_t total = 0;
    for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), in)) > 0;) {
        if (std::fwrite(block.data(), 1, got, out) != got) Die("cannot write " + to.string());
        total += got;
    }
    std::fclose(in);
    if (std::fclose(out) != 0) Die("cannot write " + to.string());
    return total;
}

// Runs a program to its end with the benchmark's environment and returns
// the processor time (user and system) it took, which other load on the
// machine disturbs less than the wall time. Anything but exit status 0 ends
// the benchmark run.
inline double RunProgram(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) Die("cannot start " + args[0]);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) Die("wait4 failed");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die(args[0] + " failed");
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Flushes a file, or a folder's files and the folder itself, to the disk.
inline void SyncToDisk(const std::filesystem::path& path) {
    if (std::filesystem::is_directory(path))
        for (const auto& entry : std::filesystem::directory_iterator(path)) SyncToDisk(entry.path());
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) Die("cannot flush " + path.string());
    close(fd);
}

// A new folder of the program's own in the system's temporary folder,
// removed with everything in it at the end.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / (std::string(kProgram) + ".XXXXXX")).string();
        if (!mkdtemp(pattern.data())) Die("cannot create a temporary folder");
        path_ = pattern;
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Whether a run's time is the figure to keep: with --benchmark_repetitions
// the median, reported after the repetitions, is.
inline bool KeptRun(const benchmark::BenchmarkReporter::Run& run) {
    const bool median = run.run_type == benchmark::BenchmarkReporter::Run::RT_Aggregate &&
                        run.aggregate_name == "median";
    return (run.run_type == benchmark::BenchmarkReporter::Run::RT_Iteration || median) && !run.error_occurred;
}

// The console table, then lines that set each measurement against its
// baselines from the same run: Finalize() of a derived reporter prints them
// from the kept runs, found by name ("BM_Pack/scale:110", "BM_List").
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (!KeptRun(run)) continue;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
            kept_.insert_or_assign(std::move(name), run);
        }
    }

protected:
    // The kept run of that name, or nullptr when it did not run.
    const Run* Find(const std::string& name) const {
        const auto it = kept_.find(name);
        return it == kept_.end() ? nullptr : &it->second;
    }
    // Milliseconds of wall time, as the benchmarks' unit.
    static double Time(const Run& run) { return run.GetAdjustedRealTime(); }

private:
    std::map<std::string, Run> kept_;
};

// The whole of main: the registered benchmarks, reported by `reporter`.
inline int RunBenchmarks(int argc, char** argv, benchmark::BenchmarkReporter& reporter) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench
