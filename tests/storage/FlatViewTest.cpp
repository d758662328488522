// A data set's view while it shows every record of its store: it must show exactly what
// a list of its own would, through appends by itself and by clones, deletes, filters,
// indexes, a save that sorts the store, and emptying.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "support/FieldTexts.h"

namespace {

void Add(TFlatTable &t, const std::string &name)
{
    t.Append();
    t.FieldByName("Name").SetAsString(name);
    t.Post();
}

std::vector<std::string> Names(TFlatTable &t) { return orbtest::FieldTexts(t); }

using Names_ = std::vector<std::string>;

// A table file of the given names, opened.
struct Loaded {
    orbtest::TempDir dir;
    std::string file = dir.file("v.d");
    TFlatTable t;
    explicit Loaded(std::initializer_list<const char *> names)
    {
        TFlatTable make;
        make.FieldDefs().Add("Name", ftString, 40);
        make.Open();
        for (const char *n : names)
            Add(make, n);
        make.SaveToFile(file);
        t.OpenTable(file);
    }
};

} // namespace

TEST(FlatViewTest, AppendsByTheTableAndItsCloneShowWhereACopyWouldShowThem)
{
    Loaded l({"a", "b", "c"});
    TFlatTable clone;
    clone.SetCloneDS(&l.t);
    clone.Open();

    // Our own append shows at once, in both record number and navigation.
    Add(l.t, "d");
    EXPECT_EQ(l.t.RecordCount(), 4);
    EXPECT_EQ(l.t.RecNo(), 4);
    // The clone's view was built before: it does not show it yet, its own append does.
    EXPECT_EQ(clone.RecordCount(), 3);
    Add(clone, "e");
    EXPECT_EQ(Names(clone), (Names_{"a", "b", "c", "e"}));
    // Appending after the clone did: ours shows our records, not the clone's.
    Add(l.t, "f");
    EXPECT_EQ(Names(l.t), (Names_{"a", "b", "c", "d", "f"}));
    l.t.RefreshView();
    clone.RefreshView();
    EXPECT_EQ(Names(l.t), (Names_{"a", "b", "c", "d", "e", "f"}));
    EXPECT_EQ(Names(clone), Names(l.t));
    clone.Close();
}

TEST(FlatViewTest, DeletesFiltersAndIndexesGiveTheViewItsOwnListAndBack)
{
    Loaded l({"c", "a", "b", "d"});
    TFlatTable &t = l.t;

    // A delete leaves the other records in place and positions on the next one.
    t.SetRecNo(2);
    t.Delete();
    EXPECT_EQ(Names(t), (Names_{"c", "b", "d"}));
    t.SetRecNo(2);
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b");
    Add(t, "e");
    EXPECT_EQ(Names(t), (Names_{"c", "b", "d", "e"}));

    // Filter and index, then neither: store order again, without the deleted one.
    t.SetFilter("Name <> 'd'");
    t.SetFiltered(true);
    EXPECT_EQ(Names(t), (Names_{"c", "b", "e"}));
    t.SetFiltered(false);
    EXPECT_EQ(Names(t), (Names_{"c", "b", "d", "e"}));
    t.SetIndexFieldNames("Name");
    EXPECT_EQ(Names(t), (Names_{"b", "c", "d", "e"}));
    t.SetIndexFieldNames("");
    EXPECT_EQ(Names(t), (Names_{"c", "b", "d", "e"}));

    // Bookmarks and searches work on the shown list whichever it is.
    t.CancelChanges();
    EXPECT_EQ(Names(t), (Names_{"c", "a", "b", "d"}));
    t.SetRecNo(3);
    const TBookmark mark = t.GetBookmark();
    t.First();
    t.GotoBookmark(mark);
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b");
    ASSERT_TRUE(t.Locate("Name", {TVariant(std::string("d"))}, {}));
    EXPECT_EQ(t.RecNo(), 4);
}

TEST(FlatViewTest, ASaveThatSortsTheStoreAndEmptyingKeepEveryViewRight)
{
    Loaded l({"c", "a", "b"});
    TFlatTable clone;
    clone.SetCloneDS(&l.t);
    clone.Open();
    clone.SetRecNo(3);
    EXPECT_EQ(clone.FieldByName("Name").AsString(), "b");

    // The table saves sorted by its index: the store changes order under the clone's
    // view, which follows it and stays on its record.
    l.t.SetIndexFieldNames("Name");
    l.t.SaveOptions = savSortOnIndex;
    Add(l.t, "d");
    l.t.Save();
    EXPECT_EQ(clone.FieldByName("Name").AsString(), "b");
    EXPECT_EQ(clone.RecNo(), 2);
    EXPECT_EQ(Names(clone), (Names_{"a", "b", "c", "d"}));
    TFlatTable check;
    check.OpenTable(l.file);
    EXPECT_EQ(Names(check), (Names_{"a", "b", "c", "d"}));

    l.t.EmptyTable();
    EXPECT_EQ(l.t.RecordCount(), 0);
    EXPECT_EQ(clone.RecordCount(), 0);
    Add(clone, "x");
    l.t.RefreshView();
    EXPECT_EQ(Names(l.t), (Names_{"x"}));
    clone.Close();
}
