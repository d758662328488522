// Opening a disc and a folder builds the work table and the folder's list from
// the records of that disc and folder alone (looked up by disc name and path);
// the records, their order and the list must stay exactly those of a pass over
// the whole table after records are added, deleted, renamed and updated.
#include <gtest/gtest.h>

#include <QTreeWidget>

#include <filesystem>
#include <string>
#include <vector>

#include "app/CatalogTables.h"
#include "app/FileListView.h"
#include "app/LangUnit.h"
#include "app/Main.h"
#include "platform/Prompt.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "ui_MainForm.h"

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

class DiscFolderLookupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangEnglish);
        data = dir.file("Data");
        fs::create_directories(fs::path(data) / "CdNames");
        TFlatTable files, discs;
        AddFieldDefs(files, FileTableLayout());
        AddFieldDefs(discs, DiscTableLayout());
        files.Open();
        discs.Open();
        for (const char *disc : {"e: [A]", "e: [B]"}) {
            discs.Append();
            discs.FieldByName("CdName").SetAsString(disc);
            discs.FieldByName("CdSize").SetAsString("1 mb");
            discs.Post();
        }
        auto add = [&](const std::string &disc, const std::string &path, const std::string &name, int type) {
            files.Append();
            files.FieldByName("Path").SetAsString(path);
            files.FieldByName("Name").SetAsString(name);
            files.FieldByName("Namecd").SetAsString(disc);
            files.FieldByName("Number").SetAsString("1");
            files.FieldByName("Size").SetAsString("1");
            files.FieldByName("Attrib").SetAsInteger(type == 0 ? 0x10 : 0x20);
            files.FieldByName("Type").SetAsInteger(type);
            files.Post();
        };
        add("e: [A]", "e:\\", "d", 0);
        add("e: [A]", "e:\\", "a1.txt", 1);
        add("e: [B]", "e:\\", "b1.txt", 1);
        add("e: [A]", "e:\\d\\", "a2.txt", 1);
        add("e: [B]", "e:\\d\\", "b2.txt", 1);
        add("e: [A]", "e:\\", "a3.txt", 1);
        files.SaveToFile(data + "/Cat.d");
        discs.SaveToFile(data + "/CdNames/Cat_cdname.d");
        dir.write("Data/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup16=0\nSetup20=1\nSetup_Text4=Cat\n");
        form = std::make_unique<TMainForm>(nullptr, data);
        form->FormShow();
    }
    void TearDown() override
    {
        form.reset();
        langunit::SetCurrentLanguage(langunit::LangSlovak);
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

    orbtest::TempDir dir;
    std::string data;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
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
    files.Append();
    files.FieldByName("Path").SetAsString("e:\\");
    files.FieldByName("Name").SetAsString("a4.txt");
    files.FieldByName("Namecd").SetAsString("e: [A]");
    files.FieldByName("Type").SetAsInteger(1);
    files.Post();
    // Delete.
    ASSERT_TRUE(Locate(files, "a1.txt"));
    files.Delete();
    // Rename a record of the other disc into this one, and one of this disc out of it.
    ASSERT_TRUE(Locate(files, "b1.txt"));
    files.Edit();
    files.FieldByName("Namecd").SetAsString("e: [A]");
    files.Post();
    ASSERT_TRUE(Locate(files, "a2.txt"));
    files.Edit();
    files.FieldByName("Namecd").SetAsString("e: [B]");
    files.Post();
    // Update of another field.
    ASSERT_TRUE(Locate(files, "a3.txt"));
    files.Edit();
    files.FieldByName("Name").SetAsString("a3 renamed.txt");
    files.Post();

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
    ASSERT_TRUE(Locate(work, "a1.txt"));
    work.Edit();
    work.FieldByName("Path").SetAsString("e:\\d\\");
    work.Post();
    work.Append();
    work.FieldByName("Path").SetAsString("e:\\d\\");
    work.FieldByName("Name").SetAsString("new.txt");
    work.FieldByName("Namecd").SetAsString("e: [A]");
    work.FieldByName("Type").SetAsInteger(1);
    work.Post();
    ASSERT_TRUE(Locate(work, "a2.txt"));
    work.Delete();
    ASSERT_TRUE(Locate(work, "a3.txt"));
    work.Edit();
    work.FieldByName("Name").SetAsString("a3b.txt");
    work.Post();

    ExpectFolder("e:\\", {"d", "a3b.txt"});
    ExpectFolder("e:\\d\\", {"a1.txt", "new.txt"});
    ExpectFolder("e:\\none\\", {});
}

} // namespace
