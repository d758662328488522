// The scan's write path: scan-like records appended to the in-memory scan
// table, then copied (or moved) by field name into a file table. Reports records per
// second and the process's peak resident memory.
#include "app/catalog/CatalogTables.h"
#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

// ORB_BENCH_RECORDS overrides the count for a quick run.
const int kRecords = [] {
    const char *env = std::getenv("ORB_BENCH_RECORDS");
    const int n = env ? std::atoi(env) : 0;
    return n > 0 ? n : 1000000;
}();

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

// The scan table and the file table with the catalogue's own layouts.
void defineScanTable(TExMemoryData &t) {
    AddFieldDefs(t, ScanTableLayout());
    t.SetCapacity(250);
}

void defineFileTable(TFlatTable &t) { AddFieldDefs(t, FileTableLayout()); }

// One folder of a drive walk per 40 entries, as a scan appends them.
void appendScanRecords(TExMemoryData &t, int count) {
    TField &path = t.FieldByName("Path");
    TField &name = t.FieldByName("Name");
    TField &namecd = t.FieldByName("Namecd");
    TField &number = t.FieldByName("Number");
    TField &size = t.FieldByName("Size");
    TField &attrib = t.FieldByName("Attrib");
    TField &created = t.FieldByName("CreateDate");
    TField &changed = t.FieldByName("LastChange");
    TField &type = t.FieldByName("Type");
    TField &ftype = t.FieldByName("FType");
    TField &serial = t.FieldByName("CdIdCode");
    for (int i = 0; i < count; ++i) {
        t.Append();
        path.SetAsString("e:\\Photos\\2019\\Holiday " + std::to_string(i / 40) + "\\");
        name.SetAsString("IMG_" + std::to_string(100000 + i) + ".JPG");
        namecd.SetAsString("e: [PHOTOS_2019]");
        number.SetAsString("17");
        size.SetAsString(std::to_string(1000000 + (static_cast<long long>(i) * 7919) % 9000000));
        attrib.SetAsInteger(32);
        created.SetAsString("12.07.2019 14:03:22");
        changed.SetAsString("12.07.2019 14:03:22");
        type.SetAsInteger(1);
        ftype.SetAsInteger(0);
        serial.SetAsString("3735928559");
        t.Post();
    }
}

void BM_ScanAppend(benchmark::State &state) {
    for (auto _ : state) {
        TExMemoryData scan;
        defineScanTable(scan);
        scan.Open();
        appendScanRecords(scan, kRecords);
        benchmark::DoNotOptimize(scan.RecordCount());
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
    state.counters["peak_rss_MB"] = peakMegabytes();
}
BENCHMARK(BM_ScanAppend)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ScanCopyToFileTable(benchmark::State &state) {
    TExMemoryData scan;
    defineScanTable(scan);
    scan.Open();
    appendScanRecords(scan, kRecords);
    for (auto _ : state) {
        TFlatTable files;
        defineFileTable(files);
        files.Open();
        const int copied = scan.SaveToDataSet(files, 0);
        if (copied != kRecords || files.RecordCount() != kRecords) state.SkipWithError("copy incomplete");
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
    state.counters["peak_rss_MB"] = peakMegabytes();
}
BENCHMARK(BM_ScanCopyToFileTable)->Iterations(1)->Unit(benchmark::kMillisecond);

// The copy a scan's store makes: each record leaves the scan table once the file
// table holds it.
void BM_ScanMoveToFileTable(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        TExMemoryData scan;
        defineScanTable(scan);
        scan.Open();
        appendScanRecords(scan, kRecords);
        TFlatTable files;
        defineFileTable(files);
        files.Open();
        state.ResumeTiming();
        const int moved = scan.MoveToDataSet(files);
        if (moved != kRecords || files.RecordCount() != kRecords || scan.RecordCount() != 0)
            state.SkipWithError("move incomplete");
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
    state.counters["peak_rss_MB"] = peakMegabytes();
}
BENCHMARK(BM_ScanMoveToFileTable)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
