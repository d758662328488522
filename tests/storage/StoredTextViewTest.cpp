// TField::StoredText, the copy-free read of a text field's stored bytes: in every
// state a filter or a reader meets it gives what AsBytes gives (Windows-1250 as
// stored, NULL as empty), and other fields give their AsString.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"
#include "util/TextCodec.h"

namespace {

const std::vector<std::string> kNames = {"Report.txt", "\x8Akola \xE8\xED\x9E", "Škola číž", "",
                                         std::string(50, 'x')};

template <class Table>
void Fill(Table &t)
{
    t.FieldDefs().Add("Name", ftString, 50);
    t.FieldDefs().Add("Dir", ftString, 8);
    t.FieldDefs().Add("Note", ftMemo);
    t.FieldDefs().Add("No", ftInteger);
    t.Open();
    for (size_t i = 0; i < kNames.size(); ++i) {
        t.Append();
        if (!kNames[i].empty())
            t.FieldByName("Name").SetAsString(kNames[i]);
        t.FieldByName("Dir").SetAsString(kNames[i].substr(0, 6));
        t.FieldByName("Note").SetAsString(kNames[i] + " note");
        t.FieldByName("No").SetAsInteger(int(i));
        t.Post();
    }
}

// Every field of every record read both ways.
template <class Table>
void ExpectSameAsBytes(Table &t)
{
    std::string scratch;
    int seen = 0;
    for (t.First(); !t.Eof(); t.Next(), ++seen)
        for (const char *name : {"Name", "Dir", "Note"}) {
            TField &f = t.FieldByName(name);
            EXPECT_EQ(std::string(f.StoredText(scratch)), f.AsBytes()) << name << " " << seen;
            EXPECT_EQ(StoredTextView(f.StoredText(scratch), scratch), f.AsString()) << name << " " << seen;
        }
    EXPECT_EQ(seen, int(kNames.size()));
    EXPECT_EQ(std::string(t.FieldByName("No").StoredText(scratch)), t.FieldByName("No").AsString());

}

} // namespace

TEST(StoredTextView, FlatTableLendsWhatAsBytesGives)
{
    TFlatTable t;
    Fill(t);
    ExpectSameAsBytes(t);
    // Inside a filter, where the record read is the one being decided on.
    int filtered = 0;
    t.SetOnFilterRecord([&](TDataSet *d, bool &accept) {
        TField &f = d->FieldByName("Name");
        std::string own;
        EXPECT_EQ(std::string(f.StoredText(own)), f.AsBytes());
        accept = SameStoredText(f.StoredText(own), "Škola číž");
        ++filtered;
    });
    t.SetFiltered(true);
    EXPECT_EQ(filtered, int(kNames.size()));
    EXPECT_EQ(t.RecordCount(), 2); // the same name in both encodings
    t.SetFiltered(false);
    // The text is lent from the record, not copied.
    t.First();
    std::string scratch;
    const std::string_view lent = t.FieldByName("Name").StoredText(scratch);
    EXPECT_EQ(lent, "Report.txt");
    EXPECT_TRUE(scratch.empty());
}

TEST(StoredTextView, MemoryTableAndValidationGiveTheSame)
{
    TExMemoryData t;
    Fill(t);
    ExpectSameAsBytes(t);

    // While a value is validated the field reads the value about to be written.
    TFlatTable f;
    Fill(f);
    std::string during;
    f.FieldByName("Name").OnValidate = [&](TField *s) {
        std::string scratch;
        during = std::string(s->StoredText(scratch));
    };
    f.First();
    f.Edit();
    f.FieldByName("Name").SetAsString("Nové meno");
    EXPECT_EQ(during, "Nové meno");
    f.Cancel();
}
