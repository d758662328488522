// The file list builds its rows lazily from the folder's records: every row
// must read, look and sort exactly as when each was built up front.
#include <gtest/gtest.h>

#include <QIcon>
#include <QMimeData>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/browse/BrowseText.h"
#include "app/browse/FileListModel.h"
#include "app/catalog/CatalogTables.h"
#include "platform/ShellInfo.h"
#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "util/BaseFileUtils.h"

namespace {

struct TRec {
    TRec(std::string path, std::string name, int type, std::string size = "100", std::string date = "01.01.2024",
         int attrib = 0x20, int ftype = 0, std::string loadName = {})
        : Path(std::move(path)), Name(std::move(name)), Type(type), Size(std::move(size)), Date(std::move(date)),
          Attrib(attrib), FType(ftype), LoadName(std::move(loadName))
    {
    }
    std::string Path, Name;
    int Type;
    std::string Size, Date;
    int Attrib, FType;
    std::string LoadName;
};

void Append(TDataSet &t, const TRec &r)
{
    t.Append();
    t.FieldByName("Path").SetAsString(r.Path);
    t.FieldByName("Name").SetAsString(r.Name);
    t.FieldByName("Namecd").SetAsString("e: [DISC]");
    t.FieldByName("Number").SetAsString("7");
    t.FieldByName("Size").SetAsString(r.Size);
    t.FieldByName("Attrib").SetAsInteger(r.Attrib);
    t.FieldByName("CreateDate").SetAsString(r.Date);
    t.FieldByName("LastChange").SetAsString(r.Date);
    t.FieldByName("Type").SetAsInteger(r.Type);
    t.FieldByName("Note").SetAsString(r.Name == "b.txt" ? "a note" : "");
    t.FieldByName("FType").SetAsInteger(r.FType);
    t.FieldByName("LoadName").SetAsString(r.LoadName);
    t.Post();
}

// The row as it was built before rows became lazy: every field read through
// the data set, the shell asked for each row, then a stable sort of the rows.
TFileRow EagerRow(TDataSet &t)
{
    TFileRow row;
    row.Name = t.FieldByName("Name").AsString();
    row.Path = t.FieldByName("Path").AsString();
    row.Type = int(t.FieldByName("Type").AsLargeInt());
    row.FType = int(t.FieldByName("FType").AsLargeInt());
    row.Attrib = int(t.FieldByName("Attrib").AsLargeInt());
    const std::string loadName = t.FieldByName("LoadName").AsString();
    row.FullName = row.Path + (row.FType == 2 ? loadName : row.Name);
    row.SizeTech = t.FieldByName("Size").AsString();
    row.SizeText = FormatSize(SizeValue(row.SizeTech));
    row.CreateDate = t.FieldByName("CreateDate").AsString();
    row.LastChange = t.FieldByName("LastChange").AsString();
    row.Namecd = t.FieldByName("Namecd").AsString();
    row.Number = t.FieldByName("Number").AsString();
    row.LoadName = loadName.empty() ? "0" : loadName;
    row.MusicOrder = int(t.FieldByName("MusicOrder").AsLargeInt());
    const std::string id = t.FieldByName("CdIdCode").AsString();
    row.CdIdCode = id.empty() ? "0" : id;
    row.Note = t.FieldByName("Note").AsString();
    std::string key = PathExtractExtension(row.FullName);
    if (row.Type != 0)
        key = "*" + key;
    const uint32_t attributes = uint32_t(row.Attrib) | (row.IsFolder() ? kFileAttributeDirectory : 0u);
    ShellFileInfo info = ShellInfo::FileInfo(QString::fromStdString(LowerAZ(key)), attributes);
    row.Icon = info.icon;
    row.TypeName = info.typeName;
    return row;
}

std::vector<TFileRow> EagerRows(TDataSet &t)
{
    std::vector<TFileRow> rows;
    for (t.First(); !t.Eof(); t.Next())
        rows.push_back(EagerRow(t));
    SortFileRows(rows, !rows.empty() && rows.back().FType == 2);
    return rows;
}

// A folder that tests the order's ties and folding: names equal but for
// case, accented (Czech and Slovak) letters that must not fold, folders and
// files of one name, long names alike in their first sixteen bytes, and equal
// sizes and dates throughout.
std::vector<TRec> VariedFolder()
{
    const std::string p = "e:\\v1.0\\";
    return {
        {p, "readme.txt", 1},         {p, "Docs", 0},
        {p, "README.TXT", 1},         {p, "docs", 1},
        {p, "\xc4\x8d" "aj.doc", 1},  {p, "\xc5\xa0kola", 0},
        {p, "cesta.doc", 1},          {p, "\xc3\x81no.txt", 1},
        {p, "ReadMe.txt", 1},         {p, "zeta", 0},
        {p, "Zeta", 0},               {p, "_under.txt", 1},
        {p, "document_0000001_b.txt", 1}, {p, "Document_0000001_A.TXT", 1},
        {p, "document_0000001", 1},   {p, "document_0000001_a.txt", 1},
        {p, "DOCUMENT_0000001_", 1},  {p, "document_000000", 1},
        {p, "README", 1},             {p, ".hidden", 1},
        {p, "a.b.c", 1},              {p, "PHOTO.JPG", 1},
        {p, "photo.jpeg", 1},         {p, "dir.txt", 0},
        {p, "b.txt", 1, "0"},         {p, "sys.txt", 1, "100", "01.01.2024", 0x10},
        {p, "trailing.", 1},          {p, "x.EXE", 1},
    };
}

void ExpectSameRows(const TFileListModel &model, const std::vector<TFileRow> &eager)
{
    ASSERT_EQ(model.Count(), int(eager.size()));
    // What the list styles ask of rows not built yet: the name and the icon.
    for (int i = 0; i < model.Count(); ++i) {
        EXPECT_EQ(model.data(model.index(i, 0), Qt::DisplayRole).toString(), TFileListModel::ColumnText(eager[size_t(i)], 0));
        EXPECT_EQ(model.data(model.index(i, 0), Qt::DecorationRole).value<QIcon>().cacheKey(),
                  eager[size_t(i)].Icon.cacheKey()) << eager[size_t(i)].Name;
    }
    for (int i = 0; i < model.Count(); ++i) {
        const TFileRow &lazy = *model.Row(i);
        const TFileRow &want = eager[size_t(i)];
        SCOPED_TRACE(want.Name + " at " + std::to_string(i));
        EXPECT_EQ(lazy.Name, want.Name);
        for (int c = 0; c < TFileListModel::ColumnCount; ++c) {
            EXPECT_EQ(TFileListModel::ColumnText(lazy, c), TFileListModel::ColumnText(want, c)) << "column " << c;
            EXPECT_EQ(model.data(model.index(i, c), Qt::DisplayRole).toString(),
                      TFileListModel::ColumnText(want, c)) << "column " << c;
        }
        EXPECT_EQ(lazy.Note + lazy.Path, want.Note + want.Path);
        EXPECT_EQ(lazy.Icon.cacheKey(), want.Icon.cacheKey());
        EXPECT_EQ(model.data(model.index(i, 0), Qt::DecorationRole).value<QIcon>().cacheKey(), want.Icon.cacheKey());
    }
}

void Open(TDataSet &t)
{
    AddFieldDefs(t, FileTableLayout());
    t.Open();
}

// The varied folder in a flat table, its cursor on the first record.
void OpenVariedFolder(TFlatTable &t)
{
    Open(t);
    for (const TRec &r : VariedFolder())
        Append(t, r);
    t.First();
}

} // namespace

TEST(FileListRows, LazyRowsMatchTheEagerBuildInTextIconAndOrder)
{
    // Each record order once forwards and once backwards, on a flat table (read
    // straight from its records) and on a plain data set (read through fields).
    for (bool reversed : {false, true}) {
        std::vector<TRec> recs = VariedFolder();
        if (reversed)
            std::reverse(recs.begin(), recs.end());
        TFlatTable flat;
        TExMemoryData memory;
        Open(flat);
        Open(memory);
        for (TDataSet *t : {static_cast<TDataSet *>(&flat), static_cast<TDataSet *>(&memory)}) {
            SCOPED_TRACE(std::string(reversed ? "reversed " : "") + (t == &flat ? "flat" : "memory"));
            for (const TRec &r : recs)
                Append(*t, r);
            const std::vector<TFileRow> eager = EagerRows(*t);
            TFileListModel model;
            t->First();
            model.Fill(*t, ShellIconSize::Small);
            EXPECT_TRUE(t->Eof());
            ExpectSameRows(model, eager);
        }
    }
}

TEST(FileListRows, AudioTracksSortByLoadNameAndFillFromTheCurrentRecord)
{
    TFlatTable t;
    Open(t);
    Append(t, {"e:\\", "Intro", 0});
    Append(t, {"e:\\", "Zulu", 1, "1", "", 0x20, 2, "Track01.cda"});
    Append(t, {"e:\\", "alpha", 1, "1", "", 0x20, 2, "track03.cda"});
    Append(t, {"e:\\", "Mike", 1, "1", "", 0x20, 2, "Track02.cda"});
    Append(t, {"e:\\", "Nameless", 1, "1", "", 0x20, 2, ""});
    const std::vector<TFileRow> eager = EagerRows(t);
    TFileListModel model;
    t.First();
    model.Fill(t, ShellIconSize::Small);
    ExpectSameRows(model, eager);
    EXPECT_EQ(model.Row(1)->Name, "Nameless"); // an empty load name reads "0"
    EXPECT_EQ(model.Row(2)->FullName, "e:\\Track01.cda");

    // The rows are the records from the current one on.
    t.First();
    t.Next();
    t.Next();
    model.Fill(t, ShellIconSize::Small);
    ASSERT_EQ(model.Count(), 3);
    EXPECT_EQ(model.Row(0)->Name, "Nameless");
}

TEST(FileListRows, TypeNamesAreTheShellsForEachKindOfName)
{
    TFlatTable t;
    OpenVariedFolder(t);
    TFileListModel model;
    model.Fill(t, ShellIconSize::Large);
    const auto typeOf = [&](const std::string &name) {
        for (const TFileRow &row : model.Rows())
            if (row.Name == name)
                return row.TypeName;
        return QStringLiteral("<missing>");
    };
    const auto shell = [](const char *key, uint32_t attributes = 0x20) { return ShellInfo::TypeName(QString::fromLatin1(key), attributes); };
    // No extension, though a dot stands in the folder's path.
    EXPECT_EQ(typeOf("README"), shell("*"));
    EXPECT_EQ(typeOf("trailing."), shell("*"));
    EXPECT_EQ(typeOf(".hidden"), shell("*.hid"));
    EXPECT_EQ(typeOf("a.b.c"), shell("*.c"));
    EXPECT_EQ(typeOf("PHOTO.JPG"), typeOf("photo.jpeg"));
    EXPECT_EQ(typeOf("PHOTO.JPG"), shell("*.jpg"));
    EXPECT_EQ(typeOf("readme.txt"), typeOf("README.TXT"));
    // A folder named like a file, and a file carrying the directory attribute,
    // are answered as folders; the cache must not hand the file's answer over.
    EXPECT_EQ(typeOf("dir.txt"), shell("*.txt", kFileAttributeDirectory));
    EXPECT_EQ(typeOf("sys.txt"), shell("*.txt", kFileAttributeDirectory));
    EXPECT_NE(typeOf("dir.txt"), typeOf("readme.txt"));
    EXPECT_EQ(typeOf("x.EXE"), shell("*.exe"));
    // Large icons were asked for.
    EXPECT_EQ(model.Row(0)->Icon.cacheKey(), ShellInfo::FileIcon(QStringLiteral("*"), kFileAttributeDirectory,
                                                       ShellIconSize::Large).cacheKey());
}

TEST(FileListRows, RowsKeepTheirAddressAndABadTableChangesNothing)
{
    TFlatTable t;
    OpenVariedFolder(t);
    TFileListModel model;
    model.Fill(t, ShellIconSize::Small);
    const TFileRow *first = model.Row(3);
    for (const TFileRow &row : model.Rows())
        EXPECT_FALSE(row.Name.empty());
    EXPECT_EQ(model.Row(3), first);
    EXPECT_EQ(model.Row(model.Count()), nullptr);
    EXPECT_EQ(model.Row(-1), nullptr);
    EXPECT_THROW(model.Rows()[size_t(model.Count())], std::out_of_range);
    // Dragged rows carry their full names, one a line, once however many cells.
    std::unique_ptr<QMimeData> mime(model.mimeData({model.index(0, 0), model.index(0, 3), model.index(2, 0)}));
    EXPECT_EQ(mime->text().toStdString(), model.Row(0)->FullName + "\n" + model.Row(2)->FullName);

    // A table without the list's fields raises before the rows change.
    TFlatTable other;
    AddFieldDefs(other, DiscTableLayout());
    other.Open();
    const int count = model.Count();
    EXPECT_ANY_THROW(model.Fill(other, ShellIconSize::Small));
    EXPECT_EQ(model.Count(), count);
    EXPECT_EQ(model.Row(3), first);

    model.Clear();
    EXPECT_TRUE(model.Rows().empty());
}

TEST(FileListRows, RowsOfRecordsReadInPlaceOutliveTheirTables)
{
    // The work table as a disc's click builds it: records taken as they lie in
    // the catalogue file's image, one of them then edited (so copied), a name
    // stored in the single-byte code page among them.
    orbtest::TempDir dir;
    const std::string file = dir.file("Cat.d");
    {
        TFlatTable t;
        OpenVariedFolder(t);
        Append(t, {"e:\\v1.0\\", "\x9Akola.txt", 1});
        t.SaveToFile(file);
    }
    TFileListModel model;
    std::vector<TFileRow> eager;
    {
        TFlatTable catalog;
        catalog.SetTableName(file);
        catalog.Open();
        TFlatTable work;
        Open(work);
        work.DisableControls();
        work.CopyFromDataSet(&catalog, 0);
        work.EnableControls();
        ASSERT_TRUE(work.Cursor()->Entry(0)->Data.IsStored());
        work.First();
        work.Next();
        work.Edit();
        work.FieldByName("Note").SetAsString("edited");
        work.Post();
        eager = EagerRows(work);
        work.First();
        model.Fill(work, ShellIconSize::Small);
        // Changed, emptied and closed after the fill: the rows stay as they were.
        work.First();
        work.Edit();
        work.FieldByName("Name").SetAsString("changed");
        work.Post();
        work.Close();
        catalog.Close();
    }
    ExpectSameRows(model, eager);
    const auto named = [&](const std::string &name) {
        return std::count_if(model.Rows().begin(), model.Rows().end(), [&](const TFileRow &r) { return r.Name == name; });
    };
    EXPECT_EQ(named("\xc5\xa1kola.txt"), 1);
    EXPECT_EQ(named("changed"), 0);
    EXPECT_EQ(std::count_if(model.Rows().begin(), model.Rows().end(), [](const TFileRow &r) { return r.Note == "edited"; }),
              1);
}

TEST(FileListRows, ALargeFolderSortsAsTheRowsWould)
{
    // Enough names to be spread by their bytes before they are compared: shared
    // and case-folded prefixes, names alike in their first sixteen bytes,
    // accented letters, equal names, and folders among the files.
    const std::vector<std::string> prefixes = {"document_", "Document_", "DOCUMENT_0000001_", "photo", "\xc4\x8d" "aj",
                                               "\xc3\x81no", "", "Zeta."};
    TFlatTable t;
    Open(t);
    std::vector<TFileRow> expected;
    for (int i = 0; i < 1500; ++i) {
        TFileRow row;
        row.Name = prefixes[size_t(i) % prefixes.size()] + std::to_string((i * 37) % 400) + (i % 3 ? ".txt" : "");
        row.Path = "e:\\" + std::to_string(i) + "\\";
        row.Type = i % 5 == 0 ? 0 : 1;
        Append(t, {row.Path, row.Name, row.Type});
        expected.push_back(std::move(row));
    }
    SortFileRows(expected, false);
    TFileListModel model;
    t.First();
    model.Fill(t, ShellIconSize::Small);
    ASSERT_EQ(model.Count(), int(expected.size()));
    for (int i = 0; i < model.Count(); ++i)
        ASSERT_EQ(model.Row(i)->Path, expected[size_t(i)].Path) << i << " " << expected[size_t(i)].Name;
}
