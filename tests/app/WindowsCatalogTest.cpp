// A catalogue written on Windows (its texts in Windows-1250), its table files made here byte by byte,
// used through the main window's commands; after each command the tables are read back from disk.
#include <QBuffer>
#include <QButtonGroup>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>

#include <variant>

#include "app/discs/AddNote.h"
#include "app/discs/DiscCommands.h"
#include "app/discs/MoveForm.h"
#include "app/discs/RenameCD.h"
#include "app/print/selunit.h"
#include "ui_AddNoteForm.h"
#include "ui_PrintPrepareForm.h"
#include "ui_RenameCDForm.h"

#include "app/DiscTestSupport.h"
#include "app/MainFormTestSupport.h"

using namespace disctest;

namespace {

// A value of a raw record: nothing, bytes or an integer.
using Raw = std::variant<std::monostate, std::string, int>;

void PutU32(std::string &out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFF);
}

// A plain table file as the format lays it out: `fields` are description entries ("Name s50",
// "Number 8", "Attrib i", "Icon o"), each record one value per field.
std::string RawTable(const std::vector<std::string> &fields, const std::vector<std::vector<Raw>> &records)
{
    std::string desc;
    for (const std::string &f : fields)
        desc += "XXX." + f + '\x12';
    desc += '\x14';
    std::string body;
    for (const auto &rec : records) {
        std::string lengths, values;
        for (size_t i = 0; i < fields.size(); ++i) {
            const char type = fields[i][fields[i].find(' ') + 1];
            const Raw &v = rec[i];
            if (const int *n = std::get_if<int>(&v); n && *n != 0) {
                lengths += '\x04';
                PutU32(values, uint32_t(*n));
            } else if (const auto *s = std::get_if<std::string>(&v); s && !s->empty()) {
                if (type == 's' || type == 'o' || type == 'g') {
                    lengths += '\x04';
                    PutU32(values, uint32_t(s->size()));
                } else {
                    lengths += char(s->size());
                }
                values += *s;
            } else {
                lengths += '\0';
            }
        }
        body += lengths + values;
    }
    std::string out;
    PutU32(out, uint32_t(17 + desc.size() + body.size()));
    out += 'S';
    PutU32(out, uint32_t(records.size()));
    PutU32(out, uint32_t(fields.size()));
    PutU32(out, uint32_t(desc.size()));
    return out + desc + body;
}

// The layout of catalogues written on Windows: Path 255 and Name 50 characters.
const std::vector<std::string> kFileFields = {"Path s255", "Name s50",     "Namecd s50", "Number 8",       "Size K",
                                              "Attrib i",  "Icon o",       "CreateDate K", "LastChange K", "Type i",
                                              "Note s50",  "FType i",      "LoadName U", "MusicOrder i",   "CdIdCode K"};
const std::vector<std::string> kDiscFields = {"CdName s50", "Number 8",   "CdNote s50", "CdSize C",
                                              "CdPicture g", "CdIdCode K", "CType i"};

// Each text in Windows-1250 (as stored) and as the program shows it.
struct Text {
    std::string cp, utf8;
};
const Text kSkola{"e: [\x8AKOLA]", "e: [ŠKOLA]"};
const Text kHudba{"e: [Hudba \xC8\xED\x9E" "ek]", "e: [Hudba Čížek]"};
const Text kKun{"f: [\x8Elu\x9Dou\xE8k\xFD k\xF9\xF2]", "f: [Žluťoučký kůň]"};
const Text kUlohy{"\xDAlohy", "Úlohy"};
const Text kPriklad{"pr\xEDklad \xE8.1.txt", "príklad č.1.txt"};
const Text kDalsi{"\xEF" "al\x9A\xED.doc", "ďalší.doc"};
const Text kNote{"\x9D" "a\x9Ek\xE1", "ťažká"};
const Text kDiscNote{"Pozn\xE1mka k disku", "Poznámka k disku"};

std::string PictureBytes()
{
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

std::vector<Raw> FileRecord(const std::string &path, const std::string &name, const std::string &disc,
                            const std::string &number, bool folder, const std::string &note = "")
{
    return {path, name, disc, number, folder ? "0" : "1234", folder ? 0x10 : 0x20, {}, "03.02.2001",
            "03.02.2001", folder ? 0 : 1, note, 0, {}, 0, "111"};
}

class WindowsCatalogTest : public DataFolderTest<> {
protected:
    // "Win": ŠKOLA (folder Úlohy with a noted file, another file, a note and a picture), Hudba Čížek
    // and Žluťoučký kůň, every text in Windows-1250; `extra` file records are added as they are.
    void WriteCatalog(const std::vector<std::vector<Raw>> &extra = {})
    {
        std::vector<std::vector<Raw>> files = {
            FileRecord("e:\\", kUlohy.cp, kSkola.cp, "1", true),
            FileRecord("e:\\" + kUlohy.cp + "\\", kPriklad.cp, kSkola.cp, "1", false, kNote.cp),
            FileRecord("e:\\", kDalsi.cp, kSkola.cp, "1", false),
            FileRecord("e:\\", "piese\xF2.mp3", kHudba.cp, "2", false),
            FileRecord("f:\\", "\xF8" "eka.txt", kKun.cp, "3", false),
            FileRecord("f:\\", "\xF9l.txt", kKun.cp, "3", false)};
        files.insert(files.end(), extra.begin(), extra.end());
        filesBytes = RawTable(kFileFields, files);
        discsBytes = RawTable(kDiscFields, {{kSkola.cp, "1", kDiscNote.cp, "1.50 mb", PictureBytes(), "111", 0},
                                            {kHudba.cp, "2", {}, "4.00 mb", {}, "222", 0},
                                            {kKun.cp, "3", {}, "2.00 mb", {}, "333", 0}});
        dir.write("DiVovData/Win.d", filesBytes);
        dir.write("DiVovData/CdNames/Win_cdname.d", discsBytes);
        Ini("Win");
    }
    std::string FilesOnDisk() const { return orbtest::readFile(data + "/Win.d"); }
    std::string DiscsOnDisk() const { return orbtest::readFile(data + "/CdNames/Win_cdname.d"); }

    // Every record of a table file as "field=bytes|..." lines, bytes as stored.
    static Names StoredRecords(const std::string &file)
    {
        TFlatTable t;
        t.SetTableName(file);
        t.Open();
        Names out;
        for (t.First(); !t.Eof(); t.Next()) {
            std::string line;
            for (int i = 0; i < t.FieldCount(); ++i)
                if (t.Fields(i).DataType() != ftGraphic)
                    line += t.Fields(i).FieldName() + "=" + VarToStr(t.Fields(i).Value()) + "|";
            out.push_back(line);
        }
        return out;
    }
    // The stored records of `file` without those whose Namecd (or CdName) reads `disc`.
    static Names Without(const Names &records, const std::string &disc)
    {
        Names out;
        for (const std::string &r : records)
            if (r.find("Namecd=" + disc + "|") == std::string::npos && r.find("CdName=" + disc + "|") == std::string::npos)
                out.push_back(r);
        return out;
    }
    TRenameCDForm *OpenRename(TMainForm &form, const std::string &disc)
    {
        OpenDisc(form, disc);
        form.RenameCDMenuClick();
        return form.findChild<TRenameCDForm *>();
    }

    std::string filesBytes, discsBytes;
};

} // namespace

TEST_F(WindowsCatalogTest, UntouchedCatalogueLoadsAndSavesByteForByte)
{
    WriteCatalog();
    for (const auto &[file, bytes] : {std::pair{data + "/Win.d", filesBytes},
                                      std::pair{data + "/CdNames/Win_cdname.d", discsBytes}}) {
        TFlatTable t;
        t.SetTableName(file);
        t.Open();
        t.SaveToFile(data + "/copy.d");
        EXPECT_EQ(orbtest::readFile(data + "/copy.d"), bytes) << file;
    }
    {
        // Browsed, searched and closed: nothing is written differently.
        auto form = Open();
        OpenDisc(*form, kSkola.utf8);
        form->ui->FindButton->click();
        form->ui->Edit1->setText(QStringLiteral("č.1"));
        form->ui->FilterButton->click();
        form->close();
    }
    EXPECT_EQ(FilesOnDisk(), filesBytes);
    EXPECT_EQ(DiscsOnDisk(), discsBytes);
}

TEST_F(WindowsCatalogTest, DiscClickFoldersHistoryAndTypedPaths)
{
    WriteCatalog();
    auto form = Open();
    OpenDisc(*form, kSkola.utf8);
    EXPECT_EQ(ListNamesOf(*form), (Names{kUlohy.utf8, kDalsi.utf8}));
    EXPECT_EQ(StatusText(*form, 0), QString::fromStdString(" " + kSkola.utf8 + " "));
    EXPECT_EQ(StatusText(*form, 1), QStringLiteral(" [1]"));
    EXPECT_TRUE(StatusText(*form, 2).startsWith(QStringLiteral(" 3 ")));
    EXPECT_EQ(form->ui->StaticText1->text(), QString::fromStdString("  " + kDiscNote.utf8));
    EXPECT_FALSE(form->ui->CDImage->pixmap().isNull());
    // Into the folder, back, forward, up, and a typed path.
    form->ui->LinksListView->SelectRow(ListRowOf(*form, kUlohy.utf8));
    form->LinksListViewDblClick();
    EXPECT_EQ(ListNamesOf(*form), Names{kPriklad.utf8});
    EXPECT_EQ(form->Browse.CurrentPath, "e:\\" + kUlohy.utf8 + "\\");
    form->BackButtonClick();
    EXPECT_EQ(ListNamesOf(*form), (Names{kUlohy.utf8, kDalsi.utf8}));
    form->ForwardButtonClick();
    EXPECT_EQ(ListNamesOf(*form), Names{kPriklad.utf8});
    form->UpButtonClick();
    EXPECT_EQ(ListNamesOf(*form), (Names{kUlohy.utf8, kDalsi.utf8}));
    form->ui->ComboBox1->setEditText(QString::fromStdString("e:\\" + kUlohy.utf8));
    form->ComboBox1Change();
    EXPECT_EQ(ListNamesOf(*form), Names{kPriklad.utf8});
    // The entry clicked shows its full name; the other discs open as well.
    form->ui->LinksListView->SelectRow(0);
    form->LinksListViewClick();
    EXPECT_EQ(StatusText(*form, 3), QString::fromStdString(" e:\\" + kUlohy.utf8 + "\\" + kPriklad.utf8));
    OpenDisc(*form, kKun.utf8);
    EXPECT_EQ(ListNamesOf(*form), (Names{"řeka.txt", "ůl.txt"}));
    EXPECT_EQ(StatusText(*form, 1), QStringLiteral(" [3]"));
}

TEST_F(WindowsCatalogTest, SearchByNameAndNoteFindsWindowsTexts)
{
    WriteCatalog();
    auto form = Open();
    form->ui->FindButton->click();
    for (const auto &[name, note] : {std::pair{"č.1", ""}, std::pair{"PRÍKLAD", ""}, std::pair{"", "ťažk"}}) {
        form->ui->Edit1->setText(QString::fromUtf8(name));
        form->ui->Edit3->setText(QString::fromUtf8(note));
        form->ui->FilterButton->click();
        const auto &rows = form->ui->SearchView->Model()->Rows();
        ASSERT_EQ(rows.size(), 1u) << name << note;
        EXPECT_EQ(rows[0].Name, kPriklad.utf8);
        EXPECT_EQ(rows[0].Note, kNote.utf8);
    }
    // Limited to one disc, chosen by its name.
    form->ui->ComboBox2->setCurrentIndex(form->ui->ComboBox2->findText(QString::fromStdString(kKun.utf8)));
    form->ui->Edit1->setText(QStringLiteral(".txt"));
    form->ui->Edit3->clear();
    form->ui->FilterButton->click();
    EXPECT_EQ(form->ui->SearchView->Count(), 2);
    // Every catalogue of the data folder.
    form->ui->FindAllButton->click();
    form->ui->Edit1->setText(QStringLiteral("ůl"));
    form->ui->FilterButton->click();
    const auto &rows = form->ui->SearchView->Model()->Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Name, "ůl.txt");
}

TEST_F(WindowsCatalogTest, NotesAreReadAndChangedOnTheirOwnRecordOnly)
{
    WriteCatalog();
    auto form = OpenActive();
    OpenDisc(*form, kSkola.utf8);
    form->ui->LinksListView->SelectRow(ListRowOf(*form, kUlohy.utf8));
    form->LinksListViewDblClick();
    form->ui->LinksListView->SelectRow(0);
    form->LinksListViewClick();
    form->ui->LinksListView->ActiveView()->setFocus();
    QApplication::processEvents();
    const Names filesBefore = StoredRecords(data + "/Win.d");
    QString shown;
    TMainForm::RunModal = [&](QDialog &d) {
        auto &note = static_cast<TAddNoteForm &>(d);
        shown = note.ui->Edit1->text();
        note.ui->Edit1->setText(QStringLiteral("nová ľahká"));
        note.ui->OkButton->click();
        return 1;
    };
    form->NotePopupClick();
    TMainForm::RunModal = nullptr;
    EXPECT_EQ(shown.toStdString(), kNote.utf8);
    const Names filesAfter = StoredRecords(data + "/Win.d");
    ASSERT_EQ(filesAfter.size(), filesBefore.size());
    for (size_t i = 0; i < filesAfter.size(); ++i) {
        if (i == 1)
            EXPECT_NE(filesAfter[i].find("Note=nová ľahká|"), std::string::npos) << filesAfter[i];
        else
            EXPECT_EQ(filesAfter[i], filesBefore[i]) << "record " << i << " keeps its stored bytes";
    }
    // The disc's note, changed over the tree; the other fields keep their bytes.
    form->NoteMode = 0;
    form->NoteTarget = kSkola.utf8;
    EXPECT_TRUE(form->StoreNote("nová"));
    EXPECT_EQ(StoredField(data + "/CdNames/Win_cdname.d", "CdName", kSkola.utf8, "CdNote"), "nová");
    EXPECT_EQ(StoredRecords(data + "/CdNames/Win_cdname.d")[0].substr(0, 7 + kSkola.cp.size()), "CdName=" + kSkola.cp);
    // A record that is not there is said to be missing, and nothing is written.
    const std::string discs = DiscsOnDisk();
    form->NoteTarget = "e: [NONE]";
    EXPECT_FALSE(form->StoreNote("x"));
    ASSERT_FALSE(prompt.Asked().empty());
    EXPECT_NE(prompt.Asked().back().text.toStdString().find("e: [NONE]"), std::string::npos);
    EXPECT_EQ(DiscsOnDisk(), discs);
}

TEST_F(WindowsCatalogTest, DeleteRemovesEveryRecordOfTheDiscAndNothingElse)
{
    // Two records of ŠKOLA written here in UTF-8 (a Windows catalogue extended here).
    WriteCatalog({FileRecord("e:\\", "nový.txt", kSkola.utf8, "1", false),
                  FileRecord("e:\\", "ďalší2.txt", kHudba.utf8, "2", false)});
    ASSERT_TRUE(WriteTreeFile(data + "/CdNames/Win_cdname.dat", {{0, "\x8Akola", 0, 1, NodeKindGroup},
                                                                  {1, kSkola.cp, 0, 1, NodeKindDisc},
                                                                  {0, kHudba.cp, 0, 1, NodeKindDisc}}));
    const Names files = StoredRecords(data + "/Win.d"), discs = StoredRecords(data + "/CdNames/Win_cdname.d");
    auto form = Open();
    OpenDisc(*form, kSkola.utf8);
    EXPECT_EQ(ListNamesOf(*form), (Names{kUlohy.utf8, "nový.txt", kDalsi.utf8}));
    prompt.Answer(PromptResult::Yes);
    form->DeleteButtonClick();
    EXPECT_EQ(TreeTexts(TCatalogOnDisk::Read(data, "Win").tree), (Names{"Škola", kHudba.utf8}));
    EXPECT_EQ(StoredRecords(data + "/Win.d"), Without(Without(files, kSkola.cp), kSkola.utf8));
    EXPECT_EQ(StoredRecords(data + "/Win.d").size(), 4u);
    EXPECT_EQ(StoredRecords(data + "/CdNames/Win_cdname.d"), Without(discs, kSkola.cp));
    EXPECT_EQ(form->ui->TreeView1->findItems(QString::fromStdString(kSkola.utf8), Qt::MatchExactly | Qt::MatchRecursive).size(), 0);
    // Hudba Čížek, whose records are in both encodings, still lists all of them.
    OpenDisc(*form, kHudba.utf8);
    EXPECT_EQ(ListNamesOf(*form), (Names{"pieseň.mp3", "ďalší2.txt"}));
}

TEST_F(WindowsCatalogTest, RenameChangesEveryRecordOfTheDiscAndNothingElse)
{
    WriteCatalog({FileRecord("e:\\", "nový.txt", kSkola.utf8, "1", false)});
    const Names files = StoredRecords(data + "/Win.d"), discs = StoredRecords(data + "/CdNames/Win_cdname.d");
    auto form = Open();
    TRenameCDForm *dialog = OpenRename(*form, kSkola.utf8);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->ui->Edit1->text().toStdString(), "ŠKOLA");
    dialog->ui->Edit2->setText(QStringLiteral("Škola čítanka"));
    dialog->OkButtonClick();
    const std::string renamed = "e: [Škola čítanka]";
    const TCatalogOnDisk disk = TCatalogOnDisk::Read(data, "Win");
    EXPECT_EQ(disk.discNames, (Names{renamed, kHudba.utf8, kKun.utf8}));
    EXPECT_EQ(disk.filesPerDisc.at(renamed), 4);
    EXPECT_EQ(disk.filesPerDisc.count(kSkola.utf8), 0u);
    EXPECT_EQ(disk.disc.at(renamed).note, kDiscNote.utf8);
    // Every other record keeps its bytes; the renamed ones keep all but the name.
    EXPECT_EQ(Without(StoredRecords(data + "/Win.d"), renamed), Without(Without(files, kSkola.cp), kSkola.utf8));
    EXPECT_EQ(Without(StoredRecords(data + "/CdNames/Win_cdname.d"), renamed), Without(discs, kSkola.cp));
    OpenDisc(*form, renamed);
    EXPECT_EQ(ListNamesOf(*form), (Names{kUlohy.utf8, "nový.txt", kDalsi.utf8}));
}

TEST_F(WindowsCatalogTest, CommandsOnADiscWhoseRecordIsGone)
{
    WriteCatalog();
    auto form = Open();
    TRenameCDForm *dialog = OpenRename(*form, kHudba.utf8);
    ASSERT_NE(dialog, nullptr);
    // The disc record goes behind the window's back (another copy of the program, say).
    ASSERT_TRUE(form->CdNameTable->Locate("CdName", TVariant(kHudba.utf8), {}));
    form->CdNameTable->Delete();
    form->CdNameTable->CommitChanges();
    const std::string files = FilesOnDisk(), discs = DiscsOnDisk();
    dialog->ui->Edit2->setText(QStringLiteral("Iné"));
    dialog->OkButtonClick();
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].text.toStdString(), "\"" + kHudba.utf8 + "\" was not found in the catalogue. Nothing was changed.");
    // Its picture taken away: said too, nothing stored.
    form->Browse.CurrentDisc = kHudba.utf8;
    form->DeleteImageToolButtonClick();
    ASSERT_EQ(prompt.Asked().size(), 2u);
    EXPECT_NE(prompt.Asked()[1].text.toStdString().find("was not found"), std::string::npos);
    EXPECT_EQ(DiscsOnDisk(), discs);
    // Deleted, its file records (stored in Windows-1250) and its node still go by its name.
    ASSERT_GE(form->SelectTreeNodeByText(kHudba.utf8), 0);
    prompt.Answer(PromptResult::Yes);
    form->DeleteButtonClick();
    ASSERT_EQ(prompt.Asked().size(), 3u) << "the question only";
    EXPECT_NE(FilesOnDisk(), files);
    EXPECT_EQ(TCatalogOnDisk::Read(data, "Win").filesPerDisc.count(kHudba.utf8), 0u);
    EXPECT_EQ(DiscsOnDisk(), discs);
    // The same in Slovak.
    langunit::SetCurrentLanguage(langunit::LangSlovak);
    EXPECT_EQ(NotFoundText("CD"), "„CD“ sa v katalógu nenašlo. Nič sa nezmenilo.");
}

TEST_F(WindowsCatalogTest, MoveCarriesTheStoredBytesAndTreeFilesMatchWindowsNames)
{
    WriteCatalog();
    // The tree file of a Windows data folder: a group and a disc, named in Windows-1250.
    ASSERT_TRUE(WriteTreeFile(data + "/CdNames/Win_cdname.dat",
                              {{0, "Hudba a \x9Akola", 0, 1, NodeKindGroup}, {1, kSkola.cp, 0, 1, NodeKindDisc}}));
    TCatalogBuilder().Write(data, "Other");
    auto form = Open();
    QTreeWidgetItem *group = form->ui->TreeView1->topLevelItem(0);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->text(0).toStdString(), "Hudba a škola");
    ASSERT_EQ(group->childCount(), 1);
    EXPECT_EQ(group->child(0)->text(0).toStdString(), kSkola.utf8);
    OpenDisc(*form, kSkola.utf8);
    EXPECT_EQ(ListNamesOf(*form), (Names{kUlohy.utf8, kDalsi.utf8}));
    // Tree editing: a new group, kept; the file then holds every name as the program's text.
    form->ui->EditTreeButton->click();
    form->ui->Edit2->setText(QStringLiteral("Nová skupina"));
    form->ui->Button3->click();
    form->Button5Click();
    EXPECT_EQ(TreeTexts(TCatalogOnDisk::Read(data, "Win").tree),
              (Names{"Hudba a škola", "  " + kSkola.utf8, "Nová skupina"}));
    OpenDisc(*form, kSkola.utf8);
    EXPECT_EQ(ListNamesOf(*form), (Names{kUlohy.utf8, kDalsi.utf8}));

    TMoveForm move(form.get());
    QTreeWidget *source = move.Columns()[size_t(move.ColumnOf("Win"))].tree;
    QTreeWidget *target = move.Columns()[size_t(move.ColumnOf("Other"))].tree;
    source->setCurrentItem(source->findItems(QString::fromStdString(kSkola.utf8), Qt::MatchExactly).front());
    move.TreeDragDrop(target, source);
    EXPECT_TRUE(prompt.Asked().empty());
    const TCatalogOnDisk win = TCatalogOnDisk::Read(data, "Win"), other = TCatalogOnDisk::Read(data, "Other");
    EXPECT_EQ(win.discNames, (Names{kHudba.utf8, kKun.utf8}));
    EXPECT_EQ(win.filesPerDisc.count(kSkola.utf8), 0u);
    EXPECT_EQ(TreeTexts(win.tree), (Names{"Hudba a škola", "Nová skupina"}));
    ASSERT_EQ(other.filesPerDisc.count(kSkola.utf8), 1u);
    EXPECT_EQ(other.filesPerDisc.at(kSkola.utf8), 3);
    // What the move did not rename keeps the bytes it had.
    EXPECT_EQ(StoredField(data + "/Other.d", "Name", kPriklad.utf8, "Note"), kNote.utf8);
    bool keptBytes = false;
    for (const std::string &r : StoredRecords(data + "/Other.d"))
        keptBytes |= r.find("Name=" + kPriklad.cp + "|") != std::string::npos && r.find("Note=" + kNote.cp + "|") != std::string::npos;
    EXPECT_TRUE(keptBytes);
    // A disc that is gone from the source is said to be missing.
    QTreeWidget *back = move.Columns()[size_t(move.ColumnOf("Win"))].tree;
    back->setCurrentItem(back->topLevelItem(0));
    dir.write("DiVovData/CdNames/Win_cdname.d", RawTable(kDiscFields, {}));
    move.TreeDragDrop(target, back);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_NE(prompt.Asked()[0].text.toStdString().find("was not found"), std::string::npos);
}

TEST_F(WindowsCatalogTest, PrintSourcesTakeTheRecordsOfTheDiscAndFolder)
{
    WriteCatalog();
    auto form = Open();
    OpenDisc(*form, kSkola.utf8);
    form->ui->LinksListView->SelectRow(ListRowOf(*form, kUlohy.utf8));
    form->LinksListViewDblClick();
    form->ui->PrintButton->click();
    TPrintPrepareForm *w = form->PrintPrepareForm.data();
    ASSERT_NE(w, nullptr);
    // The whole disc, the folder listed, the folders, and the user's filter.
    const std::tuple<int, int, QString, Names> cases[] = {
        {0, 0, {}, {kPriklad.utf8, kUlohy.utf8, kDalsi.utf8}}, // by bytes
        {1, 0, {}, {kPriklad.utf8}},
        {3, 0, {}, {kUlohy.utf8}},
        {0, 6, QStringLiteral("č.1"), {kPriklad.utf8}},
    };
    for (const auto &[source, type, filter, expected] : cases) {
        SCOPED_TRACE(source);
        w->RadioGroup1Items->button(source)->click();
        w->ui->Button1->click();
        w->RadioGroup2Items->button(type)->click();
        if (!filter.isNull())
            w->ui->Edit1->setText(filter);
        w->ui->Button1->click();
        ASSERT_EQ(w->PageIndex(), 2);
        Names names;
        for (w->ReportTable->First(); !w->ReportTable->Eof(); w->ReportTable->Next())
            names.push_back(w->ReportTable->FieldByName("Name").AsString());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, expected);
        w->ui->Button2->click();
        w->ui->Button2->click();
    }
}

// A Windows catalogue stores dates day first ("13.01.1999"): a date range finds them under the C
// locale, whose own order is month first, as it does under Slovak.
TEST_F(WindowsCatalogTest, DateRangesFindTheWindowsDatesInEveryLocale)
{
    auto dated = [](const std::string &name, const std::string &date) {
        std::vector<Raw> r = FileRecord("e:\\", name, kSkola.cp, "1", false);
        r[7] = r[8] = date; // CreateDate, LastChange
        return r;
    };
    WriteCatalog({dated("jan13.txt", "13.01.1999 10:00:00"), dated("feb3.txt", "03.02.1999"),
                  dated("mar2.txt", "02.03.1999"), dated("may13.txt", "13.05.1999"), dated("jan2000.txt", "05.01.2000")});
    const QLocale saved;
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::Slovak, QLocale::Slovakia)}) {
        SCOPED_TRACE(locale.name().toStdString());
        QLocale::setDefault(locale);
        TMainForm::FollowLocaleDateOrder(); // as the window does when it is made
        auto form = Open();
        form->ui->FindButton->click();
        auto found = [&](TDateTime from, TDateTime to, int field) {
            form->ui->RadioButton5->setChecked(true);
            form->ui->ComboBox3->setCurrentIndex(field);
            form->ui->DateEdit1->SetDate(from);
            form->ui->DateEdit2->SetDate(to);
            form->ui->FilterButton->click();
            Names names;
            for (const TSearchRow &row : form->ui->SearchView->Model()->Rows())
                names.push_back(row.Name);
            std::sort(names.begin(), names.end());
            return names;
        };
        EXPECT_EQ(found(EncodeDate(1999, 1, 1), EncodeDate(2000, 1, 1), 0),
                  (Names{"feb3.txt", "jan13.txt", "mar2.txt", "may13.txt"}));
        EXPECT_EQ(found(EncodeDate(1999, 1, 1), EncodeDate(1999, 2, 15), 1), (Names{"feb3.txt", "jan13.txt"}));
    }
    QLocale::setDefault(saved);
    TMainForm::FollowLocaleDateOrder();
}
