// Selecting a disc of 100,000 File records in the main window: the tree click
// builds the work table (the disc's records copied out of a file table that
// also holds another disc of the same size) and fills the file list with the
// disc's root folder. Arg: how many records the root folder holds (100 for a
// disc spread over folders, 100,000 for one flat folder). Measured against a
// plain copy of the same records between two vectors.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/Main.h"
#include "app/browse/FileListView.h"
#include "app/catalog/CatalogTables.h"
#include "platform/Prompt.h"
#include "storage/FlatTbl.h"
#include "ui_MainForm.h"

#include "Measure.h"
#include "ProcessMemory.h"
#include "WidgetBenchMain.h"

namespace {

constexpr int DiscRecords = 100000;

struct TPlainRecord {
    std::string Path, Name, Namecd, Number, Size;
    int Attrib;
    std::string Icon, CreateDate, LastChange;
    int Type;
    std::string Note;
    int FType;
    std::string LoadName;
    int MusicOrder;
    std::string CdIdCode;
};

// The records of one disc: `rootCount` entries in its root, the rest in
// folders of 100 files.
std::vector<TPlainRecord> DiscRecordsOf(const std::string &disc, int rootCount, int records = DiscRecords)
{
    std::vector<TPlainRecord> out;
    out.reserve(size_t(records));
    for (int i = 0; i < records; ++i) {
        const bool inRoot = i < rootCount;
        std::string path("e:\\");
        if (!inRoot) {
            path += "folder";
            path += std::to_string((i - rootCount) / 100);
            path += '\\';
        }
        std::string name(i % 7 == 0 ? "Photo_" : "document_");
        name += std::to_string(i);
        name += i % 3 == 0 ? ".jpg" : ".txt";
        out.push_back(TPlainRecord{std::move(path), std::move(name), disc, std::string("1"),
                                   std::to_string(1000 + i * 37), 0x20, std::string(), std::string("12.05.2024"),
                                   std::string("14.06.2024"), 1, std::string(), 0, std::string(), 0,
                                   std::string()});
    }
    return out;
}

void Append(TFlatTable &t, const TPlainRecord &r)
{
    t.Append();
    t.FieldByName("Path").SetAsString(r.Path);
    t.FieldByName("Name").SetAsString(r.Name);
    t.FieldByName("Namecd").SetAsString(r.Namecd);
    t.FieldByName("Number").SetAsString(r.Number);
    t.FieldByName("Size").SetAsString(r.Size);
    t.FieldByName("Attrib").SetAsInteger(r.Attrib);
    t.FieldByName("CreateDate").SetAsString(r.CreateDate);
    t.FieldByName("LastChange").SetAsString(r.LastChange);
    t.FieldByName("Type").SetAsInteger(r.Type);
    t.FieldByName("FType").SetAsInteger(r.FType);
    t.Post();
}

// A data folder holding a catalogue of two such discs, made once per root size
// (`records` each; the first disc's records, when `bothDiscs` is false, are left out).
std::string MakeCatalog(int rootCount, int records = DiscRecords, bool bothDiscs = true)
{
    const auto dir = std::filesystem::temp_directory_path() /
                     ("browse_bench_" + std::to_string(::getpid()) + "_" + std::to_string(rootCount) + "_" +
                      std::to_string(records));
    std::filesystem::create_directories(dir / "CdNames");
    TFlatTable files, discs;
    AddFieldDefs(files, FileTableLayout());
    AddFieldDefs(discs, DiscTableLayout());
    files.Open();
    discs.Open();
    for (const char *disc : {"e: [OTHER]", "e: [BENCH]"}) {
        if (bothDiscs || std::string(disc) == "e: [BENCH]") {
            for (const TPlainRecord &r : DiscRecordsOf(disc, rootCount, records))
                Append(files, r);
        }
        discs.Append();
        discs.FieldByName("CdName").SetAsString(disc);
        discs.FieldByName("CdSize").SetAsString("4000 mb");
        discs.Post();
    }
    files.SaveToFile((dir / "Bench.d").string());
    discs.SaveToFile((dir / "CdNames" / "Bench_cdname.d").string());
    FILE *ini = std::fopen((dir / "cat.ini").c_str(), "w");
    std::fputs("[CatalogSettings]\nSetup1=0\nSetup10=0\nSetup20=1\nSetup_Text4=Bench\n", ini);
    std::fclose(ini);
    return dir.string();
}

// Shows the window and opens the bench disc; false (and the catalogue gone)
// when its tree node is missing.
bool OpenBenchDisc(benchmark::State &state, TMainForm &form, const std::string &data)
{
    form.FormShow();
    if (form.SelectTreeNodeByText("e: [BENCH]") >= 0) {
        form.TreeView1Click();
        return true;
    }
    state.SkipWithError("no disc node");
    std::filesystem::remove_all(data);
    return false;
}

// The timed loop of both disc benchmarks: a click on the bench disc's tree node.
void ClickBenchDisc(benchmark::State &state, TMainForm &form)
{
    for (auto _ : state) {
        // Another disc was open: the tree click rebuilds the work table.
        form.Browse.LoadedDisc.clear();
        if (form.SelectTreeNodeByText("e: [BENCH]") < 0) {
            state.SkipWithError("no disc node");
            return;
        }
        form.TreeView1Click();
        benchmark::DoNotOptimize(form.ui->LinksListView->Count());
    }
}

void BM_SelectDisc(benchmark::State &state)
{
    const int rootCount = static_cast<int>(state.range(0));
    const std::string data = MakeCatalog(rootCount);
    ScriptedPrompt prompt;
    PromptScope scope(prompt);
    TMainForm form(nullptr, data);
    form.FormShow();
    ClickBenchDisc(state, form);
    if (form.Browse.FileCountText != std::to_string(DiscRecords) || form.ui->LinksListView->Count() != rootCount)
        state.SkipWithError("wrong work table or list");
    state.SetItemsProcessed(state.iterations() * DiscRecords);
    std::filesystem::remove_all(data);
}
BENCHMARK(BM_SelectDisc)->Arg(100)->Arg(DiscRecords)->Unit(benchmark::kMillisecond);

// The part of the selection that only filters the file table (200,000
// records) down to the disc, without copying.
void BM_FilterFileTableToTheDisc(benchmark::State &state)
{
    const std::string data = MakeCatalog(100);
    ScriptedPrompt prompt;
    PromptScope scope(prompt);
    TMainForm form(nullptr, data);
    form.FormShow();
    form.Browse.CurrentDisc = "e: [BENCH]";
    for (auto _ : state) {
        form.FlatTable1->SetFiltered(true);
        benchmark::DoNotOptimize(form.FlatTable1->RecordCount());
    }
    if (form.FlatTable1->RecordCount() != DiscRecords)
        state.SkipWithError("wrong filter");
    state.SetItemsProcessed(state.iterations() * 2 * DiscRecords);
    std::filesystem::remove_all(data);
}
BENCHMARK(BM_FilterFileTableToTheDisc)->Unit(benchmark::kMillisecond);

void BM_PlainCopyOfTheRecords(benchmark::State &state)
{
    const std::vector<TPlainRecord> source = DiscRecordsOf("e: [BENCH]", 100);
    for (auto _ : state) {
        std::vector<TPlainRecord> copy = source;
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetItemsProcessed(state.iterations() * DiscRecords);
}
BENCHMARK(BM_PlainCopyOfTheRecords)->Unit(benchmark::kMillisecond);

// Opening a folder of 100 entries on an open disc of Arg records (folders of
// 100, in a catalogue holding that disc alone): the work table's folder view is
// rebuilt and the file list filled. Items are the disc's records, so the rate
// gives the cost per record of the disc; the time should not grow with it.
void BM_OpenFolder(benchmark::State &state)
{
    const int records = static_cast<int>(state.range(0));
    const std::string data = MakeCatalog(0, records, false);
    ScriptedPrompt prompt;
    PromptScope scope(prompt);
    TMainForm form(nullptr, data);
    if (!OpenBenchDisc(state, form, data))
        return;
    int folder = 0;
    for (auto _ : state) {
        form.Browse.CurrentPath = "e:\\folder" + std::to_string(folder) + "\\";
        folder = (folder + 1) % (records / 100);
        form.LoadList();
        benchmark::DoNotOptimize(form.ui->LinksListView->Count());
    }
    if (form.ui->LinksListView->Count() != 100)
        state.SkipWithError("wrong folder list");
    state.SetItemsProcessed(state.iterations() * records);
    std::filesystem::remove_all(data);
}
BENCHMARK(BM_OpenFolder)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// Listing the root folder of an open disc whose Arg records all lie there: the
// work table's folder view is rebuilt and every entry goes into the file list.
// Cost per entry at 10k, 100k and 1M.
void ListFlatFolder(benchmark::State &state, bool againstPlainCopy);

void BM_ListFlatFolder(benchmark::State &state)
{
    ListFlatFolder(state, false);
}
BENCHMARK(BM_ListFlatFolder)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Clicking a disc of Arg records (folders of 100) next to another of the same
// size: cost per record of the disc at 10k, 100k and 1M.
void BM_SelectDiscBySize(benchmark::State &state)
{
    const int records = static_cast<int>(state.range(0));
    const std::string data = MakeCatalog(100, records);
    ScriptedPrompt prompt;
    PromptScope scope(prompt);
    TMainForm form(nullptr, data);
    form.FormShow();
    ClickBenchDisc(state, form);
    if (form.Browse.FileCountText != std::to_string(records))
        state.SkipWithError("wrong work table");
    state.SetItemsProcessed(state.iterations() * records);
    std::filesystem::remove_all(data);
}
BENCHMARK(BM_SelectDiscBySize)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Interleaved pairs against a plain copy of the same records (a vector of structs
// copied), the median of their ratios: the click on a disc of 100,000 records in folders
// of 100 (target <= 1.3), and the listing of one folder of Arg entries (target: linear,
// <= 1.5x the copy), with the cost per entry.
template <class Work>
double Elapsed(Work &&work)
{
    const auto from = Clock::now();
    work();
    return Seconds(from);
}

template <class Work>
void AgainstPlainCopy(benchmark::State &state, const std::vector<TPlainRecord> &source, Work &&work)
{
    std::vector<double> ratios, works, copies;
    for (auto _ : state) {
        const double copyS = Elapsed([&] {
            std::vector<TPlainRecord> copy = source;
            benchmark::DoNotOptimize(copy.data());
        });
        const double workS = Elapsed(work);
        state.SetIterationTime(workS);
        works.push_back(workS);
        copies.push_back(copyS);
        ratios.push_back(workS / copyS);
    }
    state.counters["ms"] = MedianOf(works) * 1e3;
    state.counters["copy_ms"] = MedianOf(copies) * 1e3;
    state.counters["ratio"] = MedianOf(ratios);
    state.counters["ns_per_record"] = MedianOf(works) * 1e9 / double(source.size());
}

void BM_ClickDiscOverPlainCopy(benchmark::State &state)
{
    const std::string data = MakeCatalog(100);
    ScriptedPrompt prompt;
    PromptScope scope(prompt);
    TMainForm form(nullptr, data);
    form.FormShow();
    AgainstPlainCopy(state, DiscRecordsOf("e: [BENCH]", 100), [&] {
        form.Browse.LoadedDisc.clear();
        if (form.SelectTreeNodeByText("e: [BENCH]") >= 0)
            form.TreeView1Click();
    });
    if (form.Browse.FileCountText != std::to_string(DiscRecords))
        state.SkipWithError("wrong work table");
    std::filesystem::remove_all(data);
}
BENCHMARK(BM_ClickDiscOverPlainCopy)->UseManualTime()->Iterations(7)->Unit(benchmark::kMillisecond);

// Both ways of measuring the listing: on its own, or against a plain copy of
// the disc's records in interleaved pairs.
void ListFlatFolder(benchmark::State &state, bool againstPlainCopy)
{
    const int records = static_cast<int>(state.range(0));
    const std::string data = MakeCatalog(records, records, false);
    ScriptedPrompt prompt;
    PromptScope scope(prompt);
    TMainForm form(nullptr, data);
    if (!OpenBenchDisc(state, form, data))
        return;
    const auto list = [&] {
        form.Browse.CurrentPath = "e:\\";
        form.LoadList();
    };
    if (againstPlainCopy) {
        AgainstPlainCopy(state, DiscRecordsOf("e: [BENCH]", records, records), list);
    } else {
        for (auto _ : state) {
            list();
            benchmark::DoNotOptimize(form.ui->LinksListView->Count());
        }
        state.SetItemsProcessed(state.iterations() * records);
    }
    if (form.ui->LinksListView->Count() != records)
        state.SkipWithError("wrong folder list");
    std::filesystem::remove_all(data);
}

void BM_ListFlatFolderOverPlainCopy(benchmark::State &state)
{
    ListFlatFolder(state, true);
}
BENCHMARK(BM_ListFlatFolderOverPlainCopy)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// From the start of the main window to its showing with the catalogue open (its first
// disc's records in the work table and the list filled), for a catalogue of 1,000,000
// records against the same with 10,000, started in turn (target: <= 0.25 s). Counters:
// the median of each and their ratio.
void BM_StartToShownWindow(benchmark::State &state)
{
    const std::string large = MakeCatalog(100, 500000), small = MakeCatalog(100, 5000);
    ScriptedPrompt prompt;
    PromptScope scope(prompt);
    const auto start = [](const std::string &data) {
        const auto from = Clock::now();
        TMainForm form(nullptr, data);
        form.FormShow();
        form.show();
        QApplication::processEvents();
        const double s = Seconds(from);
        benchmark::DoNotOptimize(form.ui->LinksListView->Count());
        return s;
    };
    std::vector<double> larges, smalls, ratios;
    for (auto _ : state) {
        const double s = start(small), l = start(large);
        state.SetIterationTime(l);
        smalls.push_back(s);
        larges.push_back(l);
        ratios.push_back(l / s);
    }
    state.counters["start_1M_s"] = MedianOf(larges);
    state.counters["start_10k_s"] = MedianOf(smalls);
    state.counters["ratio_1M_over_10k"] = MedianOf(ratios);
    std::filesystem::remove_all(large);
    std::filesystem::remove_all(small);
}
BENCHMARK(BM_StartToShownWindow)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// The memory of the running program once its window shows a catalogue of 1,000,000
// records (two discs of 500,000, the first opened), each start in a fresh process, against
// the size of the catalogue's file table (target: <= 1.5x), and the same program with a
// catalogue of 200 records (the program's own memory). Counters in MB and ratios.
void BM_RunningProgramMemory(benchmark::State &state)
{
    const std::string large = MakeCatalog(100, 500000), small = MakeCatalog(100, 100);
    const double fileBytes = double(std::filesystem::file_size(large + "/Bench.d"));
    for (auto _ : state) {
        long big[2], alone[2];
        if (!benchdata::FreshChildMemoryKb("ORB_RUN_FD", {{"ORB_RUN_DATA", large}}, big) ||
            !benchdata::FreshChildMemoryKb("ORB_RUN_FD", {{"ORB_RUN_DATA", small}}, alone))
            state.SkipWithError("child");
        state.SetIterationTime(0.001);
        state.counters["running_MB"] = double(big[0]) / 1024;
        state.counters["running_over_file"] = double(big[0]) * 1024 / fileBytes;
        state.counters["peak_over_file"] = double(big[1]) * 1024 / fileBytes;
        state.counters["program_alone_MB"] = double(alone[0]) / 1024;
        state.counters["catalogue_over_file"] = double(big[0] - alone[0]) * 1024 / fileBytes;
    }
    state.counters["file_MB"] = fileBytes / 1e6;
    std::filesystem::remove_all(large);
    std::filesystem::remove_all(small);
}
BENCHMARK(BM_RunningProgramMemory)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    // The child of BM_RunningProgramMemory: the window started on the catalogue and shown.
    if (const char *fd = std::getenv("ORB_RUN_FD")) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        ScriptedPrompt prompt;
        PromptScope scope(prompt);
        std::unique_ptr<TMainForm> form;
        return benchdata::ReportChildMemory(
            fd,
            [&] {
                form = std::make_unique<TMainForm>(nullptr, std::getenv("ORB_RUN_DATA"));
                form->FormShow();
                form->show();
                QApplication::processEvents();
            },
            true);
    }
    return RunWidgetBenchmarks(argc, argv);
}
