#include "app/CatalogTables.h"

#include <filesystem>
#include <system_error>

#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"

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

namespace {

// An empty table of `layout` written to `fileName`.
void CreateEmptyTable(const std::string &fileName, const std::vector<TFieldLayout> &layout)
{
    TFlatTable t;
    t.SetLoadMode(lmClear);
    AddFieldDefs(t, layout);
    t.Open();
    t.SaveToFile(fileName);
    t.Close();
}

std::unique_ptr<TFlatTable> OpenFile(const std::string &fileName, bool autoBackup)
{
    auto t = std::make_unique<TFlatTable>();
    t->SetTableName(fileName);
    if (autoBackup)
        t->SaveOptions |= savAutoBackup;
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
    return o;
}

TOpenTableOptions DiscTableOpenOptions(bool autoBackup)
{
    TOpenTableOptions o;
    o.autoBackup = autoBackup;
    o.requiredFields = {"CdPicture", "CType"};
    return o;
}

TOpenTableResult OpenCatalogTable(const std::string &fileName, const std::vector<TFieldLayout> &layout,
                                  const TOpenTableOptions &options)
{
    TOpenTableResult result;
    std::error_code ec;
    if (!std::filesystem::exists(fileName, ec)) {
        CreateEmptyTable(fileName, layout);
        result.created = true;
        result.table = OpenFile(fileName, options.autoBackup);
        return result;
    }
    result.table = OpenFile(fileName, options.autoBackup);
    if (HasFields(*result.table, options.requiredFields))
        return result;

    // An older layout: rewrite this very file in the current layout.
    if (options.beforeConversion)
        options.beforeConversion();
    result.table.reset();
    {
        // Read the old layout whole, then save the converted table over the same
        // file; the save replaces the file atomically, so a failure keeps the old one.
        TFlatTable old;
        old.SetTableName(fileName);
        old.Open();
        TFlatTable fresh;
        fresh.SetLoadMode(lmClear);
        AddFieldDefs(fresh, layout);
        fresh.Open();
        fresh.CopyFromDataSet(&old, 0);
        old.Close();
        fresh.SaveToFile(fileName);
        fresh.Close();
    }
    result.converted = true;
    result.table = OpenFile(fileName, options.autoBackup);
    if (options.afterConversion)
        options.afterConversion();
    return result;
}
