// Searching in the main window.
//
// BM_NameSearch: a name search ("*report*", case off) over one catalogue of
// 1,000,000 File records, from the click on the search button to the filled
// result list, measured against a plain loop over the same records that reads
// the Name field of each (counter "ratio", target at most 3). Arg 0: ASCII
// names; arg 1: Slovak names with accents.
//
// BM_FindAll: the search of all catalogues over 10 catalogue files of 100,000
// records each, opening them included, measured against loading the 10 files
// alone in interleaved pairs (counter "ratio": the median of the pairs' ratios,
// target at most 1.4).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/Main.h"
#include "app/catalog/CatalogTables.h"
#include "app/search/SearchListView.h"
#include "platform/Prompt.h"
#include "storage/FlatTbl.h"
#include "ui_MainForm.h"

#include "Measure.h"
#include "WidgetBenchMain.h"

namespace {

// `count` File records of the disc `disc`; every `every`-th name holds "Report".
// With `slovak`, the other names are Slovak words with their accents.
void FillCatalog(const std::string &folder, const std::string &name, const std::string &disc, int count, int every,
                 bool slovak = false)
{
    TFlatTable files, discs;
    AddFieldDefs(files, FileTableLayout());
    AddFieldDefs(discs, DiscTableLayout());
    files.Open();
    discs.Open();
    TField &path = files.FieldByName("Path"), &fname = files.FieldByName("Name"), &namecd = files.FieldByName("Namecd");
    TField &number = files.FieldByName("Number"), &size = files.FieldByName("Size"), &attrib = files.FieldByName("Attrib");
    TField &created = files.FieldByName("CreateDate"), &changed = files.FieldByName("LastChange");
    TField &type = files.FieldByName("Type"), &ftype = files.FieldByName("FType");
    files.DisableControls();
    for (int i = 0; i < count; ++i) {
        files.Append();
        path.SetAsString("e:\\folder" + std::to_string(i / 100) + "\\");
        std::string n = i % every == 0 ? "Quarterly Report "
                        : slovak       ? (i % 3 == 0 ? "Fotka z výletu na Štrbské pleso_" : "Účtovná závierka_")
                                       : (i % 3 == 0 ? "photo_" : "document_");
        n += std::to_string(i);
        n += i % 3 == 0 ? ".jpg" : ".txt";
        fname.SetAsString(n);
        namecd.SetAsString(disc);
        number.SetAsString("1");
        size.SetAsString(std::to_string(1000 + i * 37));
        attrib.SetAsInteger(0x20);
        created.SetAsString("12.05.2024 10:11:12");
        changed.SetAsString("14.06.2024 10:11:12");
        type.SetAsInteger(1);
        ftype.SetAsInteger(0);
        files.Post();
    }
    files.EnableControls();
    discs.Append();
    discs.FieldByName("CdName").SetAsString(disc);
    discs.FieldByName("CdSize").SetAsString("4000 mb");
    discs.Post();
    files.SaveToFile(folder + "/" + name + ".d");
    discs.SaveToFile(folder + "/CdNames/" + name + "_cdname.d");
}

std::string NewDataFolder(const std::string &tag, const std::string &catalog)
{
    const auto dir = std::filesystem::temp_directory_path() / ("search_bench_" + std::to_string(::getpid()) + tag);
    std::filesystem::create_directories(dir / "CdNames");
    FILE *ini = std::fopen((dir / "cat.ini").c_str(), "w");
    std::fputs(("[CatalogSettings]\nSetup1=0\nSetup16=0\nSetup20=1\nSetup_Text4=" + catalog + "\n").c_str(), ini);
    std::fclose(ini);
    return dir.string();
}

// A plain walk over the table's records that reads each record's name.
size_t ReadEveryName(TFlatTable &t)
{
    size_t bytes = 0;
    TField &name = t.FieldByName("Name");
    for (t.First(); !t.Eof(); t.Next())
        bytes += name.AsString().size();
    return bytes;
}

void BM_NameSearch(benchmark::State &state)
{
    constexpr int Records = 1000000;
    const bool slovak = state.range(0) != 0;
    const std::string data = NewDataFolder("_one", "Big");
    FillCatalog(data, "Big", "e: [BIG]", Records, 2000, slovak);
    ScriptedPrompt prompt;
    PromptScope scope(prompt);
    TMainForm form(nullptr, data);
    form.FormShow();
    form.ui->FindButton->click();
    form.ui->Edit1->setText(QStringLiteral("*report*"));
    double search = 0, loop = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        form.ui->FilterButton->click();
        search += Seconds(t0);
        state.PauseTiming();
        form.FlatTable1->SetFiltered(false);
        t0 = Clock::now();
        benchmark::DoNotOptimize(ReadEveryName(*form.FlatTable1));
        loop += Seconds(t0);
        state.ResumeTiming();
    }
    if (form.ui->SearchView->Count() != Records / 2000 || !prompt.Asked().empty())
        state.SkipWithError("wrong result");
    state.counters["search_ms"] = 1000 * search / static_cast<double>(state.iterations());
    state.counters["loop_ms"] = 1000 * loop / static_cast<double>(state.iterations());
    state.counters["ratio"] = search / loop;
    state.SetItemsProcessed(state.iterations() * Records);
    std::filesystem::remove_all(data);
}
// Arg 1: names with accents, which are upper-cased by the locale, not byte by byte.
BENCHMARK(BM_NameSearch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FindAll(benchmark::State &state)
{
    constexpr int Catalogs = 10, Records = 100000;
    const std::string data = NewDataFolder("_all", "Cat0");
    for (int c = 0; c < Catalogs; ++c)
        FillCatalog(data, "Cat" + std::to_string(c), "e: [DISC" + std::to_string(c) + "]", Records, 2000);
    ScriptedPrompt prompt;
    PromptScope scope(prompt);
    TMainForm form(nullptr, data);
    form.FormShow();
    form.ui->FindAllButton->click();
    form.ui->Edit1->setText(QStringLiteral("*report*"));
    std::vector<double> searches, loads, ratios;
    for (auto _ : state) {
        auto t0 = Clock::now();
        form.ui->FilterButton->click();
        const double search = Seconds(t0);
        state.PauseTiming();
        t0 = Clock::now();
        for (int c = 0; c < Catalogs; ++c) {
            TFlatTable t;
            t.SetTableName(data + "/Cat" + std::to_string(c) + ".d");
            t.Open();
            benchmark::DoNotOptimize(t.RecordCount());
        }
        const double load = Seconds(t0);
        searches.push_back(search);
        loads.push_back(load);
        ratios.push_back(search / load);
        state.ResumeTiming();
    }
    if (form.ui->SearchView->Count() != Catalogs * Records / 2000 || !prompt.Asked().empty())
        state.SkipWithError("wrong result");
    state.counters["search_ms"] = 1000 * MedianOf(searches);
    state.counters["load_ms"] = 1000 * MedianOf(loads);
    state.counters["ratio"] = MedianOf(ratios);
    state.counters["ns_per_record"] = 1e9 * MedianOf(searches) / (Catalogs * Records);
    state.SetItemsProcessed(state.iterations() * Catalogs * Records);
    std::filesystem::remove_all(data);
}
BENCHMARK(BM_FindAll)->Unit(benchmark::kMillisecond)->Iterations(7);

} // namespace

int main(int argc, char **argv)
{
    return RunWidgetBenchmarks(argc, argv);
}
