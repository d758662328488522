// The disc scan on a generated tree of 200,000 entries (warm cache): the walk
// into the scan table alone, and the whole scan with the copy into a file
// table and its save; beside them `find` printing path, size and time of
// every entry of the same tree, as the yardstick. Peak memory is reported as
// the process's maximum resident size.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/CatalogTables.h"
#include "app/MainScan.h"
#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"

namespace fs = std::filesystem;

namespace {

// 20 top folders x 40 folders x 249 files + the folders = 200,020 entries.
constexpr int kTop = 20, kSub = 40, kFiles = 249;

const std::string &Tree()
{
    static const std::string root = [] {
        const char *base = std::getenv("ORB_SCAN_BENCH_DIR");
        std::string r = base ? base : (fs::temp_directory_path() / "orb_scan_bench_tree").string();
        const std::string marker = r + "/.complete";
        if (!fs::exists(marker)) {
            fs::remove_all(r);
            for (int t = 0; t < kTop; ++t)
                for (int s = 0; s < kSub; ++s) {
                    const std::string d = r + "/top" + std::to_string(t) + "/sub" + std::to_string(s);
                    fs::create_directories(d);
                    for (int f = 0; f < kFiles; ++f)
                        std::ofstream(d + "/file" + std::to_string(f) + (f % 10 == 0 ? ".exe" : ".txt"))
                            << std::string(size_t(f % 7), 'x');
                }
            std::ofstream(marker) << "ok";
        }
        return r;
    }();
    return root;
}

void PeakMemory(benchmark::State &state)
{
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    state.counters["peak_rss_MB"] = double(u.ru_maxrss) / 1024.0;
}

void BM_Find(benchmark::State &state)
{
    const std::string cmd = "find '" + Tree() + "' -printf '%p %s %T@\\n' > /dev/null";
    for (auto _ : state)
        if (std::system(cmd.c_str()) != 0)
            state.SkipWithError("find failed");
    state.counters["entries"] = kTop * kSub * (kFiles + 1) + kTop;
}

int Walk(TExMemoryData &scan)
{
    TDiskLister lister;
    TDiskReader reader(scan, lister);
    reader.DiscName = "e: [BENCH]";
    reader.DiscNumber = "1";
    reader.Read("e:\\", Tree());
    return reader.Records();
}

void BM_ScanWalk(benchmark::State &state)
{
    auto scan = MakeScanTable();
    scan->Open();
    int records = 0;
    for (auto _ : state) {
        scan->EmptyTable();
        records = Walk(*scan);
    }
    state.counters["records"] = records;
    PeakMemory(state);
}

void BM_ScanWalkAndSave(benchmark::State &state)
{
    const std::string file = (fs::temp_directory_path() / "orb_scan_bench.d").string();
    int records = 0;
    for (auto _ : state) {
        auto scan = MakeScanTable();
        scan->Open();
        records = Walk(*scan);
        TFlatTable files;
        AddFieldDefs(files, FileTableLayout());
        files.Open();
        scan->SaveToDataSet(files, 0);
        files.SaveToFile(file);
    }
    fs::remove(file);
    state.counters["records"] = records;
    PeakMemory(state);
}

} // namespace

BENCHMARK(BM_Find)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ScanWalk)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ScanWalkAndSave)->Unit(benchmark::kMillisecond)->Iterations(2);

BENCHMARK_MAIN();
