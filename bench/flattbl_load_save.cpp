// Load and save of a file table against their references, measured in the same run, at
// 10,000, 100,000 and 1,000,000 records (tables filled as a disc scan fills them).
//   load: `cat file > /dev/null` and a memcpy of the file's size (targets: >= 2 GB/s and
//         <= 4x cat; peak memory of a load in a fresh process <= 1.2x the file);
//   save: SaveToFile against one write of the same bytes and an fsync (target: <= 1.3x at
//         every size).
// Counters give the cost per record in nanoseconds, so growth with the size shows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/catalog/CatalogTables.h"
#include "storage/FlatTbl.h"

#include "ProcessMemory.h"
#include "Measure.h"
#include "ScannedFiles.h"

namespace {

namespace fs = std::filesystem;
std::string Folder()
{
    static const std::string dir = [] {
        // ORB_LS_BENCH_DIR keeps the generated tables between runs.
        if (const char *kept = std::getenv("ORB_LS_BENCH_DIR")) {
            fs::create_directories(kept);
            return std::string(kept);
        }
        auto p = fs::temp_directory_path() / ("flattbl_ls_bench_" + std::to_string(::getpid()));
        fs::create_directories(p);
        return p.string();
    }();
    return dir;
}

std::string FileFor(int records) { return Folder() + "/files_" + std::to_string(records) + ".d"; }

// Made in a child, so that filling the table does not count in this process's memory.
void EnsureFile(int records)
{
    if (fs::exists(FileFor(records)))
        return;
    const pid_t pid = fork();
    if (pid == 0) {
        TFlatTable t;
        benchdata::FillScannedFiles(t, records);
        t.SaveToFile(FileFor(records));
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

std::string ReadAll(const std::string &file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void BM_LoadAgainstCatAndMemcpy(benchmark::State &state)
{
    const int records = int(state.range(0));
    EnsureFile(records);
    const std::string file = FileFor(records);
    const double bytes = double(fs::file_size(file));
    const std::string cat = "cat '" + file + "' > /dev/null";
    if (std::system(cat.c_str()) != 0) // warm the page cache
        state.SkipWithError("cat");
    const std::string image = ReadAll(file);
    std::vector<char> copy(image.size());
    std::memcpy(copy.data(), image.data(), image.size()); // touch the target once
    std::vector<double> loads, overCat, overMemcpy, cats, memcpys;
    for (auto _ : state) {
        auto start = Clock::now();
        if (std::system(cat.c_str()) != 0)
            state.SkipWithError("cat");
        const double catS = Seconds(start);
        start = Clock::now();
        std::memcpy(copy.data(), image.data(), image.size());
        benchmark::DoNotOptimize(copy.data());
        const double memcpyS = Seconds(start);
        start = Clock::now();
        {
            TFlatTable t;
            t.OpenTable(file);
            benchmark::DoNotOptimize(t.RecordCount());
            const double loadS = Seconds(start);
            state.SetIterationTime(loadS);
            loads.push_back(loadS);
            overCat.push_back(loadS / catS);
            overMemcpy.push_back(loadS / memcpyS);
        }
        cats.push_back(catS);
        memcpys.push_back(memcpyS);
    }
    const double loadS = MedianOf(loads);
    state.counters["load_GBps"] = bytes / loadS / 1e9;
    state.counters["load_over_cat"] = MedianOf(overCat);
    state.counters["load_over_memcpy"] = MedianOf(overMemcpy);
    state.counters["load_ns_per_record"] = loadS * 1e9 / records;
    state.counters["cat_s"] = MedianOf(cats);
    state.counters["memcpy_s"] = MedianOf(memcpys);
    state.counters["fileMB"] = bytes / 1e6;
}


// Peak memory of one load in a freshly started process (exec'd, so nothing of this one
// counts), against the file's size.
void BM_LoadPeakMemory(benchmark::State &state)
{
    const int records = int(state.range(0));
    EnsureFile(records);
    const std::string file = FileFor(records);
    const double bytes = double(fs::file_size(file));
    for (auto _ : state) {
        long kb[2];
        if (!benchdata::FreshChildMemoryKb("ORB_PEAK_FD", {{"ORB_PEAK_FILE", file}}, kb))
            state.SkipWithError("child");
        state.SetIterationTime(0.001);
        state.counters["peak_over_file"] = double(kb[1] - kb[0]) * 1024.0 / bytes;
    }
    state.counters["fileMB"] = bytes / 1e6;
}

// Both sides replace an existing file of the same size, as saving a catalogue does:
// the save renames over the old table, the reference truncates and rewrites its file.
void BM_SaveAgainstWriteFsync(benchmark::State &state)
{
    const int records = int(state.range(0));
    EnsureFile(records);
    const std::string file = FileFor(records);
    const std::string image = ReadAll(file);
    TFlatTable t;
    t.OpenTable(file);
    const std::string target = Folder() + "/saved.d", plain = Folder() + "/plain.d";
    const auto writeFsync = [&] {
        const int fd = ::open(plain.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const bool ok = fd >= 0 && ::write(fd, image.data(), image.size()) == ssize_t(image.size()) && ::fsync(fd) == 0;
        if (fd >= 0)
            ::close(fd);
        return ok;
    };
    std::string error;
    if (!writeFsync() || !t.Cursor()->SaveToFile(target, 0, false, "", error))
        state.SkipWithError("first write");
    std::vector<double> saves, refs, ratios;
    for (auto _ : state) {
        auto start = Clock::now();
        if (!writeFsync())
            state.SkipWithError("write");
        const double refS = Seconds(start);
        start = Clock::now();
        if (!t.Cursor()->SaveToFile(target, 0, false, "", error))
            state.SkipWithError(error.c_str());
        const double saveS = Seconds(start);
        state.SetIterationTime(saveS);
        saves.push_back(saveS);
        refs.push_back(refS);
        ratios.push_back(saveS / refS);
    }
    state.counters["write_fsync_s"] = MedianOf(refs);
    state.counters["save_s"] = MedianOf(saves);
    state.counters["save_over_write_fsync"] = MedianOf(ratios);
    state.counters["save_ns_per_record"] = MedianOf(saves) * 1e9 / records;
}

} // namespace

BENCHMARK(BM_LoadAgainstCatAndMemcpy)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()->Iterations(7)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadPeakMemory)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveAgainstWriteFsync)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()->Iterations(7)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    // The child of BM_LoadPeakMemory: one load, then the memory before and at the peak.
    if (const char *fd = std::getenv("ORB_PEAK_FD"))
        return benchdata::ReportChildMemory(fd, [] {
            TFlatTable t;
            t.OpenTable(std::getenv("ORB_PEAK_FILE"));
        });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    if (!std::getenv("ORB_LS_BENCH_DIR"))
        fs::remove_all(Folder(), ec);
    return 0;
}
