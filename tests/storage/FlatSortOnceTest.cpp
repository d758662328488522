// A view with an index over a good part of a large store takes the order of the whole
// store sorted once, kept until the records change. It must show what sorting the shown
// records each time shows: equal keys in store order, letter case and descending order
// as asked, after edits and appends, through filters and the text lookup, and after the
// table is opened on another file.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "storage/FlatTbl.h"
#include "support/FieldTexts.h"
#include "support/ScopedValue.h"
#include "support/TempDir.h"

namespace {

// Keys with many ties, differing in letter case, one in Windows-1250 bytes ("š").
const char *const Keys[] = {"b", "B", "a", "\x9a", "c", "A", "š", "b "};

void MakeFile(const std::string &file, int records, int seed)
{
    TFlatTable t;
    t.FieldDefs().Add("Key", ftString, 20);
    t.FieldDefs().Add("Id", ftInteger, 0);
    t.FieldDefs().Add("Folder", ftString, 20);
    t.Open();
    for (int i = 0; i < records; ++i) {
        t.Append();
        t.FieldByName("Key").SetAsString(Keys[(i * 7 + seed) % 8]);
        t.FieldByName("Id").SetAsInteger(i);
        t.FieldByName("Folder").SetAsString(i % 5 == 0 ? "x" : "y");
        t.Post();
    }
    t.SaveToFile(file);
}

// What the table shows at each step of a session, the ids in view order.
std::vector<std::vector<std::string>> Session(const std::string &first, const std::string &second,
                                              TFlatSortOptions options)
{
    std::vector<std::vector<std::string>> seen;
    TFlatTable t;
    t.OpenTable(first);
    t.SetSortOptions(options);
    t.SetIndexFieldNames("Key");
    const auto look = [&] { seen.push_back(orbtest::FieldTexts(t, "Id")); };
    look();
    t.SetOnFilterRecord([](TDataSet *d, bool &accept) { accept = d->FieldByName("Id").AsInteger() % 7 != 3; });
    t.SetFiltered(true);
    look();
    {
        TFilterTextHintScope hint(t, "Folder", "y");
        t.SetFiltered(false);
        t.SetFiltered(true);
        look();
    }
    // An edit that moves a record, then appends: the order kept is given up.
    t.SetFiltered(false);
    t.First();
    t.Edit();
    t.FieldByName("Key").SetAsString("zz");
    t.Post();
    t.SetFiltered(true);
    look();
    t.SetFiltered(false);
    for (int i = 0; i < 30; ++i) {
        t.Append();
        t.FieldByName("Key").SetAsString(Keys[i % 8]);
        t.FieldByName("Id").SetAsInteger(1000 + i);
        t.Post();
    }
    t.SetFiltered(true);
    look();
    t.OpenTable(second);
    t.SetIndexFieldNames("Key");
    look();
    return seen;
}

} // namespace

TEST(FlatSortOnce, ViewsShowWhatSortingTheShownRecordsShows)
{
    orbtest::TempDir dir;
    const std::string first = dir.file("first.d"), second = dir.file("second.d");
    MakeFile(first, 400, 0);
    MakeFile(second, 400, 3); // as many records, other keys
    for (const TFlatSortOptions options :
         {TFlatSortOptions{}, TFlatSortOptions{TFlatSortOption::vsoCaseInsensitive},
          TFlatSortOptions{TFlatSortOption::vsoDescendSort},
          TFlatSortOptions{TFlatSortOption::vsoCaseInsensitive, TFlatSortOption::vsoDescendSort}}) {
        std::vector<std::vector<std::string>> once, each;
        {
            orbtest::ScopedValue<size_t> from(FlatSortOnceFrom, 0);
            once = Session(first, second, options);
        }
        {
            orbtest::ScopedValue<size_t> from(FlatSortOnceFrom, std::numeric_limits<size_t>::max());
            each = Session(first, second, options);
        }
        ASSERT_EQ(once.size(), each.size());
        for (size_t k = 0; k < once.size(); ++k)
            EXPECT_TRUE(once[k] == each[k]) << "step " << k;
        EXPECT_EQ(once[0].size(), 400u);
        EXPECT_EQ(once.back().size(), 400u - 57u); // the filter stays on the other file
    }
}
