// Opening wide tables: a table of N Integer fields and one record, opened from its file
// (and, in the second benchmark, every field looked up by name), for N = 1x, 2x, 4x and
// 8x of 8,191 fields (8x is the most the format allows). The time must grow linearly
// with N: compare the "us_per_field" counters of the four sizes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "storage/FlatTbl.h"

namespace {

constexpr int Base = 8191;

void Put32(std::string &s, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s += char((v >> (8 * i)) & 0xFF);
}

std::string WideFile(int fields)
{
    const auto dir = std::filesystem::temp_directory_path() / ("flattbl_wide_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / ("wide" + std::to_string(fields) + ".d")).string();
    std::string desc;
    for (int i = 0; i < fields; ++i)
        desc += "XXX.Field" + std::to_string(i) + " i\x12";
    desc += '\x14';
    std::string img;
    Put32(img, 0);
    img += 'S';
    Put32(img, 1);
    Put32(img, uint32_t(fields));
    Put32(img, uint32_t(desc.size()));
    img += desc;
    std::string record(size_t(fields), '\0');
    record[size_t(fields - 1)] = 4;
    Put32(record, 7);
    img += record;
    std::ofstream(file, std::ios::binary) << img;
    return file;
}

// lookups false: open and close only; true: also every field by name.
void Run(benchmark::State &state, bool lookups)
{
    const int fields = std::min(int(state.range(0)) * Base, 65535);
    const std::string file = WideFile(fields);
    std::vector<std::string> names;
    for (int i = 0; i < fields && lookups; ++i)
        names.push_back("field" + std::to_string(i));
    double seconds = 0;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        TFlatTable t;
        t.SetTableName(file);
        t.Open();
        int64_t sum = 0;
        for (const std::string &n : names)
            sum += t.FieldByName(n).AsInteger();
        benchmark::DoNotOptimize(sum);
        t.Close();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }
    state.counters["fields"] = fields;
    state.counters["us_per_field"] = seconds * 1e6 / (double(fields) * double(state.iterations()));
    std::filesystem::remove(file);
}

void BM_OpenWideTable(benchmark::State &state) { Run(state, false); }
void BM_OpenWideTableAndFindEveryField(benchmark::State &state) { Run(state, true); }

} // namespace

BENCHMARK(BM_OpenWideTable)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenWideTableAndFindEveryField)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
