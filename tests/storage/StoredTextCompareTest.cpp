// A table holding the same text in Windows-1250 and in UTF-8: every way the engine reads or
// compares a text field (the accessor, Locate, filter expressions, the text lookup behind
// filters, index order and key search) takes both for the same text, while the stored bytes
// stay as they were.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"
#include "support/FieldTexts.h"
#include "util/TextCodec.h"

namespace {

const std::string kCp = "\x8Akola \xE8\xED\x9E";  // "Škola číž" in Windows-1250
const std::string kUtf = "Škola číž";
const std::string kSmallCp = "\x9Akola \xE8\xED\x9E"; // "škola číž"

class StoredTexts : public ::testing::Test {
protected:
    void SetUp() override
    {
        t.FieldDefs().Add("Name", ftString, 50);
        t.FieldDefs().Add("Dir", ftString, 20); // a short text field
        t.FieldDefs().Add("No", ftInteger);
        t.Open();
        Add("Other", "o", 1);
        Add(kCp, "\x8Akola", 2);
        Add(kUtf, "Škola", 3);
        Add(kSmallCp, "\x9Akola", 4);
    }
    void Add(const std::string &name, const std::string &dir, int no)
    {
        t.Append();
        t.FieldByName("Name").SetAsString(name);
        t.FieldByName("Dir").SetAsString(dir);
        t.FieldByName("No").SetAsInteger(no);
        t.Post();
    }
    std::vector<int> Numbers()
    {
        std::vector<int> out;
        for (t.First(); !t.Eof(); t.Next())
            out.push_back(t.FieldByName("No").AsInteger());
        return out;
    }
    TFlatTable t;
};

} // namespace

TEST(StoredTextCodec, ViewsAndSameness)
{
    std::string scratch;
    EXPECT_EQ(StoredTextView(kUtf, scratch).data(), kUtf.data()) << "UTF-8 is not copied";
    EXPECT_EQ(StoredTextView(kCp, scratch), kUtf);
    EXPECT_TRUE(SameStoredText(kCp, kUtf));
    EXPECT_TRUE(SameStoredText(kCp, kCp));
    EXPECT_FALSE(SameStoredText(kSmallCp, kUtf));
    EXPECT_FALSE(SameStoredText("", kUtf));
    EXPECT_TRUE(VarEquals(TVariant(kCp), TVariant(kUtf)));
}

TEST_F(StoredTexts, AccessorGivesTheTextAndValueTheStoredBytes)
{
    ASSERT_TRUE(t.Locate("No", TVariant(std::int64_t(2)), {}));
    EXPECT_EQ(t.FieldByName("Name").AsString(), kUtf);
    EXPECT_EQ(std::get<std::string>(t.FieldByName("Name").Value()), kCp);
    EXPECT_EQ(t.FieldByName("Dir").AsString(), "Škola");
    // A copy through Value keeps the bytes; an edit of another field keeps them too.
    t.Edit();
    t.FieldByName("No").SetAsInteger(20);
    t.Post();
    EXPECT_EQ(std::get<std::string>(t.FieldByName("Name").Value()), kCp);
}

TEST_F(StoredTexts, LocateFindsTheTextInEitherEncoding)
{
    for (const TLocateOptions &o : {TLocateOptions{}, TLocateOptions{loCaseInsensitive}}) {
        t.First();
        ASSERT_TRUE(t.Locate("Name", TVariant(kUtf), o));
        EXPECT_EQ(t.FieldByName("No").AsInteger(), 2);
        // The key may itself be a stored value in Windows-1250.
        t.First();
        ASSERT_TRUE(t.Locate("Name", TVariant(kCp), o));
        EXPECT_EQ(t.FieldByName("No").AsInteger(), 2);
    }
    t.First();
    ASSERT_TRUE(t.Locate("Name", TVariant(std::string("ŠKOLA Č")), {loCaseInsensitive, loPartialKey}));
    EXPECT_EQ(t.FieldByName("No").AsInteger(), 2);
    ASSERT_TRUE(t.Locate("Name;Dir", {TVariant(std::string("škola číž")), TVariant(std::string("škola"))}, {}));
    EXPECT_EQ(t.FieldByName("No").AsInteger(), 4);
    EXPECT_FALSE(t.Locate("Name", TVariant(std::string("Škola")), {}));
    // The in-memory table compares the same way.
    TExMemoryData m;
    m.FieldDefs().Add("Name", ftString, 50);
    m.Open();
    for (const std::string &s : {std::string("x"), kCp}) {
        m.Append();
        m.FieldByName("Name").SetAsString(s);
        m.Post();
    }
    m.First();
    EXPECT_TRUE(m.Locate("Name", TVariant(std::string("škola ČÍŽ")), {loCaseInsensitive}));
    EXPECT_EQ(m.RecNo(), 2);
}

TEST_F(StoredTexts, FiltersLookupsOrderAndKeysCompareTexts)
{
    t.SetFilter("Name = '" + kUtf + "'");
    t.SetFiltered(true);
    EXPECT_EQ(Numbers(), (std::vector<int>{2, 3}));
    t.SetFilter("Name LIKE 'šk%'");
    t.SetFiltered(false);
    t.SetFiltered(true);
    EXPECT_EQ(Numbers(), (std::vector<int>{2, 3, 4}));
    t.SetFiltered(false);
    t.SetFilter("");
    // The filter handler's view built through the store's lookup of texts.
    t.SetOnFilterRecord([](TDataSet *d, bool &accept) { accept = d->FieldByName("Name").AsString() == kUtf; });
    for (const std::string &key : {kUtf, kCp}) {
        TFilterTextHintScope hint(t, "Name", key);
        t.SetFiltered(true);
        EXPECT_EQ(Numbers(), (std::vector<int>{2, 3})) << key;
        t.SetFiltered(false);
    }
    t.SetOnFilterRecord(nullptr);
    // Sorted, the two forms of one text sit together and a key search finds them.
    t.SetIndexFieldNames("Name");
    const std::vector<std::string> sorted = orbtest::FieldTexts(t, "Name");
    ASSERT_EQ(sorted.size(), 4u);
    EXPECT_EQ(sorted[0], "Other");
    EXPECT_EQ(sorted[1], kUtf);
    EXPECT_EQ(sorted[2], kUtf);
    EXPECT_TRUE(t.FindKey("Name", kUtf));
    EXPECT_TRUE(SameStoredText(t.FieldByName("Name").AsString(), kUtf));
    EXPECT_TRUE(t.FindKey("Name", kCp));
}
