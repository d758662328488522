// The in-memory table's packed records (kept through inserts, edits, deletes and
// a table's refilling), its moving copy into a table file against the plain copy,
// and the take-back after a copy that failed part-way.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"

namespace {

struct TCol { const char *name; TFieldType type; int size; };
// The memory table is wider than the file in places (Number, Small), as a scan is.
const std::vector<TCol> kMem = {{"Path", ftString, 64}, {"Number", ftString, 20}, {"Attrib", ftInteger, 0},
                                {"Icon", ftBlob, 0},    {"Big", ftLargeint, 0},   {"Small", ftInteger, 0},
                                {"Day", ftDate, 0},     {"Flag", ftBoolean, 0}};
const std::vector<TCol> kFile = {{"Path", ftString, 64}, {"Number", ftString, 8}, {"Attrib", ftInteger, 0},
                                 {"Icon", ftBlob, 0},    {"Big", ftLargeint, 0},  {"Small", ftSmallint, 0},
                                 {"Day", ftDate, 0},     {"Flag", ftBoolean, 0}};

using TRow = std::vector<TVariant>;
const TVariant N;

void Open(TDataSet &t, const std::vector<TCol> &cols)
{
    for (const TCol &c : cols)
        t.FieldDefs().Add(c.name, c.type, c.size);
    t.Open();
}

// Row i: texts of varying length (some past the 7-bit length step), now and then
// a NULL, a long Number the file cuts, and an icon far larger than a chunk.
TRow RowOf(int i)
{
    TRow r(kMem.size());
    r[0] = "c:\\folder" + std::to_string(i % 13) + "\\" + std::string(size_t(i % 70), 'p');
    r[1] = i % 5 == 0 ? TVariant(N) : TVariant("n" + std::to_string(i) + "-long-number");
    r[2] = std::int64_t(i * 7 - 100);
    if (i % 97 == 3)
        r[3] = std::string(size_t(70000 + i), char('a' + i % 26));
    else if (i % 4 == 1)
        r[3] = std::string("\0ic", 3);
    r[4] = std::int64_t(i + 1) << 33; // a zero number reads back empty from a table file
    r[5] = std::int64_t(i % 30000 + 1);
    r[6] = i % 3 == 0 ? TVariant(N) : TVariant(double(40000 + i));
    r[7] = i % 2 == 0;
    return r;
}

void Put(TDataSet &t, const TRow &r)
{
    for (int f = 0; f < t.FieldCount(); ++f) {
        if (VarIsNull(r[size_t(f)]))
            t.Fields(f).Clear();
        else
            t.Fields(f).SetValue(r[size_t(f)]);
    }
}

void Append(TExMemoryData &t, const TRow &r)
{
    t.Append();
    Put(t, r);
    t.Post();
}

std::vector<TRow> Rows(TDataSet &t)
{
    std::vector<TRow> rows;
    for (t.First(); !t.Eof(); t.Next()) {
        rows.emplace_back();
        for (int f = 0; f < t.FieldCount(); ++f)
            rows.back().push_back(t.Fields(f).Value());
    }
    return rows;
}

// The first difference of two row lists, readable ("" when none).
std::string Diff(const std::vector<TRow> &a, const std::vector<TRow> &b)
{
    if (a.size() != b.size())
        return std::to_string(a.size()) + " rows against " + std::to_string(b.size());
    for (size_t i = 0; i < a.size(); ++i)
        for (size_t f = 0; f < a[i].size() && f < b[i].size(); ++f)
            if (a[i][f] != b[i][f])
                return "row " + std::to_string(i) + " field " + std::to_string(f) + ": " +
                       VarToStr(a[i][f]).substr(0, 40) + " against " + VarToStr(b[i][f]).substr(0, 40);
    return "";
}

std::vector<std::int32_t> Ids(TExMemoryData &t)
{
    std::vector<std::int32_t> ids;
    for (t.First(); !t.Eof(); t.Next())
        ids.push_back(t.CurrentID());
    return ids;
}

// A memory table of `count` rows, some edited, inserted before others or deleted
// on the way, so the records no longer lie in the order they were packed.
void Fill(TExMemoryData &t, int count)
{
    Open(t, kMem);
    for (int i = 0; i < count; ++i)
        Append(t, RowOf(i));
    int i = 0;
    for (t.First(); !t.Eof(); ++i) {
        if (i % 11 == 5) {
            t.Delete();
            continue;
        }
        if (i % 9 == 2) {
            t.Edit();
            t.FieldByName("Path").SetAsString("edited " + std::to_string(i));
            t.Post();
        }
        if (i % 17 == 8) {
            t.Insert();
            Put(t, RowOf(count + i));
            t.Post();
            t.Next();
        }
        t.Next();
    }
}

std::string Saved(TFlatTable &t, orbtest::TempDir &dir, const std::string &name)
{
    t.SaveToFile(dir.file(name));
    return orbtest::readFile(dir.file(name));
}

} // namespace

TEST(ExMemPacked, RecordsKeepTheirValuesThroughEditsInsertsDeletesAndRefilling)
{
    TExMemoryData t;
    Open(t, kMem);
    std::vector<TRow> model;
    std::vector<std::int32_t> ids;
    std::mt19937 random(7);
    for (int step = 0; step < 3000; ++step) {
        const int op = int(random() % 10);
        const int at = model.empty() ? 0 : int(random() % model.size());
        const TRow row = RowOf(step);
        if (op < 5 || model.empty()) {
            Append(t, row);
            model.push_back(row);
            ids.push_back(t.CurrentID());
        } else if (op < 7) {
            t.SetRecNo(at + 1);
            t.Edit();
            Put(t, row);
            t.Post();
            model[size_t(at)] = row;
        } else if (op < 8) {
            t.SetRecNo(at + 1);
            t.Insert();
            Put(t, row);
            t.Post();
            model.insert(model.begin() + at, row);
            ids.insert(ids.begin() + at, t.CurrentID());
        } else {
            t.SetRecNo(at + 1);
            t.Delete();
            model.erase(model.begin() + at);
            ids.erase(ids.begin() + at);
        }
    }
    // What the table reads back is what was set (the memory table keeps Number whole).
    std::vector<TRow> expected = model;
    for (TRow &r : expected)
        for (size_t f = 0; f < r.size(); ++f)
            r[f] = t.Fields(int(f)).Canonical(r[f]);
    EXPECT_EQ(Diff(Rows(t), expected), "");
    EXPECT_EQ(Ids(t), ids);
    // Bookmarks still find their records.
    t.SetRecNo(int(model.size() / 2) + 1);
    const TBookmark mark = t.GetBookmark();
    t.First();
    t.GotoBookmark(mark);
    EXPECT_EQ(t.CurrentID(), ids[model.size() / 2]);
    // Emptied and filled again, the table holds only the new records.
    t.EmptyTable();
    EXPECT_EQ(t.RecordCount(), 0);
    Append(t, RowOf(1));
    EXPECT_EQ(t.RecordCount(), 1);
    EXPECT_EQ(t.FieldByName("Path").AsString(), std::get<std::string>(RowOf(1)[0]));
}

TEST(ExMemMove, MovingCopyWritesTheSameFileAsThePlainCopyAndEmptiesTheTable)
{
    orbtest::TempDir dir;
    TExMemoryData plainSource, movedSource;
    Fill(plainSource, 400);
    Fill(movedSource, 400);
    ASSERT_EQ(Diff(Rows(plainSource), Rows(movedSource)), "");
    const int count = plainSource.RecordCount();
    TFlatTable plain, moved;
    Open(plain, kFile);
    Open(moved, kFile);
    EXPECT_EQ(plainSource.SaveToDataSet(plain, 0), count);
    EXPECT_EQ(movedSource.MoveToDataSet(moved), count);
    EXPECT_EQ(Diff(Rows(moved), Rows(plain)), "");
    EXPECT_EQ(Saved(moved, dir, "moved.d"), Saved(plain, dir, "plain.d"));
    EXPECT_EQ(movedSource.RecordCount(), 0);
    EXPECT_EQ(movedSource.MovedCount(), count);
    EXPECT_EQ(plainSource.RecordCount(), count);
    // The table takes new records afterwards; emptying it forgets the moved ones.
    Append(movedSource, RowOf(1));
    EXPECT_EQ(movedSource.RecordCount(), 1);
    movedSource.EmptyTable();
    EXPECT_EQ(movedSource.MovedCount(), 0);
}

TEST(ExMemMove, RecordsAFilterHidesStayInTheirOrder)
{
    TExMemoryData t;
    Fill(t, 60);
    const std::vector<TRow> all = Rows(t);
    t.SetOnFilterRecord([](TDataSet *d, bool &accept) { accept = d->FieldByName("Attrib").AsInteger() % 3 != 0; });
    t.SetFiltered(true);
    const std::vector<TRow> shown = Rows(t);
    TFlatTable files;
    Open(files, kMem);
    EXPECT_EQ(t.MoveToDataSet(files), int(shown.size()));
    EXPECT_EQ(Diff(Rows(files), shown), "");
    t.SetFiltered(false);
    std::vector<TRow> hidden;
    for (const TRow &r : all)
        if (std::get<std::int64_t>(r[2]) % 3 == 0)
            hidden.push_back(r);
    ASSERT_FALSE(hidden.empty());
    EXPECT_EQ(Diff(Rows(t), hidden), "");
}

TEST(ExMemMove, ValueRefusedLateStopsTheMoveAndTakeBackRestoresTheTable)
{
    for (const int refused : {0, 150, 299}) {
        SCOPED_TRACE(refused);
        TExMemoryData t;
        Open(t, kMem);
        for (int i = 0; i < 300; ++i) {
            TRow r = RowOf(i);
            r[1] = "n" + std::to_string(i); // fits the file: taken back unchanged
            if (i == refused)
                r[5] = std::int64_t(40000); // too big for the file's Small field
            Append(t, r);
        }
        // Edits make the IDs run out of order.
        t.SetRecNo(10);
        t.Insert();
        Put(t, RowOf(1000));
        t.FieldByName("Number").SetAsString("ins");
        t.Post();
        const std::vector<TRow> before = Rows(t);
        const std::vector<std::int32_t> ids = Ids(t);
        const int refusedAt = refused < 9 ? refused : refused + 1;

        TFlatTable files;
        Open(files, kFile);
        // A record of another disc already in the file stays out of the take-back.
        files.Append();
        files.FieldByName("Path").SetAsString("other");
        files.Post();
        EXPECT_THROW(t.MoveToDataSet(files), EDatabaseError);
        EXPECT_EQ(t.MovedCount(), refusedAt);
        EXPECT_EQ(files.RecordCount(), 1 + refusedAt);
        EXPECT_EQ(files.State(), dsBrowse);
        ASSERT_EQ(t.RecordCount(), int(before.size()) - refusedAt);
        EXPECT_EQ(Diff({Rows(t)[0]}, {before[size_t(refusedAt)]}), ""); // the refused record stays first

        files.First();
        EXPECT_EQ(t.TakeBack(files, [&] { return files.FieldByName("Path").AsString() != "other"; }), refusedAt);
        EXPECT_EQ(Diff(Rows(t), before), "");
        EXPECT_EQ(Ids(t), ids);
        EXPECT_EQ(t.MovedCount(), 0);
        EXPECT_EQ(files.RecordCount(), 1 + refusedAt); // the source is left as it was
    }
}

TEST(ExMemSetValues, OneGoEqualsOneAtATimeAndWatchersAreRefused)
{
    TExMemoryData a, b;
    Open(a, kMem);
    Open(b, kMem);
    std::vector<TField *> fields;
    for (int f = 0; f < b.FieldCount(); ++f)
        fields.push_back(&b.Fields(f));
    EXPECT_FALSE(b.CanSetFieldValues(fields)); // controls enabled
    b.DisableControls();
    ASSERT_TRUE(b.CanSetFieldValues(fields));
    for (int i = 0; i < 50; ++i) {
        TRow r = RowOf(i);
        r[0] = std::string(70, 'x') + std::to_string(i); // past the width: cut
        r[2] = std::to_string(i);                         // a text into a number field
        Append(a, r);
        b.Append();
        b.SetFieldValues(fields, r);
        b.Post();
    }
    b.EnableControls();
    EXPECT_EQ(Diff(Rows(b), Rows(a)), "");
    // A bad value fails as setting it would, the fields before it set.
    b.DisableControls();
    b.Append();
    TRow bad = RowOf(1);
    bad[2] = "not a number";
    EXPECT_THROW(b.SetFieldValues(fields, bad), EDatabaseError);
    EXPECT_EQ(b.FieldByName("Path").AsString(), std::get<std::string>(RowOf(1)[0]));
    b.Cancel();
    b.FieldByName("Attrib").OnChange = [](TField *) {};
    EXPECT_FALSE(b.CanSetFieldValues(fields));
    b.Append();
    TRow watched = RowOf(2);
    EXPECT_THROW(b.SetFieldValues(fields, watched), EDatabaseError);
    b.Cancel();
    b.EnableControls();
}

TEST(ExMemAppendValues, StoresWhatThePostWouldAndStepsAsideForWatchers)
{
    TExMemoryData a, b;
    Open(a, kMem);
    Open(b, kMem);
    // Some fields only, in an order of their own: the others stay empty.
    const std::vector<int> order = {2, 0, 4, 1, 6};
    std::vector<TField *> fields;
    for (int f : order)
        fields.push_back(&b.Fields(f));
    const auto rowFor = [&](int i) {
        TRow full = RowOf(i);
        full[0] = std::string(size_t(60 + i % 10), char('a' + i % 26)) + "\xc5\xa1"; // cut at a character
        full[2] = std::to_string(i * 3);                                                  // a text into a number
        TRow part;
        for (int f : order)
            part.push_back(full[size_t(f)]);
        return std::make_pair(full, part);
    };
    b.DisableControls();
    for (int i = 0; i < 40; ++i) {
        auto [full, part] = rowFor(i);
        for (size_t f = 0; f < full.size(); ++f)
            if (std::find(order.begin(), order.end(), int(f)) == order.end())
                full[f] = N;
        Append(a, full);
        if (i % 10 == 7) { // one now and then the usual way, between the straight ones
            b.Append();
            b.SetFieldValues(fields, part);
            b.Post();
            continue;
        }
        ASSERT_TRUE(b.AppendValues(fields, part)) << i;
    }
    // The current record is the last one once read again, as after a post.
    b.Resync();
    EXPECT_EQ(b.CurrentID(), a.CurrentID());
    EXPECT_EQ(b.FieldByName("Attrib").AsString(), a.FieldByName("Attrib").AsString());
    b.EnableControls();
    EXPECT_EQ(Diff(Rows(b), Rows(a)), "");
    EXPECT_EQ(Ids(b), Ids(a));

    // Refused, with nothing changed: a value that does not convert, controls on,
    // a handler of the post, a filter.
    const int count = b.RecordCount();
    const std::int32_t last = b.LastID();
    b.DisableControls();
    TRow bad = rowFor(1).second;
    bad[0] = "not a number";
    EXPECT_FALSE(b.AppendValues(fields, bad));
    EXPECT_EQ(b.State(), dsBrowse);
    b.EnableControls();
    EXPECT_FALSE(b.AppendValues(fields, rowFor(2).second));
    b.DisableControls();
    b.AfterPost = [](TDataSet *) {};
    EXPECT_FALSE(b.AppendValues(fields, rowFor(3).second));
    b.AfterPost = nullptr;
    b.SetOnFilterRecord([](TDataSet *, bool &accept) { accept = true; });
    b.SetFiltered(true);
    EXPECT_FALSE(b.AppendValues(fields, rowFor(4).second));
    b.SetFiltered(false);
    b.EnableControls();
    EXPECT_EQ(b.RecordCount(), count);
    EXPECT_EQ(b.LastID(), last);
}
