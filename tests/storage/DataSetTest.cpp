// The data-set base's state machine, events, bookmarks, filtered navigation,
// Locate and field conversions, driven through the in-memory table.
#include "storage/DBUtils.h"
#include "storage/ExMemDS.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// A table of (Name string 20, Num integer) with the given rows.
void fill(TExMemoryData &t, const std::vector<std::pair<std::string, int>> &rows) {
    if (!t.Active()) {
        t.FieldDefs().Add("Name", ftString, 20);
        t.FieldDefs().Add("Num", ftInteger);
        t.Open();
    }
    for (const auto &[name, num] : rows) {
        t.Append();
        t.FieldByName("Name").SetAsString(name);
        t.FieldByName("Num").SetAsInteger(num);
        t.Post();
    }
    t.First();
}

std::vector<std::string> names(TDataSet &t) {
    std::vector<std::string> out;
    for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName("Name").AsString());
    return out;
}

struct EventLog {
    std::vector<std::string> items;
    void attach(TDataSet &t) {
        auto rec = [this](const char *n) { return [this, n](TDataSet *) { items.push_back(n); }; };
        t.BeforeInsert = rec("BeforeInsert");
        t.AfterInsert = rec("AfterInsert");
        t.BeforeEdit = rec("BeforeEdit");
        t.AfterEdit = rec("AfterEdit");
        t.BeforePost = rec("BeforePost");
        t.AfterPost = rec("AfterPost");
        t.BeforeCancel = rec("BeforeCancel");
        t.AfterCancel = rec("AfterCancel");
        t.BeforeDelete = rec("BeforeDelete");
        t.AfterDelete = rec("AfterDelete");
        t.BeforeScroll = rec("BeforeScroll");
        t.AfterScroll = rec("AfterScroll");
        t.OnNewRecord = rec("OnNewRecord");
    }
};

} // namespace

TEST(DataSetStates, OpenCloseAndNavigationFlags) {
    TExMemoryData t;
    EXPECT_EQ(t.State(), dsInactive);
    EXPECT_THROW(t.First(), EDatabaseError);
    fill(t, {});
    EXPECT_EQ(t.State(), dsBrowse);
    EXPECT_TRUE(t.IsEmpty());
    EXPECT_TRUE(t.Bof());
    EXPECT_TRUE(t.Eof());
    t.Next();  // nothing to move to
    EXPECT_TRUE(t.Eof());

    fill(t, {{"a", 1}, {"b", 2}, {"c", 3}});
    EXPECT_TRUE(t.Bof());
    EXPECT_FALSE(t.Eof());
    EXPECT_EQ(t.FieldByName("Name").AsString(), "a");
    t.Next();
    EXPECT_FALSE(t.Bof());
    EXPECT_EQ(t.RecNo(), 2);
    t.Last();
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.FieldByName("Name").AsString(), "c");
    t.Next();  // stays on the last record
    EXPECT_EQ(t.FieldByName("Name").AsString(), "c");
    t.Prior();
    t.Prior();
    t.Prior();
    EXPECT_TRUE(t.Bof());
    EXPECT_EQ(t.FieldByName("Name").AsString(), "a");
    EXPECT_EQ(t.MoveBy(5), 2);
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.MoveBy(-1), -1);
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b");

    t.Close();
    EXPECT_EQ(t.State(), dsInactive);
    EXPECT_EQ(t.FieldCount(), 0) << "default fields go with the close";
}

TEST(DataSetStates, SingleRecordWalkEndsAfterOneStep) {
    TExMemoryData t;
    fill(t, {{"only", 1}});
    int seen = 0;
    for (t.First(); !t.Eof(); t.Next()) ++seen;
    EXPECT_EQ(seen, 1);
    EXPECT_FALSE(t.IsEmpty());
}

TEST(DataSetEvents, InsertPostOrder) {
    TExMemoryData t;
    fill(t, {{"a", 1}});
    EventLog log;
    log.attach(t);
    t.Append();
    EXPECT_EQ(t.State(), dsInsert);
    t.FieldByName("Name").SetAsString("b");
    t.Post();
    EXPECT_EQ((std::vector<std::string>{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert",
                                        "AfterScroll", "BeforePost", "AfterPost"}),
              log.items);
    EXPECT_EQ(t.State(), dsBrowse);
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b");
}

TEST(DataSetEvents, EditCancelRestoresValues) {
    TExMemoryData t;
    fill(t, {{"a", 1}, {"b", 2}});
    EventLog log;
    log.attach(t);
    t.Next();
    log.items.clear();
    t.Edit();
    t.FieldByName("Num").SetAsInteger(99);
    EXPECT_TRUE(t.Modified());
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 99);
    t.Cancel();
    EXPECT_EQ((std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel"}), log.items);
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 2);
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b");
}

TEST(DataSetEvents, CancelledInsertReturnsToPreviousRecord) {
    TExMemoryData t;
    fill(t, {{"a", 1}, {"b", 2}, {"c", 3}});
    t.Next();
    t.Insert();
    t.FieldByName("Name").SetAsString("x");
    t.Cancel();
    EXPECT_EQ(t.RecordCount(), 3);
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b");
    t.Append();
    t.Cancel();
    EXPECT_EQ(t.RecordCount(), 3);
    EXPECT_EQ(t.FieldByName("Name").AsString(), "c");
}

TEST(DataSetEvents, BeforePostCanRefuseAndKeepsEditing) {
    TExMemoryData t;
    fill(t, {{"a", 1}});
    t.BeforePost = [](TDataSet *ds) {
        if (ds->FieldByName("Num").AsInteger() < 0) DatabaseError("negative");
    };
    t.Edit();
    t.FieldByName("Num").SetAsInteger(-5);
    EXPECT_THROW(t.Post(), EDatabaseError);
    EXPECT_EQ(t.State(), dsEdit);
    t.FieldByName("Num").SetAsInteger(5);
    t.Post();
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 5);
}

TEST(DataSetEvents, NavigationPostsModifiedEditAndDropsUntouchedInsert) {
    TExMemoryData t;
    fill(t, {{"a", 1}, {"b", 2}});
    t.Edit();
    t.FieldByName("Num").SetAsInteger(10);
    t.Next();  // posts
    t.First();
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 10);
    t.Append();  // nothing assigned
    t.First();   // cancels the empty insert
    EXPECT_EQ(t.RecordCount(), 2);
}

TEST(DataSetEvents, EditOnEmptyTableInserts) {
    TExMemoryData t;
    fill(t, {});
    t.Edit();
    EXPECT_EQ(t.State(), dsInsert);
    t.FieldByName("Name").SetAsString("n");
    t.Post();
    EXPECT_EQ(t.RecordCount(), 1);
}

TEST(DataSetEvents, PostOutsideEditingFails) {
    TExMemoryData t;
    fill(t, {{"a", 1}});
    EXPECT_THROW(t.Post(), EDatabaseError);
    EXPECT_THROW(t.FieldByName("Num").SetAsInteger(3), EDatabaseError);
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 1);
}

TEST(DataSetEvents, DeleteOnEmptyFailsAndDeleteFiresEvents) {
    TExMemoryData t;
    fill(t, {});
    EXPECT_THROW(t.Delete(), EDatabaseError);
    fill(t, {{"a", 1}, {"b", 2}});
    EventLog log;
    log.attach(t);
    t.Delete();
    EXPECT_EQ((std::vector<std::string>{"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}), log.items);
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b");
}

TEST(DataSetBookmarks, GotoAndCompare) {
    TExMemoryData t;
    fill(t, {{"a", 1}, {"b", 2}, {"c", 3}});
    t.Next();
    const TBookmark b = t.GetBookmark();
    t.Last();
    const TBookmark c = t.GetBookmark();
    EXPECT_LT(t.CompareBookmarks(b, c), 0);
    EXPECT_EQ(t.CompareBookmarks(TBookmark{}, TBookmark{}), 0);
    EXPECT_LT(t.CompareBookmarks(TBookmark{}, b), 0);
    t.GotoBookmark(b);
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b");
    EXPECT_TRUE(t.BookmarkValid(b));
    t.Insert();
    EXPECT_TRUE(t.GetBookmark().empty()) << "an unposted record has no bookmark";
    t.Cancel();
}

TEST(DataSetFields, ConversionsAndErrors) {
    TExMemoryData t;
    t.FieldDefs().Add("S", ftString, 5);
    t.FieldDefs().Add("I", ftSmallint);
    t.FieldDefs().Add("L", ftLargeint);
    t.FieldDefs().Add("F", ftFloat);
    t.FieldDefs().Add("B", ftBoolean);
    t.FieldDefs().Add("D", ftDate);
    t.FieldDefs().Add("M", ftMemo);
    t.Open();
    t.Append();
    TField &s = t.FieldByName("s");  // names ignore case
    s.SetAsString("abcdefgh");
    EXPECT_EQ(s.AsString(), "abcde") << "cut to the field's width";
    s.SetAsString("ab\xC3\xA9\xC3\xA9");  // "abéé": 4 characters in 6 bytes fit a width of 5
    EXPECT_EQ(s.AsString(), "ab\xC3\xA9\xC3\xA9");
    s.SetAsString("abcd\xC3\xA9\xC3\xA9");  // "abcdéé": cut after 5 characters
    EXPECT_EQ(s.AsString(), "abcd\xC3\xA9");
    TField &i = t.FieldByName("I");
    EXPECT_TRUE(i.IsNull());
    EXPECT_EQ(i.AsInteger(), 0);
    i.SetAsString("123");
    EXPECT_EQ(i.AsInteger(), 123);
    EXPECT_THROW(i.SetAsString("12x"), EDatabaseError);
    for (int end : {32767, -32768}) {
        i.SetAsInteger(end);
        EXPECT_EQ(i.AsInteger(), end) << "the SmallInt range includes its ends";
    }
    i.SetAsInteger(123);
    for (int out : {32768, -32769})
        EXPECT_THROW(i.SetAsInteger(out), EDatabaseError) << out << " is out of SmallInt range";
    EXPECT_EQ(i.AsInteger(), 123) << "a refused value changes nothing";
    TField &l = t.FieldByName("L");
    l.SetAsLargeInt(5000000000LL);
    EXPECT_EQ(l.AsLargeInt(), 5000000000LL);
    EXPECT_THROW((void)l.AsInteger(), EDatabaseError);
    TField &f = t.FieldByName("F");
    f.SetAsString("2.5");
    EXPECT_DOUBLE_EQ(f.AsFloat(), 2.5);
    EXPECT_EQ(f.AsInteger(), 3);
    TField &b = t.FieldByName("B");
    b.SetAsString("yes");
    EXPECT_TRUE(b.AsBoolean());
    EXPECT_EQ(b.AsString(), "True");
    TField &d = t.FieldByName("D");
    d.SetAsString("2024-02-29");
    EXPECT_EQ(d.AsString(), "2024-02-29");
    d.SetAsDateTime(d.AsDateTime() + 0.75);
    EXPECT_EQ(d.AsString(), "2024-02-29") << "a date field keeps the day only";
    EXPECT_THROW(d.SetAsString("2023-02-29"), EDatabaseError);
    TField &m = t.FieldByName("M");
    m.SetAsBytes(std::string("a\0b", 3));
    EXPECT_EQ(m.AsBytes().size(), 3u);
    i.Clear();
    EXPECT_TRUE(i.IsNull());
    t.Post();
    EXPECT_EQ(t.FieldByName("M").AsBytes(), std::string("a\0b", 3));
    EXPECT_THROW(t.FieldByName("Nope"), EDatabaseError);
    EXPECT_EQ(t.FindField("Nope"), nullptr);
}

TEST(DataSetFields, ValidateSeesNewValueAndCanRefuse) {
    TExMemoryData t;
    fill(t, {{"a", 1}});
    int seen = 0;
    t.FieldByName("Num").OnValidate = [&](TField *f) {
        seen = f->AsInteger();
        if (seen > 100) DatabaseError("too big");
    };
    t.Edit();
    t.FieldByName("Num").SetAsInteger(7);
    EXPECT_EQ(seen, 7);
    EXPECT_THROW(t.FieldByName("Num").SetAsInteger(700), EDatabaseError);
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 7);
    t.Post();
}

TEST(DataSetFields, CalculatedFieldsFollowTheRecord) {
    TExMemoryData t;
    t.CreateField("Num", ftInteger);
    t.CreateField("Twice", ftInteger, 0, fkCalculated);
    t.OnCalcFields = [](TDataSet *ds) {
        ds->FieldByName("Twice").SetAsInteger(ds->FieldByName("Num").AsInteger() * 2);
    };
    t.Open();
    for (int n : {1, 2, 3}) {
        t.Append();
        t.FieldByName("Num").SetAsInteger(n);
        t.Post();
    }
    t.First();
    t.Next();
    EXPECT_EQ(t.FieldByName("Twice").AsInteger(), 4);
    t.Edit();
    t.FieldByName("Num").SetAsInteger(10);
    EXPECT_EQ(t.FieldByName("Twice").AsInteger(), 20) << "recalculated on a field change";
    t.Cancel();
    EXPECT_EQ(t.FieldByName("Twice").AsInteger(), 4);
}

TEST(DataSetFilter, FilteredNavigationSkipsRejectedRecords) {
    TExMemoryData t;
    fill(t, {{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}});
    t.SetOnFilterRecord([](TDataSet *ds, bool &accept) { accept = ds->FieldByName("Num").AsInteger() % 2 == 0; });
    t.SetFiltered(true);
    EXPECT_EQ(names(t), (std::vector<std::string>{"b", "d"}));
    EXPECT_EQ(t.RecordCount(), 4) << "the count ignores the filter";
    t.Last();
    EXPECT_EQ(t.FieldByName("Name").AsString(), "d");
    t.Prior();
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b");
    t.SetFiltered(false);
    EXPECT_EQ(names(t).size(), 4u);
}

TEST(DataSetFilter, AcceptNothingShowsNoRecord) {
    TExMemoryData t;
    fill(t, {{"a", 1}, {"b", 2}});
    t.SetOnFilterRecord([](TDataSet *, bool &accept) { accept = false; });
    t.SetFiltered(true);
    EXPECT_TRUE(t.IsEmpty());
    EXPECT_TRUE(t.Bof() && t.Eof());
    EXPECT_EQ(t.RecordCount(), 2);
}

TEST(DataSetFilter, ChangingTheHandlerWhileFilteredGoesToFirst) {
    TExMemoryData t;
    fill(t, {{"a", 1}, {"b", 2}, {"c", 3}});
    t.SetFiltered(true);  // no handler: everything shows
    t.Last();
    t.SetOnFilterRecord([](TDataSet *ds, bool &accept) { accept = ds->FieldByName("Num").AsInteger() >= 2; });
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b");
}

TEST(DataSetLocate, OptionsAndPosition) {
    TExMemoryData t;
    fill(t, {{"alpha", 1}, {"BETAMAX", 2}, {"beta", 3}, {"gamma", 4}});
    EXPECT_TRUE(t.Locate("Name", std::string("bet"), {loCaseInsensitive, loPartialKey}));
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 2);
    EXPECT_FALSE(t.Locate("Name", std::string("bet"), {loCaseInsensitive}));
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 2) << "no match keeps the position";
    EXPECT_TRUE(t.Locate("Name", std::string("gamma"), {loPartialKey})) << "a key as long as the text";
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 4);
    EXPECT_TRUE(t.Locate("Name", std::string("beta"), {}));
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 3);
    EXPECT_FALSE(t.Locate("Name", std::string("BETA"), {}));
    EXPECT_TRUE(t.Locate("Name;Num", {std::string("gamma"), std::int64_t{4}}, {}));
    EXPECT_EQ(t.RecNo(), 4);
    EXPECT_THROW(t.Locate("Nope", std::string("x"), {}), EDatabaseError);
}

TEST(DataSetLocate, CurrentMatchDoesNotMoveAndPartialKeyLongerThanTextFails) {
    TExMemoryData t;
    fill(t, {{"same", 1}, {"same", 2}, {"ab", 3}});
    t.Next();
    EXPECT_TRUE(t.Locate("Name", std::string("same"), {}));
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 2);
    EXPECT_FALSE(t.Locate("Name", std::string("abc"), {loPartialKey}));
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 2);
}

TEST(DataSetLocate, NonStringFieldsCompareAsValuesEvenCaseInsensitively) {
    TExMemoryData t;
    fill(t, {{"a", 10}, {"b", 20}});
    EXPECT_TRUE(t.Locate("Num", std::string("20"), {loCaseInsensitive}));
    EXPECT_EQ(t.FieldByName("Name").AsString(), "b");
    EXPECT_FALSE(t.Locate("Num", std::string("2"), {loCaseInsensitive, loPartialKey}));
    EXPECT_TRUE(t.Locate("Num", 10.0, {}));
}

TEST(DataSetLocate, CaseInsensitiveBeyondAscii) {
    TExMemoryData t;
    fill(t, {{"\xC4\x8D\x61j", 1}});  // "čaj"
    EXPECT_TRUE(t.Locate("Name", std::string("\xC4\x8C" "A"), {loCaseInsensitive, loPartialKey}));  // "ČA"
}

TEST(DataSetLocate, LookupKeepsPosition) {
    TExMemoryData t;
    fill(t, {{"a", 1}, {"b", 2}, {"c", 3}});
    t.Last();
    auto v = t.Lookup("Name", {std::string("b")}, "Num");
    ASSERT_EQ(v.size(), 1u);
    EXPECT_TRUE(VarEquals(v[0], std::int64_t{2}));
    EXPECT_EQ(t.FieldByName("Name").AsString(), "c");
    v = t.Lookup("Name", {std::string("zz")}, "Num");
    EXPECT_TRUE(VarIsNull(v[0]));
    EXPECT_EQ(t.FieldByName("Name").AsString(), "c");
}

namespace {
struct RecordingLink : TDataLink {
    std::vector<std::string> calls;
    void ActiveChanged() override { calls.push_back("active"); }
    void DataSetChanged() override { calls.push_back("changed"); }
    void DataSetScrolled(int d) override { calls.push_back("scrolled " + std::to_string(d)); }
    void RecordChanged(TField *f) override { calls.push_back(std::string("record ") + (f ? f->FieldName() : "-")); }
    void EditingChanged() override { calls.push_back("editing"); }
};
} // namespace

TEST(DataSetSources, ListenersHearChangesAndControlsCanBeDisabled) {
    TExMemoryData t;
    TDataSource src(&t);
    RecordingLink link;
    link.SetDataSource(&src);
    link.calls.clear();
    fill(t, {{"a", 1}, {"b", 2}});
    EXPECT_TRUE(link.Active());
    link.calls.clear();
    t.Next();
    EXPECT_EQ(link.calls, (std::vector<std::string>{"scrolled 1"}));
    link.calls.clear();
    t.Edit();
    t.FieldByName("Num").SetAsInteger(5);
    EXPECT_NE(std::find(link.calls.begin(), link.calls.end(), "record Num"), link.calls.end());
    EXPECT_NE(std::find(link.calls.begin(), link.calls.end(), "editing"), link.calls.end());
    t.Post();
    link.calls.clear();
    t.DisableControls();
    t.First();
    t.Next();
    EXPECT_TRUE(link.calls.empty());
    t.EnableControls();
    EXPECT_EQ(link.calls, (std::vector<std::string>{"changed"}));
    link.calls.clear();
    t.Close();
    EXPECT_EQ(link.calls, (std::vector<std::string>{"active"}));
    EXPECT_FALSE(link.Active());
}

TEST(DataSetSources, DestroyedDataSetLeavesSourceDetached) {
    TDataSource src;
    RecordingLink link;
    link.SetDataSource(&src);
    {
        TExMemoryData t;
        src.SetDataSet(&t);
        fill(t, {{"a", 1}});
    }
    EXPECT_EQ(src.DataSet(), nullptr);
    EXPECT_FALSE(link.Active());
}

TEST(DataSetUtils, AssignRecordByNameAndByPosition) {
    TExMemoryData a, b;
    fill(a, {{"x", 7}});
    b.FieldDefs().Add("Num", ftInteger);
    b.FieldDefs().Add("Other", ftString, 10);
    b.Open();
    EXPECT_THROW(AssignRecord(a, b, true), EDatabaseError) << "dest must be editing";
    b.Append();
    AssignRecord(a, b, true);
    EXPECT_EQ(b.FieldByName("Num").AsInteger(), 7);
    EXPECT_TRUE(b.FieldByName("Other").IsNull());
    EXPECT_THROW(AssignRecord(a, b, false), EDatabaseError) << "\"x\" is no integer";
    b.Cancel();
}

TEST(DataSetUtils, AssignRecordByPositionPairsDefinitions) {
    TExMemoryData a, b;
    fill(a, {{"42", 7}});
    b.FieldDefs().Add("First", ftInteger);
    b.FieldDefs().Add("Second", ftString, 10);
    b.Open();
    b.Append();
    AssignRecord(a, b, false);
    EXPECT_EQ(b.FieldByName("First").AsInteger(), 42);
    EXPECT_EQ(b.FieldByName("Second").AsString(), "7");
    b.Post();
}
