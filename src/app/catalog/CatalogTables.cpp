#include "app/catalog/CatalogTables.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "app/LangUnit.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "app/Texts3.h"
#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"
#include "util/BaseFileUtils.h"
#include "util/FileCommit.h"

#include <fcntl.h>
#include <unistd.h>

// Name and Path hold what Linux gives: names of up to 255 characters and paths as
// deep as real trees go. Values are stored by their length, so wide fields cost
// nothing in the file or in memory; tables of the older, narrower layout are opened
// as they are.
const std::vector<TFieldLayout> &FileTableLayout()
{
    static const std::vector<TFieldLayout> layout = {
        {"Path", ftString, 1024},     {"Name", ftString, 255},      {"Namecd", ftString, 50},
        {"Number", ftString, 8},      {"Size", ftString, 20},       {"Attrib", ftInteger, 0},
        {"Icon", ftBlob, 0},          {"CreateDate", ftString, 20}, {"LastChange", ftString, 20},
        {"Type", ftInteger, 0},       {"Note", ftString, 50},       {"FType", ftInteger, 0},
        {"LoadName", ftString, 30},   {"MusicOrder", ftInteger, 0}, {"CdIdCode", ftString, 20},
    };
    return layout;
}

const std::vector<TFieldLayout> &DiscTableLayout()
{
    static const std::vector<TFieldLayout> layout = {
        {"CdName", ftString, 50}, {"Number", ftString, 8},     {"CdNote", ftString, 50}, {"CdSize", ftString, 12},
        {"CdPicture", ftGraphic, 0}, {"CdIdCode", ftString, 20}, {"CType", ftInteger, 0},
    };
    return layout;
}

const std::vector<TFieldLayout> &ScanTableLayout()
{
    static const std::vector<TFieldLayout> layout = {
        {"Path", ftString, 1024},     {"Namecd", ftString, 50},     {"Number", ftString, 20},
        {"Size", ftString, 20},       {"Attrib", ftInteger, 0},     {"Icon", ftBlob, 0},
        {"CreateDate", ftString, 20}, {"LastChange", ftString, 20}, {"Type", ftInteger, 0},
        {"Name", ftString, 255},      {"Note", ftString, 50},       {"FType", ftInteger, 0},
        {"LoadName", ftString, 30},   {"MusicOrder", ftInteger, 0}, {"CdIdCode", ftString, 20},
    };
    return layout;
}

void AddFieldDefs(TDataSet &table, const std::vector<TFieldLayout> &layout)
{
    table.FieldDefs().Clear();
    for (const TFieldLayout &f : layout)
        table.FieldDefs().Add(f.name, f.type, f.size);
}

std::unique_ptr<TExMemoryData> MakeScanTable()
{
    auto t = std::make_unique<TExMemoryData>();
    t->Name = "ExMemoryData1";
    t->SetCapacity(250);
    for (const TFieldLayout &f : ScanTableLayout())
        t->CreateField(f.name, f.type, f.size);
    return t;
}

void CreateEmptyTable(const std::string &fileName, const std::vector<TFieldLayout> &layout, TFileCommit *commit)
{
    TFlatTable t;
    t.SetLoadMode(lmClear);
    AddFieldDefs(t, layout);
    t.Open();
    t.Commit = commit;
    t.SaveToFile(fileName);
    t.Close();
}

namespace {

// Tells the user what finishing a commit journal met.
void ShowCommitNotices(const std::vector<TCommitNotice> &notices)
{
    // A journal left alone is met again by every open of its folder: told once.
    static std::set<std::string> told;
    for (const TCommitNotice &n : notices) {
        if (!told.insert(std::to_string(int(n.kind)) + "\n" + n.journal + "\n" + n.detail).second)
            continue;
        const std::string &j = n.journal, &d = n.detail;
        const std::string blocked =
            Text3(" Until it is moved away, no change to the archives of that folder can be saved.",
                  " Kým sa neodstráni, žiadna zmena archívov v tom priečinku sa nedá uložiť.",
                  " Dokud se neodstraní, žádnou změnu archivů v té složce nelze uložit.");
        std::string text;
        switch (n.kind) {
        case TCommitNotice::TKind::PutAside:
            text = Text3("The change journal " + j + " did not read whole (damaged, cut short or empty). It was put "
                             "aside as " + d + "; nothing it names was changed.",
                         "Denník zmien " + j + " sa neprečítal celý (je poškodený, skrátený alebo prázdny). Bol "
                             "odložený ako " + d + "; nič, čo uvádza, sa nezmenilo.",
                         "Deník změn " + j + " se nepřečetl celý (je poškozený, zkrácený nebo prázdný). Byl odložen "
                             "jako " + d + "; nic, co uvádí, se nezměnilo.");
            break;
        case TCommitNotice::TKind::Foreign:
            text = Text3("The change journal " + j + " names a file that the program's own changes never touch: " +
                             d + ". It was not carried out: it and the files it names are left as they are.",
                         "Denník zmien " + j + " uvádza súbor, ktorý vlastné zmeny programu nikdy nemenia: " + d +
                             ". Nevykonal sa: on aj súbory, ktoré uvádza, zostávajú, ako sú.",
                         "Deník změn " + j + " uvádí soubor, který vlastní změny programu nikdy nemění: " + d +
                             ". Neprovedl se: on i soubory, které uvádí, zůstávají, jak jsou.") +
                   blocked;
            break;
        case TCommitNotice::TKind::NotAFile:
            text = Text3("Something that is not a file (a folder, a pipe or a link) has the name of the change "
                         "journal: " + j + ". It is left as it is.",
                         "Niečo, čo nie je súbor (priečinok, rúra alebo odkaz), má názov denníka zmien: " + j +
                             ". Zostáva, ako je.",
                         "Něco, co není soubor (složka, roura nebo odkaz), má název deníku změn: " + j +
                             ". Zůstává, jak je.") +
                   blocked;
            break;
        }
        Prompt::Current().Show(ToQString(text), ToQString(langunit::LangString(67)), PromptButtons::Ok,
                               PromptIcon::Warning);
    }
}

std::unique_ptr<TFlatTable> OpenFile(const std::string &fileName, bool autoBackup, bool tidy = true)
{
    auto t = std::make_unique<TFlatTable>();
    t->SetTableName(fileName);
    if (autoBackup)
        t->SaveOptions |= savAutoBackup;
    t->TidyOnOpen = tidy;
    t->Open();
    return t;
}

bool HasFields(const TFlatTable &t, const std::vector<std::string> &names)
{
    for (const std::string &n : names)
        if (!t.FindField(n))
            return false;
    return true;
}

} // namespace

TOpenTableOptions FileTableOpenOptions(bool autoBackup)
{
    TOpenTableOptions o;
    o.autoBackup = autoBackup;
    o.requiredFields = {"MusicOrder", "CdIdCode"};
    // Older catalogues have every field of today's but the last two.
    for (auto it = FileTableLayout().begin(); it != FileTableLayout().end() - 2; ++it)
        o.olderLayoutFields.push_back(it->name);
    return o;
}

TOpenTableOptions DiscTableOpenOptions(bool autoBackup)
{
    TOpenTableOptions o;
    o.autoBackup = autoBackup;
    o.requiredFields = {"CdPicture", "CType"};
    // The disc table of older catalogues: the disc's name, number, note and size.
    o.olderLayoutFields = {"CdName", "Number", "CdNote", "CdSize"};
    return o;
}

std::string CatalogLayoutProblem(const TFlatTable &t, const TOpenTableOptions &options)
{
    if (HasFields(t, options.olderLayoutFields))
        return {};
    // Say what the header reads as: a zeroed one gives no fields at all.
    std::string fields;
    const int count = t.FieldCount();
    for (int i = 0; i < count && i < 8; ++i)
        fields += (i ? ", " : ": ") + t.Fields(i).FieldName();
    if (count > 8)
        fields += ", ...";
    const std::string n = std::to_string(count);
    return Text3("its header does not describe a table of the archive (it reads as a table of " + n + " fields" +
                     fields + "): the header is damaged",
                 "jeho hlavička neopisuje tabuľku archívu (číta sa ako tabuľka s " + n + " poľami" + fields +
                     "): hlavička je poškodená",
                 "jeho hlavička nepopisuje tabulku archivu (čte se jako tabulka s " + n + " poli" + fields +
                     "): hlavička je poškozená");
}

std::string FreeNameBeside(const std::string &file, const std::string &suffix)
{
    std::error_code ec;
    for (int i = 1;; ++i) {
        const std::string name = file + suffix + (i == 1 ? std::string() : std::to_string(i));
        if (!std::filesystem::exists(std::filesystem::symlink_status(name, ec)))
            return name;
    }
}

namespace {

// Keeps `file` byte for byte under a new name beside it: a hard link (the
// conversion's rename then leaves the old bytes under the new name), or a
// flushed copy where the file system has no links. Raises on failure.
std::string KeepOriginal(const std::string &file)
{
    namespace fs = std::filesystem;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string kept = FreeNameBeside(file, ".old-layout");
        std::error_code ec;
        fs::create_hard_link(file, kept, ec);
        if (!ec)
            return kept;
        if (ec == std::errc::file_exists)
            continue;
        ec.clear();
        fs::copy_file(file, kept, fs::copy_options::none, ec);
        if (ec == std::errc::file_exists)
            continue;
        if (!ec) {
            const int fd = ::open(kept.c_str(), O_RDONLY | O_CLOEXEC);
            const bool flushed = fd >= 0 && ::fsync(fd) == 0;
            if (fd >= 0)
                ::close(fd);
            if (flushed)
                return kept;
            fs::remove(kept, ec);
        }
        throw EDatabaseError(Text3("Cannot keep the older table " + file + " as " + kept + " before converting it: ",
                                   "Staršiu tabuľku " + file + " sa nedá uschovať ako " + kept +
                                       " pred jej prevodom: ",
                                   "Starší tabulku " + file + " nelze uschovat jako " + kept + " před jejím převodem: ") +
                             (ec ? ec.message() : std::string("fsync")));
    }
    throw EDatabaseError(Text3("Cannot find a free name beside ", "Vedľa súboru nie je voľný názov: ",
                               "Vedle souboru není volný název: ") +
                         file);
}

} // namespace

TOpenTableResult OpenCatalogTable(const std::string &fileName, const std::vector<TFieldLayout> &layout,
                                  const TOpenTableOptions &options)
{
    TOpenTableResult result;
    // A change that a stop cut off between its files is finished before
    // anything is read, so the table is never seen half of a change.
    std::string unfinished;
    if (!FinishFileCommitsAndReport(fileName, unfinished))
        throw EDatabaseError(unfinished);
    std::error_code ec;
    if (!std::filesystem::exists(fileName, ec)) {
        CreateEmptyTable(fileName, layout);
        result.created = true;
        result.table = OpenFile(fileName, options.autoBackup);
        return result;
    }
    result.table = OpenFile(fileName, options.autoBackup, !options.deferConversion);
    const std::string problem = CatalogLayoutProblem(*result.table, options);
    if (!problem.empty()) {
        // Not a table of this kind at all: nothing is written, the caller tells the user.
        result.table.reset();
        throw EDatabaseError(fileName + ": " + problem);
    }
    result.needsConversion = !HasFields(*result.table, options.requiredFields);
    if (result.needsConversion && !options.deferConversion)
        FinishCatalogTable(fileName, layout, options, result);
    return result;
}

void FinishCatalogTable(const std::string &fileName, const std::vector<TFieldLayout> &layout,
                        const TOpenTableOptions &options, TOpenTableResult &result)
{
    if (options.deferConversion) {
        RemoveStaleTempFiles(fileName);
        RemoveStaleTempFiles(FlatBackupName(fileName));
    }
    if (!result.needsConversion)
        return;
    // An older layout: rewrite this very file in the current layout.
    if (options.beforeConversion)
        options.beforeConversion();
    {
        // The open table holds the old layout whole (OpenCatalogTable read it and
        // checked its kind): copy it, keep the file as it is beside it, then save
        // the converted table over it; the save replaces the file atomically, so
        // a failure keeps the old one.
        const std::unique_ptr<TFlatTable> old = std::move(result.table);
        TFlatTable fresh;
        fresh.SetLoadMode(lmClear);
        AddFieldDefs(fresh, layout);
        fresh.Open();
        fresh.CopyFromDataSet(old.get(), 0);
        old->Close();
        result.keptAs = KeepOriginal(fileName);
        try {
            fresh.SaveToFile(fileName);
        } catch (...) {
            std::error_code ignore;
            std::filesystem::remove(result.keptAs, ignore);
            result.keptAs.clear();
            throw;
        }
        fresh.Close();
    }
    result.needsConversion = false;
    result.converted = true;
    result.table = OpenFile(fileName, options.autoBackup);
    if (options.afterConversion)
        options.afterConversion();
}

bool CommitAndReport(TFileCommit &commit, std::string &error)
{
    const bool made = commit.Commit(error);
    ShowCommitNotices(commit.Notices());
    return made;
}

bool FinishFileCommitsAndReport(const std::string &file, std::string &error)
{
    std::vector<TCommitNotice> notices;
    const bool finished = FinishFileCommitsFor(file, error, &notices);
    ShowCommitNotices(notices);
    return finished;
}
