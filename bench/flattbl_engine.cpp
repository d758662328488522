// Table engine throughput on a file table of 1,000,000 records filled as a disc scan fills
// it: save and load speed (MB/s of file bytes), peak memory of a load against the file
// size, Locate by name and a filtered walk with an OnFilterRecord handler (records/s).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/catalog/CatalogTables.h"
#include "storage/FlatTbl.h"

#include "ProcessMemory.h"
#include "ScannedFiles.h"

namespace {

constexpr int RecordCount = 1000000;

std::string BenchFolder()
{
    static const std::string dir = [] {
        auto p = std::filesystem::temp_directory_path() / ("flattbl_bench_" + std::to_string(::getpid()));
        std::filesystem::create_directories(p);
        return p.string();
    }();
    return dir;
}

std::string BenchFile() { return BenchFolder() + "/files.d"; }

// A table of RecordCount scanned files, in the order a scan appends them.
void Fill(TFlatTable &t)
{
    benchdata::FillScannedFiles(t, RecordCount);
}

using benchdata::CurrentRssKb;
using benchdata::PeakRssKb;

void EnsureFile()
{
    if (std::filesystem::exists(BenchFile()))
        return;
    // Built in a child so that the generation does not count in this process's peak memory.
    const pid_t pid = fork();
    if (pid == 0) {
        TFlatTable t;
        Fill(t);
        t.SaveToFile(BenchFile());
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

void BM_Save(benchmark::State &state)
{
    EnsureFile();
    TFlatTable t;
    t.OpenTable(BenchFile());
    const double bytes = double(std::filesystem::file_size(BenchFile()));
    const std::string target = BenchFolder() + "/saved.d";
    for (auto _ : state) {
        std::string error;
        if (!t.Cursor()->SaveToFile(target, 0, false, "", error))
            state.SkipWithError(error.c_str());
    }
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["fileMB"] = bytes / 1e6;
}

void BM_WriteImage(benchmark::State &state)
{
    EnsureFile();
    TFlatTable t;
    t.OpenTable(BenchFile());
    const double bytes = double(std::filesystem::file_size(BenchFile()));
    for (auto _ : state) {
        std::string image, error;
        t.Cursor()->WriteImage(image, error);
        benchmark::DoNotOptimize(image.data());
    }
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Load(benchmark::State &state)
{
    EnsureFile();
    const double bytes = double(std::filesystem::file_size(BenchFile()));
    for (auto _ : state) {
        TFlatTable t;
        t.OpenTable(BenchFile());
        benchmark::DoNotOptimize(t.RecordCount());
        state.PauseTiming();
        t.Close();
        state.ResumeTiming();
    }
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// Peak memory of one load, measured in a fresh child process against the file size.
void BM_LoadPeakMemory(benchmark::State &state)
{
    EnsureFile();
    const double bytes = double(std::filesystem::file_size(BenchFile()));
    double ratio = 0;
    for (auto _ : state) {
        int fds[2];
        if (pipe(fds) != 0) {
            state.SkipWithError("pipe");
            return;
        }
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const long before = CurrentRssKb();
            TFlatTable t;
            t.OpenTable(BenchFile());
            const long peak = PeakRssKb() - before;
            if (write(fds[1], &peak, sizeof peak) != sizeof peak)
                _exit(1);
            _exit(0);
        }
        close(fds[1]);
        long peakKb = 0;
        if (read(fds[0], &peakKb, sizeof peakKb) != sizeof peakKb)
            state.SkipWithError("child");
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        ratio = double(peakKb) * 1024.0 / bytes;
    }
    state.counters["peak/file"] = ratio;
    state.counters["fileMB"] = bytes / 1e6;
}

void BM_LocateByName(benchmark::State &state)
{
    EnsureFile();
    TFlatTable t;
    t.OpenTable(BenchFile());
    t.Last();
    const std::string wanted = t.FieldByName("Name").AsString();
    for (auto _ : state) {
        t.First();
        // Case-insensitive partial match walks the view up to the last record.
        if (!t.Locate("Name", wanted, {loCaseInsensitive, loPartialKey}))
            state.SkipWithError("not found");
    }
    state.counters["records/s"] =
        benchmark::Counter(double(t.RecordCount()), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_FilteredWalk(benchmark::State &state)
{
    EnsureFile();
    TFlatTable t;
    t.OpenTable(BenchFile());
    TField *name = &t.FieldByName("Name"); // looked up once, not per record
    TField *size = &t.FieldByName("Size");
    t.SetOnFilterRecord([name, size](TDataSet *, bool &accept) {
        accept = name->AsString().find("ab") != std::string::npos || size->AsString().size() > 8;
    });
    int64_t walked = 0;
    for (auto _ : state) {
        t.SetFiltered(false);
        t.SetFiltered(true);
        t.First();
        while (!t.Eof()) {
            benchmark::DoNotOptimize(name->AsString());
            t.Next();
            ++walked;
        }
    }
    state.counters["records/s"] = benchmark::Counter(double(RecordCount), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["accepted"] = double(walked) / double(state.iterations());
}

} // namespace

BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WriteImage)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoadPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LocateByName)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FilteredWalk)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(BenchFolder(), ec);
    return 0;
}
