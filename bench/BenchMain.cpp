// BenchMain.cpp - the benchmark program's entry: Google Benchmark's own
// options plus
//   --threads N  pool size of the land and frame benchmarks (default: the
//                machine's cores);
//   --table      runs the figures of the speed targets, each with the plain
//                version in the same run (best of 3 repetitions), and prints
//                them as a table: figure, threads, time, plain time, ratio,
//                FFTW's time (the transform rows, when built with FFTW),
//                target;
//   --json       with --table: the table as JSON instead.
// The peak memory figure is measured in a child process of its own (a fresh
// heap: a size-12 land and the heaviest flight).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "base/ThreadPool.h"
#include "bench/BenchOptions.h"

namespace {

int32_t threadsOption = 0;

// Keeps the best (lowest) real and CPU time of every benchmark's
// repetitions while the console shows them as usual.
class BestTimes : public benchmark::ConsoleReporter {
public:
    struct Best {
        double real = 0.0, cpu = 0.0;  // milliseconds
        double threads = 1.0;
        bool seen = false;
    };
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const double scale = 1e3 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            const double real = run.GetAdjustedRealTime() * scale;
            const double cpu = run.GetAdjustedCPUTime() * scale;
            Best& b = best[run.benchmark_name()];
            if (!b.seen || real < b.real) b.real = real;
            if (!b.seen || cpu < b.cpu) b.cpu = cpu;
            const auto t = run.counters.find("threads");
            if (t != run.counters.end()) b.threads = t->second.value;
            b.seen = true;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, Best> best;
};

struct Figure {
    const char* name;
    const char* ours;        // benchmark name
    const char* plain;       // benchmark name of the plain version, or null
    const char* comparator;  // benchmark name of FFTW's transform, or null
    bool cpu;                // CPU time of the calling thread instead of wall time
    double target;           // ms; 0: the time of targetOf
    const char* targetOf;    // benchmark whose time is the target, or null
};

const Figure kFigures[] = {
    {"frame, default settings, wall", "BM_RenderDefault/iterations:400",
     "BM_RenderDefaultReference/iterations:400", nullptr, false, 0.55, nullptr},
    {"frame, default settings, CPU time of one thread", "BM_RenderDefaultOneThread/iterations:400",
     "BM_RenderDefaultReference/iterations:400", nullptr, true, 0.9, nullptr},
    {"frame, heaviest valid, wall", "BM_RenderHeaviest/iterations:300",
     "BM_RenderHeaviestReference/iterations:100", nullptr, false, 3.5, nullptr},
    {"in-between frame, default settings, wall (target: the tick's frame)",
     "BM_RenderBetweenDefault/iterations:400", nullptr, nullptr, false, 0.0,
     "BM_RenderDefault/iterations:400"},
    {"in-between frame, heaviest valid, wall (target: the tick's frame)",
     "BM_RenderBetweenHeaviest/iterations:300", nullptr, nullptr, false, 0.0,
     "BM_RenderHeaviest/iterations:300"},
    {"whole land pipeline at land 10, wall", "BM_LandPipeline/10",
     "BM_LandPipelinePlain/10/iterations:2", nullptr, false, 40.0, nullptr},
    {"the same, a flight's first landscape (fresh scratch), wall", "BM_LandPipelineFirst/10",
     "BM_LandPipelinePlain/10/iterations:2", nullptr, false, 60.0, nullptr},
    {"whole land pipeline at land 12, wall", "BM_LandPipeline/12/iterations:2",
     "BM_LandPipelinePlain/12/iterations:1/repeats:1", nullptr, false, 800.0, nullptr},
    {"the same, a flight's first landscape (fresh scratch), wall",
     "BM_LandPipelineFirst/12/iterations:2", "BM_LandPipelinePlain/12/iterations:1/repeats:1",
     nullptr, false, 1000.0, nullptr},
    {"exact 2-D transform 1024 x 1024, one thread (target: FFTW), CPU", "BM_Fft2D/10/0",
     "BM_Fft2DPlain/10", "BM_Fft2DFftw/10/0", true, 0.0, "BM_Fft2DFftw/10/0"},
    {"exact 2-D transform 4096 x 4096, one thread (target: FFTW), CPU", "BM_Fft2D/12/0",
     "BM_Fft2DPlain/12", "BM_Fft2DFftw/12/0", true, 0.0, "BM_Fft2DFftw/12/0"},
};

// The peak memory figure, from a child process; negative when it failed.
double PeakMemoryMiB(int32_t threads) {
    int fds[2];
    if (pipe(fds) != 0) return -1.0;
    const pid_t child = fork();
    if (child < 0) return -1.0;
    if (child == 0) {
        close(fds[0]);
        const double mib = HeaviestFlightPeakMiB(threads, 20);
        const ssize_t written = write(fds[1], &mib, sizeof mib);
        _exit(written == static_cast<ssize_t>(sizeof mib) ? 0 : 1);
    }
    close(fds[1]);
    double mib = -1.0;
    if (read(fds[0], &mib, sizeof mib) != static_cast<ssize_t>(sizeof mib)) mib = -1.0;
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return mib;
}

// "-" for a figure a run did not time (FFTW missing from the build).
std::string Millis(const BestTimes& times, const char* name, bool cpu) {
    if (name == nullptr) return "-";
    const auto found = times.best.find(name);
    if (found == times.best.end()) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", cpu ? found->second.cpu : found->second.real);
    return text;
}

void PrintTable(const BestTimes& times, double peakMiB, bool json) {
    if (json) std::printf("{\n  \"figures\": [\n");
    if (!json) {
        std::printf(
            "\n| figure | threads | time (ms) | plain (ms) | plain / time | FFTW (ms) | "
            "target (ms) |\n");
        std::printf("|---|---|---|---|---|---|---|\n");
    }
    bool firstRow = true;
    for (const Figure& f : kFigures) {
        const auto ours = times.best.find(f.ours);
        if (ours == times.best.end()) continue;
        const double t = f.cpu ? ours->second.cpu : ours->second.real;
        const std::string plain = Millis(times, f.plain, f.cpu);
        const std::string fftw = Millis(times, f.comparator, f.cpu);
        std::string target = f.targetOf != nullptr ? Millis(times, f.targetOf, f.cpu) : "";
        if (f.targetOf == nullptr) {
            char text[32];
            std::snprintf(text, sizeof text, "%.2f", f.target);
            target = text;
        }
        std::string ratio = "-";
        if (plain != "-") {
            char text[32];
            std::snprintf(text, sizeof text, "%.2fx", std::strtod(plain.c_str(), nullptr) / t);
            ratio = text;
        }
        const int threads = static_cast<int>(ours->second.threads);
        auto jsonNumber = [](const std::string& v) { return v == "-" ? std::string("null") : v; };
        if (json) {
            std::printf(
                "%s    {\"figure\": \"%s\", \"threads\": %d, \"ms\": %.3f, \"plain_ms\": %s, "
                "\"fftw_ms\": %s, \"target_ms\": %s}",
                firstRow ? "" : ",\n", f.name, threads, t, jsonNumber(plain).c_str(),
                jsonNumber(fftw).c_str(), jsonNumber(target).c_str());
        } else {
            std::printf("| %s | %d | %.2f | %s | %s | %s | %s |\n", f.name, threads, t,
                        plain.c_str(), ratio.c_str(), fftw.c_str(), target.c_str());
        }
        firstRow = false;
    }
    if (json) {
        std::printf("\n  ],\n  \"peak_resident_MiB\": %.1f,\n  \"threads\": %d\n}\n", peakMiB,
                    BenchThreads());
    } else {
        std::printf(
            "| peak resident memory, land 12 + heaviest frame | %d | %.1f MiB | - | - | - | 400 "
            "MiB |\n",
            BenchThreads(), peakMiB);
    }
}

}  // namespace

int32_t BenchThreads() {
    return threadsOption < 1 ? ThreadPool::MachineThreads() : threadsOption;
}

int main(int argc, char** argv) {
    std::vector<char*> rest;
    bool table = false, json = false;
    for (int i = 0; i < argc; ++i) {
        const char* value = nullptr;
        if (i > 0 && std::strcmp(argv[i], "--table") == 0) {
            table = true;
            continue;
        }
        if (i > 0 && std::strcmp(argv[i], "--json") == 0) {
            json = true;
            continue;
        }
        if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            value = argv[++i];
        } else if (std::strncmp(argv[i], "--threads=", 10) == 0) {
            value = argv[i] + 10;
        } else {
            rest.push_back(argv[i]);
            continue;
        }
        char* end = nullptr;
        const long n = std::strtol(value, &end, 10);
        if (*value == '\0' || *end != '\0' || n < 1 || n > ThreadPool::kMaxThreads) {
            std::fprintf(stderr, "--threads: '%s' is not a thread count (1 to %d)\n", value,
                         ThreadPool::kMaxThreads);
            return 2;
        }
        threadsOption = static_cast<int32_t>(n);
    }
    if (json && !table) {
        std::fprintf(stderr, "--json: needs --table\n");
        return 2;
    }
    // The table's benchmarks, best of three, unless asked otherwise.
    std::string filter =
        "--benchmark_filter=^BM_Render(Default|DefaultOneThread|DefaultReference|Heaviest|"
        "HeaviestReference|BetweenDefault|BetweenHeaviest)/|^BM_LandPipeline(Plain|First)?/"
        "(10|12)|^BM_Fft2D(Plain|Fftw)?/(10|12)";
    std::string repetitions = "--benchmark_repetitions=3";
    if (table) {
        rest.insert(rest.begin() + 1, &repetitions[0]);
        rest.insert(rest.begin() + 1, &filter[0]);
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    if (benchmark::ReportUnrecognizedArguments(count, rest.data())) return 2;
    if (!table) {
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        return 0;
    }
    // Memory first, in a child, before this process's heap has grown.
    const double peakMiB = PeakMemoryMiB(BenchThreads());
    BestTimes times;
    // With --json only the JSON goes to stdout.
    if (json) times.SetOutputStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&times);
    benchmark::Shutdown();
    PrintTable(times, peakMiB, json);
    return 0;
}
