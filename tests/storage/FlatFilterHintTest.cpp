// A filtered view built through the store's lookup of one text field (the filter
// text hint) must hold exactly the records, in the same order, that the filter
// admits over the whole store, after every kind of change: inserts, deletes,
// renames of the looked-up field, updates of other fields, cancels and loads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/FlatTbl.h"
#include "storage/FlatTblStore.h"
#include "support/TempDir.h"
#include "support/FieldTexts.h"

namespace {

struct THintCase {
    TFlatTable t;
    std::string field = "Disc", want = "disc A"; // what the filter admits
    int filterCalls = 0;

    THintCase()
    {
        t.FieldDefs().Add("Disc", ftString, 50); // a String field
        t.FieldDefs().Add("Dir", ftString, 10);  // a short text field
        t.FieldDefs().Add("Name", ftString, 40);
        t.SetOnFilterRecord([this](TDataSet *d, bool &accept) {
            ++filterCalls;
            accept = d->FieldByName(field).AsString() == want;
        });
        t.Open();
    }

    void Add(const std::string &disc, const std::string &dir, const std::string &name)
    {
        t.Append();
        t.FieldByName("Disc").SetAsString(disc);
        t.FieldByName("Dir").SetAsString(dir);
        t.FieldByName("Name").SetAsString(name);
        t.Post();
    }

    std::vector<std::string> Names() { return orbtest::FieldTexts(t); }

    // The view of the filter admitting `hintField` = `value`, built with the hint,
    // then without: both must agree.
    std::vector<std::string> Hinted(const std::string &hintField, const std::string &value)
    {
        field = hintField == "Missing" ? "Disc" : hintField;
        want = value;
        std::vector<std::string> hinted;
        {
            TFilterTextHintScope hint(t, hintField, value);
            t.SetFiltered(true);
            hinted = Names();
        }
        t.SetFiltered(false);
        t.SetFiltered(true);
        EXPECT_EQ(hinted, Names());
        t.SetFiltered(false);
        return hinted;
    }

    bool Locate(const std::string &name)
    {
        for (t.First(); !t.Eof(); t.Next())
            if (t.FieldByName("Name").AsString() == name)
                return true;
        return false;
    }

    // Finds the record named `name` and sets one of its fields, posted or cancelled.
    void Change(const std::string &name, const char *fieldName, const std::string &value, bool post = true)
    {
        ASSERT_TRUE(Locate(name)) << name;
        t.Edit();
        t.FieldByName(fieldName).SetAsString(value);
        post ? t.Post() : t.Cancel();
    }
};

using Names = std::vector<std::string>;

TEST(FlatFilterHint, VisitsOnlyTheHintedRecordsAndKeepsStoreOrder)
{
    THintCase c;
    for (int i = 0; i < 10; ++i)
        c.Add(i % 3 == 0 ? "disc A" : "disc B", "d", "n" + std::to_string(i));
    c.filterCalls = 0;
    EXPECT_EQ(c.Hinted("Disc", "disc A"), (Names{"n0", "n3", "n6", "n9"}));
    // The hinted pass asked the filter about the four records only, the full one about ten.
    EXPECT_EQ(c.filterCalls, 4 + 10);
}

TEST(FlatFilterHint, FollowsInsertsDeletesRenamesAndUpdates)
{
    THintCase c;
    c.Add("disc A", "x", "a1");
    c.Add("disc B", "x", "b1");
    c.Add("disc A", "y", "a2");
    EXPECT_EQ(c.Hinted("Disc", "disc A"), (Names{"a1", "a2"}));

    c.Add("disc A", "x", "a3"); // insert
    EXPECT_EQ(c.Hinted("Disc", "disc A"), (Names{"a1", "a2", "a3"}));

    ASSERT_TRUE(c.Locate("a2")); // delete
    c.t.Delete();
    EXPECT_EQ(c.Hinted("Disc", "disc A"), (Names{"a1", "a3"}));

    c.Change("b1", "Disc", "disc A"); // rename into the disc
    EXPECT_EQ(c.Hinted("Disc", "disc A"), (Names{"a1", "b1", "a3"}));

    c.Change("a1", "Disc", "disc C"); // rename out of it
    EXPECT_EQ(c.Hinted("Disc", "disc A"), (Names{"b1", "a3"}));
    EXPECT_EQ(c.Hinted("Disc", "disc C"), (Names{"a1"}));

    c.Change("a3", "Name", "a3 new"); // update of another field: the record stays
    EXPECT_EQ(c.Hinted("Disc", "disc A"), (Names{"b1", "a3 new"}));

    // A cancelled edit takes the record back to its last saved values (the store
    // keeps them until the changes are committed): b1 leaves the disc again.
    c.Change("b1", "Disc", "disc Z", false);
    EXPECT_EQ(c.Hinted("Disc", "disc A"), (Names{"a3 new"}));
    EXPECT_EQ(c.Hinted("Disc", "disc B"), (Names{"b1"}));

    // The short text field is looked up too, including the empty text.
    c.Add("disc A", "", "e1");
    EXPECT_EQ(c.Hinted("Dir", "x"), (Names{"a1", "b1", "a3 new"}));
    EXPECT_EQ(c.Hinted("Dir", ""), (Names{"e1"}));
    EXPECT_EQ(c.Hinted("Disc", "nothing"), Names{});
    EXPECT_EQ(c.Hinted("Disc", "disc A"), (Names{"a3 new", "e1"}));
}

TEST(FlatFilterHint, FollowsALoadAndAnEmptying)
{
    orbtest::TempDir dir;
    const std::string file = dir.file("hint.d");
    {
        THintCase c;
        c.Add("disc A", "x", "a1");
        c.Add("disc B", "x", "b1");
        c.Add("disc A", "x", "a2");
        c.t.SaveToFile(file);
    }
    THintCase c;
    c.Add("disc A", "x", "old");
    EXPECT_EQ(c.Hinted("Disc", "disc A"), (Names{"old"}));
    c.t.Close();
    c.t.OpenTable(file);
    EXPECT_EQ(c.Hinted("Disc", "disc A"), (Names{"a1", "a2"}));
    c.t.EmptyTable();
    EXPECT_EQ(c.Hinted("Disc", "disc A"), Names{});
}

TEST(FlatFilterHint, AFieldThatIsNoTextVisitsEveryRecord)
{
    THintCase c;
    c.Add("disc A", "x", "a1");
    c.Add("disc B", "x", "b1");
    EXPECT_EQ(c.Hinted("Missing", "disc A"), (Names{"a1"}));
}

} // namespace
