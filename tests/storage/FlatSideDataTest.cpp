// What the store keeps beside its records: the copy of a record taken when an edit
// begins and a caller's data for a record. Both must follow every way a record changes,
// goes back or goes away, for a store read from a file as for one filled by posts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "storage/FlatTbl.h"
#include "storage/FlatTblStore.h"

namespace {

std::string Description()
{
    return FlatDescribeField("Id", fftInteger, 0) + FlatDescribeField("Name", fftString, 40) + '\x14';
}

struct Store {
    TFlatCursor c;
    std::string err;
    Store()
    {
        EXPECT_TRUE(c.ReadImage(TFlatCursor::BuildEmptyImage(Description(), 2), err)) << err;
    }
    TFlatRecord Make(int id, const std::string &name)
    {
        TFlatRecord r = TFlatRecord::Make(c.RecordSize);
        const int32_t v = id;
        std::memcpy(r.Fixed() + c.Fields[0].Offset, &v, 4);
        r.SetVar(c.Fields, c.RecordSize, c.Fields[1], name);
        return r;
    }
    TFlatRecEntry *Add(int id, const std::string &name)
    {
        TFlatRecEntry *added = nullptr;
        EXPECT_TRUE(c.PutRecord(Make(id, name), nullptr, err, &added)) << err;
        return added;
    }
    void Put(TFlatRecEntry *e, int id, const std::string &name)
    {
        c.BeginEdit(e);
        EXPECT_TRUE(c.PutRecord(Make(id, name), e, err)) << err;
    }
    std::string NameOf(const TFlatRecEntry *e) const { return e->Data ? std::string(e->Data.Var(c.Fields[1])) : "-"; }
    std::string PriorName(const TFlatRecEntry *e) const
    {
        const TFlatRecord *p = c.PriorData(e);
        return p ? std::string(p->Var(c.Fields[1])) : "-";
    }
};

} // namespace

TEST(FlatSideDataTest, PriorCopyFollowsEditPostRevertAndCommit)
{
    Store s;
    TFlatRecEntry *a = s.Add(1, "a");
    TFlatRecEntry *b = s.Add(2, "b");
    s.c.CommitAll();
    EXPECT_EQ(s.c.PriorData(a), nullptr);

    // The first copy is kept through several posts; the other record has none.
    s.Put(a, 1, "a1");
    s.Put(a, 1, "a2");
    EXPECT_EQ(s.PriorName(a), "a");
    EXPECT_EQ(s.NameOf(a), "a2");
    EXPECT_EQ(s.c.PriorData(b), nullptr);

    // Reverting one record brings its copy back and drops it.
    s.c.RevertRecord(a);
    EXPECT_EQ(s.NameOf(a), "a");
    EXPECT_EQ(a->Status, rsClean);
    EXPECT_EQ(s.c.PriorData(a), nullptr);

    // A commit keeps the new values and forgets every copy.
    s.Put(a, 1, "a3");
    s.Put(b, 2, "b3");
    s.c.CommitAll();
    EXPECT_EQ(s.c.PriorData(a), nullptr);
    EXPECT_EQ(s.c.PriorData(b), nullptr);
    EXPECT_EQ(s.NameOf(a), "a3");
    s.c.RevertAll();
    EXPECT_EQ(s.NameOf(a), "a3");
    EXPECT_EQ(s.NameOf(b), "b3");
}

TEST(FlatSideDataTest, RevertAllRestoresEditedAndDeletedRecordsAndDropsInserts)
{
    Store s;
    TFlatRecEntry *a = s.Add(1, "a");
    TFlatRecEntry *b = s.Add(2, "b");
    s.c.CommitAll();
    s.Put(a, 1, "changed");
    // An edited record that is then deleted comes back as it was before the edit.
    s.Put(b, 2, "changed too");
    ASSERT_TRUE(s.c.DeleteRecord(b, s.err));
    TFlatRecEntry *c = s.Add(3, "new");
    s.Put(c, 3, "new, edited");
    s.c.RevertAll();
    EXPECT_EQ(s.NameOf(a), "a");
    EXPECT_EQ(s.NameOf(b), "b");
    EXPECT_EQ(b->Status, rsClean);
    EXPECT_EQ(c->Status, rsDead);
    EXPECT_FALSE(c->Data);
    for (const TFlatRecEntry *e : s.c.Records)
        EXPECT_EQ(s.c.PriorData(e), nullptr);

    // An edited record deleted and committed is gone with its copy.
    s.Put(a, 1, "gone");
    ASSERT_TRUE(s.c.DeleteRecord(a, s.err));
    s.c.CommitAll();
    EXPECT_EQ(a->Status, rsDead);
    EXPECT_EQ(s.c.PriorData(a), nullptr);
    s.c.RevertAll();
    EXPECT_EQ(a->Status, rsDead);
    EXPECT_FALSE(a->Data);
}

TEST(FlatSideDataTest, UserDataIsHandedToTheReleaseHookOnceWhenItsRecordGoes)
{
    Store s;
    std::vector<void *> released;
    int tags[4] = {};
    s.c.OnReleaseRecord = [&](void **data) {
        released.push_back(*data);
        *data = nullptr; // the hook may clear what it frees
    };
    TFlatRecEntry *a = s.Add(1, "a");
    TFlatRecEntry *b = s.Add(2, "b");
    TFlatRecEntry *c = s.Add(3, "c");
    s.c.SetUserData(a, &tags[0]);
    s.c.SetUserData(b, &tags[1]);
    s.c.SetUserData(c, &tags[2]);
    EXPECT_EQ(s.c.UserData(b), &tags[1]);
    s.c.SetUserData(c, nullptr);
    EXPECT_EQ(s.c.UserData(c), nullptr);

    // A deleted insert goes at once, with its data; the others keep theirs.
    ASSERT_TRUE(s.c.DeleteRecord(b, s.err));
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0], &tags[1]);
    EXPECT_EQ(s.c.UserData(b), nullptr);
    EXPECT_EQ(s.c.UserData(a), &tags[0]);

    // Editing, committing and reverting leave the data where it is.
    s.c.CommitAll();
    s.Put(a, 1, "a1");
    s.c.RevertAll();
    EXPECT_EQ(s.c.UserData(a), &tags[0]);
    ASSERT_EQ(released.size(), 1u);

    // A committed delete hands it over; clearing hands over the rest, each record once.
    s.c.SetUserData(c, &tags[3]);
    ASSERT_TRUE(s.c.DeleteRecord(a, s.err));
    s.c.CommitAll();
    ASSERT_EQ(released.size(), 2u);
    EXPECT_EQ(released[1], &tags[0]);
    released.clear();
    s.c.Clear(false);
    std::vector<void *> handed;
    for (void *r : released)
        if (r)
            handed.push_back(r);
    EXPECT_EQ(handed, std::vector<void *>{&tags[3]});
    EXPECT_EQ(s.c.UserData(c), nullptr);
}

TEST(FlatSideDataTest, RecordsReadFromAnImageStartWithoutCopiesAndEditLikeOthers)
{
    Store s;
    s.Add(1, "a");
    s.Add(2, "b");
    std::string image;
    ASSERT_TRUE(s.c.WriteImage(image, s.err)) << s.err;
    TFlatCursor r;
    ASSERT_TRUE(r.ReadImage(image, s.err)) << s.err;
    TFlatRecEntry *e = r.Entry(1);
    EXPECT_EQ(r.PriorData(e), nullptr);
    EXPECT_EQ(r.UserData(e), nullptr);
    r.BeginEdit(e);
    ASSERT_NE(r.PriorData(e), nullptr);
    // The copy owns its bytes: it survives the record's block being replaced.
    EXPECT_FALSE(r.PriorData(e)->InArena());
    TFlatRecord changed = e->Data;
    changed.SetVar(r.Fields, r.RecordSize, r.Fields[1], "b, edited");
    ASSERT_TRUE(r.PutRecord(changed, e, s.err));
    r.RevertAll();
    EXPECT_EQ(e->Data.Var(r.Fields[1]), "b");
    EXPECT_EQ(r.PriorData(e), nullptr);
}

TEST(FlatSideDataTest, ACloneCancelsAndRevertsThroughTheSharedStore)
{
    TFlatTable source;
    source.FieldDefs().Add("Name", ftString, 40);
    source.Open();
    for (const char *n : {"a", "b"}) {
        source.Append();
        source.FieldByName("Name").SetAsString(n);
        source.Post();
    }
    source.CommitChanges();
    TFlatTable clone;
    clone.SetCloneDS(&source);
    clone.Open();

    // The clone's edit is taken back by its own Cancel...
    clone.First();
    clone.Edit();
    clone.FieldByName("Name").SetAsString("x");
    clone.Post();
    clone.Edit();
    clone.FieldByName("Name").SetAsString("y");
    clone.Cancel();
    EXPECT_EQ(clone.FieldByName("Name").AsString(), "a");

    // ...and its posted edit by the source's CancelChanges, which both views see.
    clone.Edit();
    clone.FieldByName("Name").SetAsString("z");
    clone.Post();
    source.RefreshView();
    source.First();
    EXPECT_EQ(source.FieldByName("Name").AsString(), "z");
    source.CancelChanges();
    source.First();
    clone.First();
    EXPECT_EQ(source.FieldByName("Name").AsString(), "a");
    EXPECT_EQ(clone.FieldByName("Name").AsString(), "a");
    for (const TFlatRecEntry *e : source.Cursor()->Records)
        EXPECT_EQ(source.Cursor()->PriorData(e), nullptr);
    clone.Close();
}
