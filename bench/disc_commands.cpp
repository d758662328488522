// Delete and rename of a disc of 100,000 records in a catalogue of 1,000,000,
// each measured against loading and saving that catalogue once (the
// reference, measured in the same run). Reported counters: the reference and
// the command in seconds, and their ratio (target: at most 1.5).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>

#include <unistd.h>

#include "app/catalog/CatalogTables.h"
#include "app/catalog/TreeFile.h"
#include "app/discs/DiscCommands.h"
#include "storage/FlatTbl.h"

#include "Measure.h"

namespace {

namespace fs = std::filesystem;
constexpr int RecordCount = 1000000;
constexpr int DiscRecords = 100000;
constexpr int DiscCount = RecordCount / DiscRecords;
const std::string Victim = "e: [DISC5]"; // in the middle of the file

// The benchmark's catalogue folder (several hundred MB), removed when the
// program ends.
std::string Folder()
{
    struct TScratch {
        fs::path path = fs::temp_directory_path() / ("disc_bench_" + std::to_string(::getpid()));
        TScratch() { fs::create_directories(path / "CdNames"); }
        ~TScratch()
        {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    };
    static const TScratch dir;
    return dir.path.string();
}

std::string DiscName(int i)
{
    return "e: [DISC" + std::to_string(i) + "]";
}

// The catalogue as scans write it: each disc's records together.
void MakeCatalogue()
{
    static bool made = false;
    if (made)
        return;
    made = true;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> len(5, 40), ch(0, 25);
    auto text = [&] {
        std::string s(size_t(len(rng)), 'a');
        for (char &c : s)
            c = char('a' + ch(rng));
        return s;
    };
    TFlatTable files;
    AddFieldDefs(files, FileTableLayout());
    files.Open();
    TField &path = files.FieldByName("Path"), &name = files.FieldByName("Name"), &namecd = files.FieldByName("Namecd");
    TField &number = files.FieldByName("Number"), &size = files.FieldByName("Size"), &type = files.FieldByName("Type");
    TField &created = files.FieldByName("CreateDate"), &cdid = files.FieldByName("CdIdCode");
    files.DisableControls();
    for (int i = 0; i < RecordCount; ++i) {
        const int disc = i / DiscRecords;
        files.Append();
        path.SetAsString("e:\\" + text() + "\\" + text() + "\\");
        name.SetAsString(text() + ".txt");
        namecd.SetAsString(DiscName(disc));
        number.SetAsString(std::to_string(disc + 1));
        size.SetAsString(std::to_string(i * 37 % 900000));
        type.SetAsInteger(1);
        created.SetAsString("2024-03-05 10:15:42");
        cdid.SetAsString("3735928559");
        files.Post();
    }
    files.EnableControls();
    files.SaveToFile(Folder() + "/orig.d");
    TFlatTable discs;
    AddFieldDefs(discs, DiscTableLayout());
    discs.Open();
    std::vector<TTreeRecord> tree{{0, "All", 0, 1, NodeKindGroup}};
    for (int d = 0; d < DiscCount; ++d) {
        discs.Append();
        discs.FieldByName("CdName").SetAsString(DiscName(d));
        discs.FieldByName("Number").SetAsString(std::to_string(d + 1));
        discs.FieldByName("CdSize").SetAsString("650 mb");
        discs.Post();
        tree.push_back({1, DiscName(d), 0, 1, NodeKindDisc});
    }
    discs.SaveToFile(Folder() + "/CdNames/orig_cdname.d");
    WriteTreeFile(Folder() + "/CdNames/orig_cdname.dat", tree);
}

struct TOpenCatalogue {
    TFlatTable files, discs;
    TDiscCatalog Catalog() { return {&files, &discs, Folder() + "/CdNames/Cat_cdname.dat"}; }
};

// A fresh copy of the catalogue, opened.
void OpenFresh(TOpenCatalogue &c)
{
    const std::string d = Folder();
    fs::copy_file(d + "/orig.d", d + "/Cat.d", fs::copy_options::overwrite_existing);
    fs::copy_file(d + "/CdNames/orig_cdname.d", d + "/CdNames/Cat_cdname.d", fs::copy_options::overwrite_existing);
    fs::copy_file(d + "/CdNames/orig_cdname.dat", d + "/CdNames/Cat_cdname.dat", fs::copy_options::overwrite_existing);
    c.files.SetTableName(d + "/Cat.d");
    c.files.Open();
    c.discs.SetTableName(d + "/CdNames/Cat_cdname.d");
    c.discs.Open();
}

// One load and one save of the catalogue's file table.
double Reference()
{
    const std::string d = Folder();
    fs::copy_file(d + "/orig.d", d + "/Ref.d", fs::copy_options::overwrite_existing);
    const auto start = Clock::now();
    TFlatTable t;
    t.SetTableName(d + "/Ref.d");
    t.Open();
    t.SaveToFile(d + "/Ref.d");
    return Seconds(start);
}

template <typename Command>
void Measure(benchmark::State &state, Command command)
{
    MakeCatalogue();
    for (auto _ : state) {
        const double reference = Reference();
        TOpenCatalogue c;
        OpenFresh(c);
        const auto start = Clock::now();
        command(c);
        const double took = Seconds(start);
        state.SetIterationTime(took);
        state.counters["reference_s"] = reference;
        state.counters["command_s"] = took;
        state.counters["ratio"] = took / reference;
    }
}

void BM_DeleteDisc(benchmark::State &state)
{
    Measure(state, [](TOpenCatalogue &c) {
        DeleteDiscEverywhere(c.Catalog(), Victim);
        if (c.files.RecordCount() != RecordCount - DiscRecords)
            throw std::runtime_error("delete left the wrong records");
    });
}

void BM_RenameDisc(benchmark::State &state)
{
    Measure(state, [](TOpenCatalogue &c) {
        if (!RenameDiscEverywhere(c.Catalog(), Victim, "e: [RENAMED]"))
            throw std::runtime_error("rename found no disc");
    });
}

} // namespace

BENCHMARK(BM_DeleteDisc)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenameDisc)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
