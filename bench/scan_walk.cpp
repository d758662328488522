// The disc scan on generated trees of 10,000, 100,000, 200,000 and 1,000,000
// entries (warm cache), against `find DIR -printf '%p %s %T@\n'` on the same
// tree measured in the same iteration. Two kinds of tree:
//   uniform:    folders of 249 files of a few bytes, all written in one go (their
//               times shared);
//   realistic:  about 25 entries a folder, names of 5-40 characters, 8% of them with
//               UTF-8 letters, random sizes (sparse files) and random times with
//               nanoseconds over ten years.
//   walk:       the walk into the scan table alone (target: <= 1.15x find);
//   scan+save:  the walk, the copy into a file table and its save (target: <= 1.4x);
//   memory:     peak resident memory of a whole scan with its save, in a freshly
//               started process, against the catalogue file it wrote (target: <= 2x).
// Counters give the cost per entry in nanoseconds, so growth with the size shows.
// The trees are kept under ORB_SCAN_BENCH_DIR (default: the temporary folder) for
// later runs; remove them when done.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <random>
#include <string>
#include <vector>

#include "app/catalog/CatalogTables.h"
#include "app/scan/MainScan.h"
#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"

#include "Measure.h"
#include "ProcessMemory.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 249;

// Top folders x sub-folders x 249 files, plus the folders.
struct TShape {
    int top, sub;
    int Entries() const { return top * sub * (kFiles + 1) + top; }
};

TShape ShapeFor(int entries)
{
    switch (entries) {
    case 10000: return {2, 20};
    case 100000: return {10, 40};
    case 200000: return {20, 40};
    default: return {50, 80};
    }
}

std::string Base()
{
    const char *base = std::getenv("ORB_SCAN_BENCH_DIR");
    return base ? base : fs::temp_directory_path().string();
}

const std::string &UniformTree(int entries)
{
    static std::map<int, std::string> roots;
    if (const auto it = roots.find(entries); it != roots.end())
        return it->second;
    const TShape shape = ShapeFor(entries);
    const std::string r = Base() + "/orb_scan_bench_tree_" + std::to_string(entries);
    const std::string marker = r + "/.complete";
    if (!fs::exists(marker)) {
        fs::remove_all(r);
        for (int t = 0; t < shape.top; ++t)
            for (int s = 0; s < shape.sub; ++s) {
                const std::string d = r + "/top" + std::to_string(t) + "/sub" + std::to_string(s);
                fs::create_directories(d);
                for (int f = 0; f < kFiles; ++f)
                    std::ofstream(d + "/file" + std::to_string(f) + (f % 10 == 0 ? ".exe" : ".txt"))
                        << std::string(size_t(f % 7), 'x');
            }
        std::ofstream(marker) << "ok";
    }
    return roots[entries] = r;
}

// A name of 5-40 characters; `utf8` puts Slovak and Czech letters in it.
std::string RandomName(std::mt19937_64 &rng, bool utf8, bool file)
{
    static const char *const letters[] = {"á", "č", "ď", "é", "ě", "í", "ľ", "ň", "ó", "ô", "ř", "š", "ť", "ú", "ů", "ý", "ž"};
    static const char plain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 _-";
    static const char *const extensions[] = {".txt", ".jpg", ".mp3", ".pdf", ".doc", ".exe", ".zip2", ".html", ".c", ".dll"};
    const size_t length = 5 + rng() % 36;
    std::string name;
    while (name.size() < length) {
        if (utf8 && rng() % 4 == 0)
            name += letters[rng() % std::size(letters)];
        else
            name += plain[rng() % (sizeof plain - 1)];
    }
    if (name.back() == ' ')
        name.back() = '_';
    if (file)
        name += extensions[rng() % std::size(extensions)];
    return name;
}

// Folders of 25 entries (every eighth entry a folder) until `entries` are made; each entry
// gets a random size and random access and change times.
const std::string &RealisticTree(int entries)
{
    static std::map<int, std::string> roots;
    if (const auto it = roots.find(entries); it != roots.end())
        return it->second;
    const std::string r = Base() + "/orb_scan_bench_real_" + std::to_string(entries);
    const std::string marker = r + "/.complete";
    if (!fs::exists(marker)) {
        fs::remove_all(r);
        fs::create_directories(r);
        std::mt19937_64 rng{uint64_t(entries)};
        const int64_t now = 1780000000; // 2026
        const auto stamp = [&](const std::string &path) {
            timespec times[2];
            for (timespec &t : times) {
                t.tv_sec = now - int64_t(rng() % (uint64_t(10) * 365 * 86400));
                t.tv_nsec = long(rng() % 1000000000);
            }
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        };
        std::vector<std::string> open{r}; // folders still to fill, breadth first
        std::vector<std::string> made;    // folders whose times are set once filled
        int count = 0;
        for (size_t next = 0; next < open.size() && count < entries; ++next) {
            const std::string folder = open[next];
            std::set<std::string> names;
            for (int k = 0; k < 25 && count < entries; ++k) {
                const bool folderEntry = k % 8 == 3;
                std::string name = RandomName(rng, rng() % 100 < 8, !folderEntry);
                if (!names.insert(name).second)
                    continue;
                const std::string path = folder + "/" + name;
                if (folderEntry) {
                    fs::create_directory(path);
                    open.push_back(path);
                    made.push_back(path);
                } else {
                    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                    if (fd >= 0) {
                        // Sizes from bytes to gigabytes, most of them small.
                        const int bits = int(rng() % 31);
                        if (::ftruncate(fd, off_t(rng() % (uint64_t(1) << bits))) != 0)
                            std::perror("ftruncate");
                        ::close(fd);
                    }
                    stamp(path);
                }
                ++count;
            }
        }
        for (auto it = made.rbegin(); it != made.rend(); ++it)
            stamp(*it);
        std::ofstream(marker) << "ok";
    }
    return roots[entries] = r;
}

// range(0) the entries, range(1) the tree: 0 uniform, 1 realistic.
const std::string &Tree(const benchmark::State &state)
{
    return state.range(1) ? RealisticTree(int(state.range(0))) : UniformTree(int(state.range(0)));
}

double Find(const std::string &tree)
{
    const std::string cmd = "find '" + tree + "' -printf '%p %s %T@\\n' > /dev/null";
    const auto start = Clock::now();
    if (std::system(cmd.c_str()) != 0)
        return -1;
    return Seconds(start);
}

int Walk(TExMemoryData &scan, const std::string &tree)
{
    TDiskLister lister;
    TDiskReader reader(scan, lister);
    reader.DiscName = "e: [BENCH]";
    reader.DiscNumber.assign(1, '1'); // not = "1": GCC 12 warns falsely (-Wrestrict) on it
    reader.Read("e:\\", tree);
    return reader.Records();
}

// The whole scan: walk, copy into the file table, save.
int ScanAndSave(const std::string &tree, const std::string &file)
{
    auto scan = MakeScanTable();
    scan->Open();
    const int records = Walk(*scan, tree);
    TFlatTable files;
    AddFieldDefs(files, FileTableLayout());
    files.Open();
    scan->MoveToDataSet(files);
    files.SaveToFile(file);
    return records;
}

void BM_ScanWalk(benchmark::State &state)
{
    const std::string &tree = Tree(state);
    Find(tree); // warm the cache
    auto scan = MakeScanTable();
    scan->Open();
    int records = 0;
    std::vector<double> walks, ratios, finds;
    for (auto _ : state) {
        const double findS = Find(tree);
        scan->EmptyTable();
        const auto start = Clock::now();
        records = Walk(*scan, tree);
        const double walkS = Seconds(start);
        state.SetIterationTime(walkS);
        walks.push_back(walkS);
        finds.push_back(findS);
        ratios.push_back(walkS / findS);
    }
    state.counters["records"] = records;
    state.counters["find_s"] = MedianOf(finds);
    state.counters["walk_s"] = MedianOf(walks);
    state.counters["walk_over_find"] = MedianOf(ratios);
    state.counters["walk_ns_per_entry"] = MedianOf(walks) * 1e9 / records;
}

void BM_ScanWalkAndSave(benchmark::State &state)
{
    const std::string &tree = Tree(state);
    const std::string file = Base() + "/orb_scan_bench_" + std::to_string(::getpid()) + ".d";
    Find(tree);
    int records = 0;
    std::vector<double> scans, ratios, finds;
    for (auto _ : state) {
        const double findS = Find(tree);
        const auto start = Clock::now();
        records = ScanAndSave(tree, file);
        const double scanS = Seconds(start);
        state.SetIterationTime(scanS);
        scans.push_back(scanS);
        finds.push_back(findS);
        ratios.push_back(scanS / findS);
    }
    state.counters["records"] = records;
    state.counters["find_s"] = MedianOf(finds);
    state.counters["scan_save_s"] = MedianOf(scans);
    state.counters["scan_save_over_find"] = MedianOf(ratios);
    state.counters["scan_save_ns_per_entry"] = MedianOf(scans) * 1e9 / records;
    std::error_code ec;
    fs::remove(file, ec);
}

// Peak memory of one scan with its save in a freshly started process (exec'd, so
// nothing of this one counts), against the size of the file it wrote.
void BM_ScanPeakMemory(benchmark::State &state)
{
    const std::string &tree = Tree(state);
    const std::string file = Base() + "/orb_scan_bench_peak_" + std::to_string(::getpid()) + ".d";
    for (auto _ : state) {
        long kb[2];
        if (!benchdata::FreshChildMemoryKb("ORB_SCAN_PEAK_FD",
                                           {{"ORB_SCAN_PEAK_TREE", tree}, {"ORB_SCAN_PEAK_FILE", file}}, kb))
            state.SkipWithError("child");
        state.SetIterationTime(0.001);
        std::error_code ec;
        const double bytes = double(fs::file_size(file, ec));
        state.counters["fileMB"] = bytes / 1e6;
        state.counters["peak_MB"] = double(kb[1] - kb[0]) * 1024.0 / 1e6;
        state.counters["peak_over_file"] = bytes > 0 ? double(kb[1] - kb[0]) * 1024.0 / bytes : 0;
        fs::remove(file, ec);
    }
}

void Sizes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"entries", "realistic"});
    for (int realistic : {1, 0})
        for (int n : {10000, 100000, 200000, 1000000})
            b->Args({n, realistic});
}

} // namespace

BENCHMARK(BM_ScanWalk)->Apply(Sizes)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanWalkAndSave)->Apply(Sizes)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanPeakMemory)->Apply(Sizes)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    // The child of BM_ScanPeakMemory: one scan with its save, then the memory before and at the peak.
    if (const char *fd = std::getenv("ORB_SCAN_PEAK_FD"))
        return benchdata::ReportChildMemory(
            fd, [] { ScanAndSave(std::getenv("ORB_SCAN_PEAK_TREE"), std::getenv("ORB_SCAN_PEAK_FILE")); });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
