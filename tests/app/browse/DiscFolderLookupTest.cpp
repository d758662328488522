// Opening a disc and a folder builds the work table and the folder's list from
// the records of that disc and folder alone (looked up by disc name and path);
// the records, their order and the list must stay exactly those of a pass over
// the whole table after records are added, deleted, renamed and updated.
#include "app/browse/FileListView.h"
#include "ui_MainForm.h"

#include "app/DiscTestSupport.h"
#include "app/MainFormTestSupport.h"

using namespace disctest;

namespace {

class DiscFolderLookupTest : public DataFolderTest<> {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        TFlatTable files, discs;
        AddFieldDefs(files, FileTableLayout());
        AddFieldDefs(discs, DiscTableLayout());
        files.Open();
        discs.Open();
        for (const char *disc : {"e: [A]", "e: [B]"})
            AddRecord(discs, {{"CdName", disc}, {"CdSize", "1 mb"}});
        const std::tuple<const char *, const char *, const char *, int> records[] = {
            {"e: [A]", "e:\\", "d", 0},        {"e: [A]", "e:\\", "a1.txt", 1},   {"e: [B]", "e:\\", "b1.txt", 1},
            {"e: [A]", "e:\\d\\", "a2.txt", 1}, {"e: [B]", "e:\\d\\", "b2.txt", 1}, {"e: [A]", "e:\\", "a3.txt", 1}};
        for (const auto &[disc, path, name, type] : records)
            AddRecord(files, {{"Path", path}, {"Name", name}, {"Namecd", disc}, {"Number", "1"}, {"Size", "1"},
                              {"Attrib", type == 0 ? 0x10 : 0x20}, {"Type", type}});
        files.SaveToFile(data + "/Cat.d");
        discs.SaveToFile(data + "/CdNames/Cat_cdname.d");
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup16=0\nSetup20=1\nSetup_Text4=Cat\n");
        form = Open();
    }
    void TearDown() override
    {
        form.reset();
        DataFolderTest::TearDown();
    }
    // Finds the record `name` in the whole table and sets `field` to `value`.
    void Change(TFlatTable &t, const std::string &name, const char *field, const TVariant &value)
    {
        ASSERT_TRUE(Locate(t, name)) << name;
        t.Edit();
        t.FieldByName(field).SetValue(value);
        t.Post();
    }

    // Opens the disc anew (the work table is rebuilt).
    void Reopen(const std::string &disc)
    {
        form->Browse.LoadedDisc.clear();
        ASSERT_GE(form->SelectTreeNodeByText(disc), 0);
        form->TreeView1Click();
    }

    // All records of a table in store order (the work table shows a folder of them).
    static Names NamesOf(TFlatTable &t)
    {
        t.SetFiltered(false);
        t.SetIndexFieldNames("");
        Names out;
        for (t.First(); !t.Eof(); t.Next())
            out.push_back(t.FieldByName("Name").AsString());
        return out;
    }

    // The disc's records in store order, by a pass over the whole file table.
    Names DiscRecordsByFullPass(const std::string &disc)
    {
        TFlatTable &t = *form->FlatTable1;
        t.SetFiltered(false);
        Names out;
        for (t.First(); !t.Eof(); t.Next())
            if (t.FieldByName("Namecd").AsString() == disc)
                out.push_back(t.FieldByName("Name").AsString());
        return out;
    }

    bool Locate(TFlatTable &t, const std::string &name)
    {
        t.SetFiltered(false);
        for (t.First(); !t.Eof(); t.Next())
            if (t.FieldByName("Name").AsString() == name)
                return true;
        return false;
    }

    Names ListNames()
    {
        Names out;
        for (const TFileRow &r : form->ui->LinksListView->Model()->Rows())
            out.push_back(r.Name);
        return out;
    }

    // The folder's list, then the same folder's records by a pass over the work table.
    void ExpectFolder(const std::string &path, const Names &expected)
    {
        form->Browse.CurrentPath = path;
        form->LoadList();
        EXPECT_EQ(ListNames(), expected) << path;
        Names full;
        TFlatTable &w = *form->WorkTable;
        w.SetFiltered(false);
        w.SetIndexFieldNames("Type");
        for (w.First(); !w.Eof(); w.Next())
            if (w.FieldByName("Path").AsString() == path)
                full.push_back(w.FieldByName("Name").AsString());
        w.SetIndexFieldNames("");
        EXPECT_EQ(full, expected) << path;
    }

    std::unique_ptr<TMainForm> form;
};

TEST_F(DiscFolderLookupTest, DiscRecordsFollowEveryChangeOfTheFileTable)
{
    Reopen("e: [A]");
    EXPECT_EQ(NamesOf(*form->WorkTable), (Names{"d", "a1.txt", "a2.txt", "a3.txt"}));
    EXPECT_EQ(form->Browse.FileCountText, "4");

    TFlatTable &files = *form->FlatTable1;
    // Insert.
    files.SetFiltered(false);
    AddRecord(files, {{"Path", "e:\\"}, {"Name", "a4.txt"}, {"Namecd", "e: [A]"}, {"Type", 1}});
    ASSERT_TRUE(Locate(files, "a1.txt"));
    files.Delete();
    // A record of the other disc moved into this one, one of this disc out of it, another field updated.
    Change(files, "b1.txt", "Namecd", "e: [A]");
    Change(files, "a2.txt", "Namecd", "e: [B]");
    Change(files, "a3.txt", "Name", "a3 renamed.txt");

    const Names expectedA{"d", "b1.txt", "a3 renamed.txt", "a4.txt"};
    EXPECT_EQ(DiscRecordsByFullPass("e: [A]"), expectedA);
    Reopen("e: [A]");
    EXPECT_EQ(NamesOf(*form->WorkTable), expectedA);
    EXPECT_EQ(form->Browse.FileCountText, "4");
    EXPECT_EQ(form->FlatTable1->RecordCount(), 4);

    Reopen("e: [B]");
    EXPECT_EQ(NamesOf(*form->WorkTable), (Names{"a2.txt", "b2.txt"}));
    EXPECT_EQ(DiscRecordsByFullPass("e: [B]"), (Names{"a2.txt", "b2.txt"}));
}

TEST_F(DiscFolderLookupTest, FolderListsFollowEveryChangeOfTheWorkTable)
{
    Reopen("e: [A]");
    ExpectFolder("e:\\", {"d", "a1.txt", "a3.txt"});
    ExpectFolder("e:\\d\\", {"a2.txt"});

    TFlatTable &work = *form->WorkTable;
    // Move a record into the folder, add one, delete one, update one.
    Change(work, "a1.txt", "Path", "e:\\d\\");
    AddRecord(work, {{"Path", "e:\\d\\"}, {"Name", "new.txt"}, {"Namecd", "e: [A]"}, {"Type", 1}});
    ASSERT_TRUE(Locate(work, "a2.txt"));
    work.Delete();
    Change(work, "a3.txt", "Name", "a3b.txt");

    ExpectFolder("e:\\", {"d", "a3b.txt"});
    ExpectFolder("e:\\d\\", {"a1.txt", "new.txt"});
    ExpectFolder("e:\\none\\", {});
}

} // namespace
