// The data-set base's state machine, events, bookmarks, filtered navigation,
// Locate and field conversions, driven through the in-memory table.
#include "storage/DBUtils.h"
#include "storage/ExMemDS.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>
#include "support/FieldTexts.h"

namespace {

using Strings = std::vector<std::string>;

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

Strings names(TDataSet &t) { return orbtest::FieldTexts(t); }

// The current record as "name/num".
std::string row(TDataSet &t) {
    return t.FieldByName("Name").AsString() + "/" + std::to_string(t.FieldByName("Num").AsInteger());
}

struct EventLog {
    Strings items;
    void attach(TDataSet &t) {
        using E = TDataSet::TDataSetNotifyEvent TDataSet::*;
        const std::pair<E, const char *> events[] = {
            {&TDataSet::BeforeInsert, "BeforeInsert"}, {&TDataSet::AfterInsert, "AfterInsert"},
            {&TDataSet::BeforeEdit, "BeforeEdit"},     {&TDataSet::AfterEdit, "AfterEdit"},
            {&TDataSet::BeforePost, "BeforePost"},     {&TDataSet::AfterPost, "AfterPost"},
            {&TDataSet::BeforeCancel, "BeforeCancel"}, {&TDataSet::AfterCancel, "AfterCancel"},
            {&TDataSet::BeforeDelete, "BeforeDelete"}, {&TDataSet::AfterDelete, "AfterDelete"},
            {&TDataSet::BeforeScroll, "BeforeScroll"}, {&TDataSet::AfterScroll, "AfterScroll"},
            {&TDataSet::OnNewRecord, "OnNewRecord"}};
        for (const auto &[event, name] : events)
            t.*event = [this, n = name](TDataSet *) { items.push_back(n); };
    }
};

} // namespace

TEST(DataSetStates, OpenCloseAndNavigationFlags) {
    TExMemoryData t;
    EXPECT_EQ(t.State(), dsInactive);
    EXPECT_THROW(t.First(), EDatabaseError);
    fill(t, {});
    EXPECT_EQ(t.State(), dsBrowse);
    EXPECT_TRUE(t.IsEmpty() && t.Bof() && t.Eof());
    t.Next();  // nothing to move to
    EXPECT_TRUE(t.Eof());
    fill(t, {{"a", 1}, {"b", 2}, {"c", 3}});
    EXPECT_TRUE(t.Bof());
    EXPECT_FALSE(t.Eof());
    EXPECT_EQ(row(t), "a/1");
    t.Next();
    EXPECT_FALSE(t.Bof());
    EXPECT_EQ(t.RecNo(), 2);
    t.Last();
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(row(t), "c/3");
    t.Next();  // stays on the last record
    EXPECT_EQ(row(t), "c/3");
    t.Prior();
    t.Prior();
    t.Prior();
    EXPECT_TRUE(t.Bof());
    EXPECT_EQ(row(t), "a/1");
    EXPECT_EQ(t.MoveBy(5), 2);
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.MoveBy(-1), -1);
    EXPECT_EQ(row(t), "b/2");
    t.Close();
    EXPECT_EQ(t.State(), dsInactive);
    EXPECT_EQ(t.FieldCount(), 0) << "default fields go with the close";
    // A walk over a single record ends after one step.
    TExMemoryData one;
    fill(one, {{"only", 1}});
    EXPECT_EQ(names(one), Strings{"only"});
    EXPECT_FALSE(one.IsEmpty());
}

TEST(DataSetEvents, InsertEditCancelAndDeleteOrder) {
    TExMemoryData t;
    fill(t, {});
    EXPECT_THROW(t.Delete(), EDatabaseError);
    fill(t, {{"a", 1}, {"b", 2}});
    EventLog log;
    log.attach(t);
    t.Append();
    EXPECT_EQ(t.State(), dsInsert);
    t.FieldByName("Name").SetAsString("c");
    t.Post();
    EXPECT_EQ(log.items, (Strings{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll",
                                  "BeforePost", "AfterPost"}));
    EXPECT_EQ(t.State(), dsBrowse);
    EXPECT_EQ(row(t), "c/0");
    t.First();
    t.Next();
    log.items.clear();
    t.Edit();
    t.FieldByName("Num").SetAsInteger(99);
    EXPECT_TRUE(t.Modified());
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 99);
    t.Cancel();
    EXPECT_EQ(log.items, (Strings{"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel"}));
    EXPECT_EQ(row(t), "b/2");
    t.First();
    log.items.clear();
    t.Delete();
    EXPECT_EQ(log.items, (Strings{"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}));
    EXPECT_EQ(row(t), "b/2");
}

TEST(DataSetEvents, CancelledInsertReturnsToPreviousRecord) {
    TExMemoryData t;
    fill(t, {{"a", 1}, {"b", 2}, {"c", 3}});
    t.Next();
    t.Insert();
    t.FieldByName("Name").SetAsString("x");
    t.Cancel();
    EXPECT_EQ(t.RecordCount(), 3);
    EXPECT_EQ(row(t), "b/2");
    t.Append();
    t.Cancel();
    EXPECT_EQ(t.RecordCount(), 3);
    EXPECT_EQ(row(t), "c/3");
}

TEST(DataSetEvents, BeforePostCanRefuseAndKeepsEditing) {
    TExMemoryData t;
    fill(t, {{"a", 1}});
    EXPECT_THROW(t.Post(), EDatabaseError) << "not editing";
    EXPECT_THROW(t.FieldByName("Num").SetAsInteger(3), EDatabaseError);
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 1);
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
    // Edit on an empty table inserts.
    TExMemoryData e;
    fill(e, {});
    e.Edit();
    EXPECT_EQ(e.State(), dsInsert);
    e.FieldByName("Name").SetAsString("n");
    e.Post();
    EXPECT_EQ(e.RecordCount(), 1);
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
    EXPECT_EQ(row(t), "b/2");
    EXPECT_TRUE(t.BookmarkValid(b));
    t.Insert();
    EXPECT_TRUE(t.GetBookmark().empty()) << "an unposted record has no bookmark";
    t.Cancel();
}

TEST(DataSetFields, ConversionsAndErrors) {
    TExMemoryData t;
    const std::pair<const char *, TFieldType> defs[] = {{"I", ftSmallint}, {"L", ftLargeint}, {"F", ftFloat},
                                                        {"B", ftBoolean},  {"D", ftDate},      {"M", ftMemo}};
    t.FieldDefs().Add("S", ftString, 5);
    for (const auto &[name, type] : defs) t.FieldDefs().Add(name, type);
    t.Open();
    t.Append();
    TField &s = t.FieldByName("s");  // names ignore case
    // Cut to the field's width in characters: "abéé" is 4 characters in 6 bytes, "abcdéé" is cut after 5.
    for (const auto &[in, out] : {std::pair<std::string, std::string>{"abcdefgh", "abcde"},
                                  {"ab\xC3\xA9\xC3\xA9", "ab\xC3\xA9\xC3\xA9"}, {"abcd\xC3\xA9\xC3\xA9", "abcd\xC3\xA9"}}) {
        s.SetAsString(in);
        EXPECT_EQ(s.AsString(), out) << in;
    }
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

TEST(DataSetFields, ValidateAndCalculatedFields) {
    TExMemoryData t;
    fill(t, {{"a", 1}});
    int seen = 0;
    t.FieldByName("Num").OnValidate = [&](TField *f) {
        seen = f->AsInteger();
        if (seen > 100) DatabaseError("too big");
    };
    t.Edit();
    t.FieldByName("Num").SetAsInteger(7);
    EXPECT_EQ(seen, 7) << "the handler sees the new value";
    EXPECT_THROW(t.FieldByName("Num").SetAsInteger(700), EDatabaseError);
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 7);
    t.Post();
    TExMemoryData c;
    c.CreateField("Num", ftInteger);
    c.CreateField("Twice", ftInteger, 0, fkCalculated);
    c.OnCalcFields = [](TDataSet *ds) { ds->FieldByName("Twice").SetAsInteger(ds->FieldByName("Num").AsInteger() * 2); };
    c.Open();
    for (int n : {1, 2, 3}) {
        c.Append();
        c.FieldByName("Num").SetAsInteger(n);
        c.Post();
    }
    c.First();
    c.Next();
    EXPECT_EQ(c.FieldByName("Twice").AsInteger(), 4);
    c.Edit();
    c.FieldByName("Num").SetAsInteger(10);
    EXPECT_EQ(c.FieldByName("Twice").AsInteger(), 20) << "recalculated on a field change";
    c.Cancel();
    EXPECT_EQ(c.FieldByName("Twice").AsInteger(), 4);
}

TEST(DataSetFilter, FilteredNavigationSkipsRejectedRecords) {
    TExMemoryData t;
    fill(t, {{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}});
    t.SetOnFilterRecord([](TDataSet *ds, bool &accept) { accept = ds->FieldByName("Num").AsInteger() % 2 == 0; });
    t.SetFiltered(true);
    EXPECT_EQ(names(t), (Strings{"b", "d"}));
    EXPECT_EQ(t.RecordCount(), 4) << "the count ignores the filter";
    t.Last();
    EXPECT_EQ(row(t), "d/4");
    t.Prior();
    EXPECT_EQ(row(t), "b/2");
    t.SetFiltered(false);
    EXPECT_EQ(names(t).size(), 4u);
    // Accepting nothing shows no record.
    t.SetOnFilterRecord([](TDataSet *, bool &accept) { accept = false; });
    t.SetFiltered(true);
    EXPECT_TRUE(t.IsEmpty());
    EXPECT_TRUE(t.Bof() && t.Eof());
    EXPECT_EQ(t.RecordCount(), 4);
}

TEST(DataSetFilter, ChangingTheHandlerWhileFilteredGoesToFirst) {
    TExMemoryData t;
    fill(t, {{"a", 1}, {"b", 2}, {"c", 3}});
    t.SetFiltered(true);  // no handler: everything shows
    t.Last();
    t.SetOnFilterRecord([](TDataSet *ds, bool &accept) { accept = ds->FieldByName("Num").AsInteger() >= 2; });
    EXPECT_EQ(row(t), "b/2");
}

TEST(DataSetLocate, OptionsAndPosition) {
    TExMemoryData t;
    fill(t, {{"alpha", 1}, {"BETAMAX", 2}, {"beta", 3}, {"gamma", 4}, {"same", 5}, {"same", 6}});
    const TLocateOptions ci{loCaseInsensitive}, part{loPartialKey}, ciPart{loCaseInsensitive, loPartialKey};
    // Each search starts where the previous one left; no match keeps the position.
    const struct { const char *key; TLocateOptions options; bool found; int num; } cases[] = {
        {"bet", ciPart, true, 2}, {"bet", ci, false, 2}, {"gamma", part, true, 4} /* a key as long as the text */,
        {"beta", {}, true, 3}, {"BETA", {}, false, 3}, {"same", {}, true, 5}};
    for (const auto &c : cases) {
        EXPECT_EQ(t.Locate("Name", std::string(c.key), c.options), c.found) << c.key;
        EXPECT_EQ(t.FieldByName("Num").AsInteger(), c.num) << c.key;
    }
    t.Next();
    EXPECT_TRUE(t.Locate("Name", std::string("same"), {}));
    EXPECT_EQ(t.FieldByName("Num").AsInteger(), 6) << "a current match does not move";
    EXPECT_FALSE(t.Locate("Name", std::string("sameness"), {loPartialKey})) << "a partial key longer than the text";
    EXPECT_TRUE(t.Locate("Name;Num", {std::string("gamma"), std::int64_t{4}}, {}));
    EXPECT_EQ(t.RecNo(), 4);
    EXPECT_THROW(t.Locate("Nope", std::string("x"), {}), EDatabaseError);
    // Other fields compare as values, even case-insensitively: "2" is no prefix of 20.
    TExMemoryData u;
    fill(u, {{"a", 10}, {"b", 20}, {"\xC4\x8D\x61j", 1}});  // "čaj" found by "ČA"
    EXPECT_TRUE(u.Locate("Num", std::string("20"), ci));
    EXPECT_EQ(row(u), "b/20");
    EXPECT_FALSE(u.Locate("Num", std::string("2"), ciPart));
    EXPECT_TRUE(u.Locate("Num", 10.0, {}));
    EXPECT_EQ(row(u), "a/10");
    EXPECT_TRUE(u.Locate("Name", std::string("\xC4\x8C" "A"), ciPart));
}

TEST(DataSetLocate, LookupKeepsPosition) {
    TExMemoryData t;
    fill(t, {{"a", 1}, {"b", 2}, {"c", 3}});
    t.Last();
    auto v = t.Lookup("Name", {std::string("b")}, "Num");
    ASSERT_EQ(v.size(), 1u);
    EXPECT_TRUE(VarEquals(v[0], std::int64_t{2}));
    EXPECT_EQ(row(t), "c/3");
    v = t.Lookup("Name", {std::string("zz")}, "Num");
    EXPECT_TRUE(VarIsNull(v[0]));
    EXPECT_EQ(row(t), "c/3");
}

namespace {
struct RecordingLink : TDataLink {
    Strings calls;
    void ActiveChanged() override { calls.push_back("active"); }
    void DataSetChanged() override { calls.push_back("changed"); }
    void DataSetScrolled(int d) override { calls.push_back("scrolled " + std::to_string(d)); }
    void RecordChanged(TField *f) override { calls.push_back(std::string("record ") + (f ? f->FieldName() : "-")); }
    void EditingChanged() override { calls.push_back("editing"); }
    bool heard(const char *what) const { return std::find(calls.begin(), calls.end(), what) != calls.end(); }
};
} // namespace

TEST(DataSetSources, ListenersHearChangesAndControlsCanBeDisabled) {
    TExMemoryData t;
    TDataSource src(&t);
    RecordingLink link;
    link.SetDataSource(&src);
    fill(t, {{"a", 1}, {"b", 2}});
    EXPECT_TRUE(link.Active());
    link.calls.clear();
    t.Next();
    EXPECT_EQ(link.calls, (Strings{"scrolled 1"}));
    link.calls.clear();
    t.Edit();
    t.FieldByName("Num").SetAsInteger(5);
    EXPECT_TRUE(link.heard("record Num"));
    EXPECT_TRUE(link.heard("editing"));
    t.Post();
    link.calls.clear();
    t.DisableControls();
    t.First();
    t.Next();
    EXPECT_TRUE(link.calls.empty());
    t.EnableControls();
    EXPECT_EQ(link.calls, (Strings{"changed"}));
    link.calls.clear();
    t.Close();
    EXPECT_EQ(link.calls, (Strings{"active"}));
    EXPECT_FALSE(link.Active());
    // A destroyed data set leaves its source detached.
    TDataSource other;
    RecordingLink second;
    second.SetDataSource(&other);
    {
        TExMemoryData gone;
        other.SetDataSet(&gone);
        fill(gone, {{"a", 1}});
    }
    EXPECT_EQ(other.DataSet(), nullptr);
    EXPECT_FALSE(second.Active());
}

TEST(DataSetUtils, AssignRecordByNameAndByPosition) {
    TExMemoryData a, b, c;
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
    // By position the definitions pair up in order.
    fill(a, {{"42", 8}});
    a.Last();
    c.FieldDefs().Add("First", ftInteger);
    c.FieldDefs().Add("Second", ftString, 10);
    c.Open();
    c.Append();
    AssignRecord(a, c, false);
    EXPECT_EQ(c.FieldByName("First").AsInteger(), 42);
    EXPECT_EQ(c.FieldByName("Second").AsString(), "8");
    c.Post();
}
