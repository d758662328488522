#pragma once
// A file table filled as a scan fills it, the same on every run: random
// folder and file names, discs of 20,000 files, random sizes and dates.
#include <cstdio>
#include <random>
#include <string>

#include "app/catalog/CatalogTables.h"
#include "storage/FlatTbl.h"

namespace benchdata {

inline std::string RandomText(std::mt19937 &rng, int minLen, int maxLen)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz_ABCDEFGHIJ0123456789";
    std::uniform_int_distribution<int> len(minLen, maxLen), ch(0, int(sizeof(letters)) - 2);
    std::string s(size_t(len(rng)), 'a');
    for (char &c : s)
        c = letters[ch(rng)];
    return s;
}

// Opens `t` with the file table's layout and appends `records` scanned files.
inline void FillScannedFiles(TFlatTable &t, int records)
{
    AddFieldDefs(t, FileTableLayout());
    t.Open();
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> size(0, 900000000), day(1, 28), hour(0, 23);
    TField &path = t.FieldByName("Path"), &name = t.FieldByName("Name"), &namecd = t.FieldByName("Namecd");
    TField &number = t.FieldByName("Number"), &fsize = t.FieldByName("Size"), &attrib = t.FieldByName("Attrib");
    TField &created = t.FieldByName("CreateDate"), &changed = t.FieldByName("LastChange");
    TField &type = t.FieldByName("Type"), &cdid = t.FieldByName("CdIdCode");
    t.DisableControls();
    for (int i = 0; i < records; ++i) {
        const int disc = i / 20000;
        t.Append();
        path.SetAsString("e:\\" + RandomText(rng, 17, 77) + "\\");
        name.SetAsString(RandomText(rng, 5, 40));
        namecd.SetAsString("e: [DISC" + std::to_string(disc) + "]");
        number.SetAsString(std::to_string(disc + 1));
        fsize.SetAsString(std::to_string(size(rng)));
        attrib.SetAsInteger(32);
        char date[32];
        std::snprintf(date, sizeof date, "2024-03-%02d %02d:15:42", day(rng), hour(rng));
        created.SetAsString(date);
        changed.SetAsString(date);
        type.SetAsInteger(1);
        cdid.SetAsString("3735928559");
        t.Post();
    }
    t.EnableControls();
}

} // namespace benchdata
