// Records are read in place from the table file's image: a file mapped for that must stay
// readable whatever another program does to it, and every value must read and save as it
// did when each record was unpacked on loading, odd stored forms included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "storage/FlatTbl.h"
#include "storage/FlatTblStore.h"
#include "TableFileTest.h"

namespace {

std::string Describe()
{
    return FlatDescribeField("Id", fftInteger, 0) + FlatDescribeField("Code", fftSmallStr, 10) +
           FlatDescribeField("Text", fftString, 40) + FlatDescribeField("Data", fftBlob, 0) +
           FlatDescribeField("Val", fftDouble, 0) + FlatDescribeField("Small", fftSmallInt, 0) + '\x14';
}

std::string BuildImage(int count)
{
    TFlatCursor c;
    std::string err;
    EXPECT_TRUE(c.ReadImage(TFlatCursor::BuildEmptyImage(Describe(), 6), err)) << err;
    for (int i = 0; i < count; ++i) {
        TFlatRecord r = TFlatRecord::Make(c.RecordSize);
        std::memcpy(r.Fixed() + c.Fields[0].Offset, &i, 4);
        const double v = i * 0.5;
        std::memcpy(r.Fixed() + c.Fields[4].Offset, &v, 8);
        r.SetVar(c.Fields, c.RecordSize, c.Fields[1], "C" + std::to_string(i % 100));
        r.SetVar(c.Fields, c.RecordSize, c.Fields[2], std::string(size_t(i % 37), char('a' + i % 26)));
        r.SetVar(c.Fields, c.RecordSize, c.Fields[3], std::string(size_t(i % 5), char(i)));
        EXPECT_TRUE(c.PutRecord(r, nullptr, err)) << err;
    }
    std::string img;
    EXPECT_TRUE(c.WriteImage(img, err)) << err;
    return img;
}

bool OpenFile(TFlatCursor &c, const std::string &file)
{
    TFlatFileSource source;
    std::string reason, err;
    return source.Open(file, reason) && c.ReadImage(source, err);
}

bool FileIsMapped(const std::string &file)
{
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.size() >= file.size() && line.compare(line.size() - file.size(), file.size(), file) == 0)
            return true;
    return false;
}

// Every value of every record, read as a caller reads them.
std::string Values(const TFlatCursor &c)
{
    std::string s;
    for (int i = 0; i < c.RecordCount(); ++i) {
        const TFlatRecord &r = c.Entry(i)->Data;
        s += std::to_string(FlatGetInt(r, c.Fields[0])) + "," + std::string(FlatGetSmallStr(r, c.Fields[1])) + "," +
             std::string(r.Var(c.Fields[2])) + "," + std::string(r.Var(c.Fields[3])) + "," +
             std::to_string(FlatGetFloat(r, c.Fields[4])) + "," + std::to_string(FlatGetInt(r, c.Fields[5])) + "|";
    }
    return s;
}

// The KiB of the file's mapping this process holds in memory (0 when it is not mapped).
long ResidentKbOf(const std::string &file)
{
    std::ifstream smaps("/proc/self/smaps");
    bool inFile = false;
    for (std::string line; std::getline(smaps, line);) {
        const bool header = !line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
                            line.find('-') < line.find(' ');
        if (header)
            inFile = line.size() >= file.size() && line.compare(line.size() - file.size(), file.size(), file) == 0;
        else if (inFile && line.rfind("Rss:", 0) == 0)
            return std::stol(line.substr(4));
    }
    return 0;
}

// Sorting the records on `field` (both ways, as entries and as positions) gives the order
// of the comparison of records, equal keys in their order.
void ExpectSortedAsCompared(const TFlatCursor &c, const TFlatField &field, const std::string &what)
{
    const std::vector<const TFlatField *> key{&field};
    for (const bool descending : {false, true}) {
        std::vector<TFlatRecEntry *> sorted = c.Records, expected = c.Records;
        std::stable_sort(expected.begin(), expected.end(), [&](const TFlatRecEntry *x, const TFlatRecEntry *y) {
            const int r = TFlatCursor::CompareRecords(x->Data, y->Data, key);
            return descending ? r > 0 : r < 0;
        });
        TFlatCursor::SortEntries(sorted, key, false, descending);
        EXPECT_EQ(sorted, expected) << what << " " << descending;
        std::vector<uint32_t> order;
        TFlatCursor::SortPositions(c.Records, order, key, false, descending);
        ASSERT_EQ(order.size(), expected.size());
        for (size_t i = 0; i < order.size(); ++i)
            ASSERT_EQ(c.Records[order[i]], expected[i]) << what << " " << descending << " " << i;
    }
}

class FlatInPlace : public TableFileTest {};

// A program that cuts the file short and writes something else into it, while the table
// is open: the open table keeps its records and saves them as they were.
TEST_F(FlatInPlace, ATableFileCutShortByAnotherProgramKeepsTheOpenRecords)
{
    const std::string img = BuildImage(3000);
    std::ofstream(file_, std::ios::binary) << img;
    TFlatCursor c;
    ASSERT_TRUE(OpenFile(c, file_));
    ASSERT_TRUE(FileIsMapped(file_)); // else this test would test nothing
    const std::string before = Values(c);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = ::open(file_.c_str(), O_WRONLY | O_TRUNC);
        const bool ok = fd >= 0 && ::write(fd, "xy", 2) == 2;
        _exit(ok ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(ReadFile(), "xy");
    EXPECT_EQ(Values(c), before);
    std::string again, err;
    ASSERT_TRUE(c.WriteImage(again, err)) << err;
    EXPECT_EQ(again, img);
    // The table closes and opens again as usual.
    ASSERT_TRUE(c.SaveToFile(file_, 0, false, "", err)) << err;
    TFlatCursor back;
    ASSERT_TRUE(OpenFile(back, file_));
    EXPECT_EQ(Values(back), before);
}

// A file that someone holds open for writing cannot be guarded: it is read instead, and
// what happens to it afterwards does not reach the table.
TEST_F(FlatInPlace, AFileOpenForWritingIsReadNotMapped)
{
    const std::string img = BuildImage(500);
    std::ofstream(file_, std::ios::binary) << img;
    const int writer = ::open(file_.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    TFlatCursor c;
    ASSERT_TRUE(OpenFile(c, file_));
    EXPECT_FALSE(FileIsMapped(file_));
    const std::string before = Values(c);
    ASSERT_EQ(::ftruncate(writer, 3), 0);
    ::close(writer);
    EXPECT_EQ(Values(c), before);
    std::string again, err;
    ASSERT_TRUE(c.WriteImage(again, err)) << err;
    EXPECT_EQ(again, img);
}

// One record in the forms a writer of this program never makes: a number stored in fewer
// bytes than its width or as an explicit zero, a NaN, texts holding a NUL, a String and a
// BLOB of zero bytes. Read in place they read, copy and save exactly as a record unpacked
// from them does.
TEST_F(FlatInPlace, OddStoredFormsReadAndSaveAsUnpackedOnes)
{
    std::string body;
    const auto u32 = [&](uint32_t v) { body.append(reinterpret_cast<const char *>(&v), 4); };
    const double nan = std::nan("");
    // Id: 2 of 4 bytes; Code: a NUL inside; Text: a NUL inside; Data: counted, 0 bytes;
    // Val: NaN; Small: explicit zero.
    body += std::string("\x02\x05\x04\x04\x08\x02", 6);
    body += std::string("\xff\x7f", 2);
    body += std::string("ab\0cd", 5);
    u32(6);
    body += std::string("xyz\0zz", 6);
    u32(0);
    body.append(reinterpret_cast<const char *>(&nan), 8);
    body += std::string("\0\0", 2);
    // A second, plain record after it, so the walk past the odd one is checked too.
    body += std::string("\x04\x01\x04\x04\x00\x02", 6);
    u32(7);
    body += "Q";
    u32(3);
    body += "abc";
    u32(2);
    body += "\x01\x02";
    body += std::string("\x09\x00", 2);
    std::string img = TFlatCursor::BuildEmptyImage(Describe(), 6) + body;
    const uint32_t count = 2, size = uint32_t(img.size());
    std::memcpy(img.data() + 5, &count, 4);
    std::memcpy(img.data(), &size, 4);

    TFlatCursor c;
    std::string err;
    ASSERT_TRUE(c.ReadImage(img, err)) << err;
    ASSERT_EQ(c.RecordCount(), 2);
    const TFlatRecord &odd = c.Entry(0)->Data;
    EXPECT_EQ(FlatGetInt(odd, c.Fields[0]), 0x7fff);
    EXPECT_EQ(FlatGetSmallStr(odd, c.Fields[1]), "ab");
    EXPECT_EQ(odd.Var(c.Fields[2]), "xyz");
    EXPECT_EQ(odd.Var(c.Fields[3]), "");
    EXPECT_TRUE(std::isnan(FlatGetFloat(odd, c.Fields[4])));
    EXPECT_EQ(FlatGetInt(odd, c.Fields[5]), 0);
    const TFlatRecord &plain = c.Entry(1)->Data;
    EXPECT_EQ(FlatGetInt(plain, c.Fields[0]), 7);
    EXPECT_EQ(FlatGetSmallStr(plain, c.Fields[1]), "Q");
    EXPECT_EQ(plain.Var(c.Fields[2]), "abc");
    EXPECT_EQ(plain.Var(c.Fields[3]), std::string("\x01\x02", 2));
    EXPECT_EQ(FlatGetInt(plain, c.Fields[5]), 9);
    EXPECT_EQ(c.Entry(0)->StoredSize, 6u + 2 + 5 + 10 + 4 + 8 + 2);

    // The same records as copies (packed) in a store of their own save the same bytes.
    TFlatCursor copies;
    ASSERT_TRUE(copies.ReadImage(TFlatCursor::BuildEmptyImage(Describe(), 6), err)) << err;
    for (int i = 0; i < 2; ++i) {
        const TFlatRecord copy = c.Entry(i)->Data;
        EXPECT_FALSE(copy.IsStored());
        EXPECT_EQ(copy.Var(c.Fields[2]), c.Entry(i)->Data.Var(c.Fields[2]));
        ASSERT_TRUE(copies.PutRecord(copy, nullptr, err)) << err;
    }
    std::string fromStored, fromCopies;
    ASSERT_TRUE(c.WriteImage(fromStored, err)) << err;
    ASSERT_TRUE(copies.WriteImage(fromCopies, err)) << err;
    EXPECT_EQ(fromStored, fromCopies);
    EXPECT_LT(fromStored.size(), img.size()); // the NULs' tails and the zeros are gone
    // A changed record is a packed one of its own; the others stay in place.
    TFlatRecord edit = c.Entry(1)->Data;
    edit.SetVar(c.Fields, c.RecordSize, c.Fields[2], "changed");
    ASSERT_TRUE(c.PutRecord(edit, c.Entry(1), err)) << err;
    EXPECT_FALSE(c.Entry(1)->Data.IsStored());
    EXPECT_TRUE(c.Entry(0)->Data.IsStored());
    EXPECT_EQ(c.Entry(1)->Data.Var(c.Fields[2]), "changed");
}

// A table that takes another's records as they were read shares that table's image: it
// keeps its records when the other is closed and its file replaced, and a change on
// either side stays on that side.
TEST_F(FlatInPlace, RecordsTakenFromAnotherTableOutliveItAndChangeApart)
{
    const auto layout = [](TFieldDefs &d) {
        d.Add("Path", ftString, 60);
        d.Add("Code", ftString, 6);
        d.Add("Count", ftInteger);
        d.Add("Icon", ftBlob);
    };
    {
        TFlatTable t;
        layout(t.FieldDefs());
        t.Open();
        for (int i = 0; i < 700; ++i) {
            t.Append();
            t.FieldByName("Path").SetAsString("c:\\dir" + std::to_string(i) + "\\");
            t.FieldByName("Code").SetAsString(i % 2 ? "ab" : "");
            t.FieldByName("Count").SetAsInteger(i);
            if (i % 3 == 0)
                t.FieldByName("Icon").SetAsBytes(std::string("\0ic", 3));
            t.Post();
        }
        t.SaveToFile(file_);
    }
    const auto rows = [](TFlatTable &t) {
        std::string s;
        for (t.First(); !t.Eof(); t.Next())
            s += t.FieldByName("Path").AsString() + "," + t.FieldByName("Code").AsString() + "," +
                 t.FieldByName("Count").AsString() + "," + std::to_string(t.FieldByName("Icon").AsBytes().size()) + "|";
        return s;
    };
    TFlatTable copy;
    layout(copy.FieldDefs());
    copy.Open();
    std::string expected;
    {
        TFlatTable src;
        src.SetTableName(file_);
        src.Open();
        expected = rows(src);
        src.First();
        copy.DisableControls();
        EXPECT_EQ(copy.CopyFromDataSet(&src, 0), 700);
        copy.EnableControls();
        EXPECT_TRUE(copy.Cursor()->Entry(0)->Data.IsStored()); // taken in place, not copied
        // A change in the copy leaves the source alone.
        copy.First();
        copy.Edit();
        copy.FieldByName("Path").SetAsString("copy only");
        copy.Post();
        src.First();
        EXPECT_EQ(src.FieldByName("Path").AsString(), "c:\\dir0\\");
        src.Close();
    }
    std::ofstream(file_, std::ios::binary | std::ios::trunc) << "gone";
    const std::string now = rows(copy);
    EXPECT_EQ(now.substr(0, now.find(',')), "copy only");
    EXPECT_EQ(now.substr(now.find('|')), expected.substr(expected.find('|')));
    copy.SaveToFile(file_);
    TFlatTable back;
    back.SetTableName(file_);
    back.Open();
    EXPECT_EQ(rows(back), now);
}

// A record's values read in one pass give what reading each field alone gives, in
// either form of the record, odd stored forms included.
TEST_F(FlatInPlace, ValuesInOnePassReadAsEachFieldAlone)
{
    std::string img = BuildImage(60);
    TFlatCursor c;
    std::string err;
    ASSERT_TRUE(c.ReadImage(img, err)) << err;
    std::vector<std::string_view> values(c.Fields.size());
    for (int i = 0; i < c.RecordCount(); ++i) {
        const TFlatRecord packed = c.Entry(i)->Data;
        for (const TFlatRecord *r : {static_cast<const TFlatRecord *>(&c.Entry(i)->Data), &packed}) {
            FlatRecordValues(*r, c.Fields, values.data());
            for (const TFlatField &f : c.Fields) {
                if (IsFlatVarHeldType(f.TypeCode)) {
                    ASSERT_EQ(FlatBytesOf(values[f.Index], f), FlatGetBytes(*r, f)) << i << f.Name;
                } else if (f.TypeCode != fftDouble) {
                    ASSERT_EQ(FlatIntOf(values[f.Index], f), FlatGetInt(*r, f)) << i << f.Name;
                }
            }
        }
    }
}

// Sorting on one integer field reads each key once; the order must be the one the
// comparison of records gives: equal keys in their order, either direction.
TEST_F(FlatInPlace, SortOnOneIntegerKeepsEqualKeysInOrder)
{
    TFlatCursor c;
    std::string err;
    ASSERT_TRUE(c.ReadImage(BuildImage(300), err)) << err;
    for (int i = 0; i < c.RecordCount(); i += 3) { // some packed records among the stored ones
        TFlatRecord r = c.Entry(i)->Data;
        const int16_t v = int16_t(i % 7 - 3);
        std::memcpy(r.Fixed() + c.Fields[5].Offset, &v, 2);
        ASSERT_TRUE(c.PutRecord(r, c.Entry(i), err)) << err;
    }
    ExpectSortedAsCompared(c, c.Fields[5], "");
}

// Keys of a narrow range are counted into place, wider ones sorted: both must give the
// order of the comparison, extremes and duplicates included.
TEST_F(FlatInPlace, SortOnOneIntegerOfAnyRangeKeepsEqualKeysInOrder)
{
    const std::vector<std::vector<int32_t>> ranges = {
        {INT32_MIN, INT32_MAX, 0, -1, INT32_MIN, INT32_MAX},  // the widest span
        {5, 5, 5},                                            // one value
        {1, 0, 1, 0, 255, -1, 0},                             // a few around zero
        {1000, 1000 + 299, 1000 + 300, 1000}};                // just past the record count
    for (const std::vector<int32_t> &values : ranges) {
        TFlatCursor c;
        std::string err;
        ASSERT_TRUE(c.ReadImage(BuildImage(300), err)) << err;
        for (int i = 0; i < c.RecordCount(); i += 2) {
            TFlatRecord r = c.Entry(i)->Data;
            const int32_t v = values[size_t(i / 2) % values.size()];
            std::memcpy(r.Fixed() + c.Fields[0].Offset, &v, 4);
            ASSERT_TRUE(c.PutRecord(r, c.Entry(i), err)) << err;
        }
        ExpectSortedAsCompared(c, c.Fields[0], std::to_string(values[0]));
    }
}

// A filter known to admit exactly the records the text lookup finds is not asked; the
// view is the one it would have given.
TEST_F(FlatInPlace, AFilterTheLookupDecidesIsNotAsked)
{
    TFlatTable t;
    t.FieldDefs().Add("Path", ftString, 40);
    t.FieldDefs().Add("Count", ftInteger);
    t.Open();
    for (int i = 0; i < 90; ++i) {
        t.Append();
        t.FieldByName("Path").SetAsString("c:\\d" + std::to_string(i % 4) + "\\");
        t.FieldByName("Count").SetAsInteger(i);
        t.Post();
    }
    int asked = 0;
    t.SetOnFilterRecord([&](TDataSet *d, bool &accept) {
        ++asked;
        accept = d->FieldByName("Path").AsString() == "c:\\d2\\";
    });
    const auto shown = [&](bool decides) {
        asked = 0;
        TFilterTextHintScope hint(t, "Path", "c:\\d2\\", decides);
        t.SetFiltered(true);
        std::string s;
        for (t.First(); !t.Eof(); t.Next())
            s += t.FieldByName("Count").AsString() + " ";
        return s;
    };
    const std::string asking = shown(false);
    EXPECT_GT(asked, 0);
    EXPECT_EQ(shown(true), asking);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(t.RecordCount(), 22); // 2, 6, ..., 86
}

// A mapped file is held in memory only while it is walked: after the load and after a pass
// that builds the text lookup, its pages go back to the page cache and come again when
// read. Once another program has cut the file short, the table's bytes are its own copy,
// which must never be let go of like the file's pages.
TEST_F(FlatInPlace, TheFilesPagesAreLetGoAfterEachPassButNeverTheCopy)
{
    const std::string img = BuildImage(50000);
    ASSERT_GT(img.size(), size_t(2) << 20);
    std::ofstream(file_, std::ios::binary) << img;
    TFlatCursor c;
    ASSERT_TRUE(OpenFile(c, file_));
    ASSERT_TRUE(FileIsMapped(file_));
    const long whole = long(img.size() / 1024);
    EXPECT_LT(ResidentKbOf(file_), whole / 4);
    const std::string before = Values(c);
    EXPECT_GT(ResidentKbOf(file_), whole / 2); // read again from the page cache
    ASSERT_NE(c.RecordsWithText(1, "C7"), nullptr);
    EXPECT_LT(ResidentKbOf(file_), whole / 4);
    EXPECT_EQ(c.RecordsWithText(1, "C7")->size(), 500u);
    EXPECT_EQ(Values(c), before);

    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = ::open(file_.c_str(), O_WRONLY | O_TRUNC);
        _exit(fd >= 0 && ::write(fd, "xy", 2) == 2 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // A change that rebuilds the lookup makes another pass over the copy.
    TFlatRecord r = c.Entry(0)->Data;
    r.SetVar(c.Fields, c.RecordSize, c.Fields[1], "C0");
    std::string err;
    ASSERT_TRUE(c.PutRecord(r, c.Entry(1), err)) << err;
    EXPECT_EQ(c.RecordsWithText(1, "C7")->size(), 500u);
    EXPECT_EQ(c.RecordsWithText(1, "C0")->size(), 501u);
    ASSERT_TRUE(c.PutRecord(r, c.Entry(1), err)) << err; // the same again: nothing changes
    std::string again;
    ASSERT_TRUE(c.WriteImage(again, err)) << err;
    TFlatCursor expected;
    ASSERT_TRUE(expected.ReadImage(img, err)) << err;
    ASSERT_TRUE(expected.PutRecord(r, expected.Entry(1), err)) << err;
    EXPECT_EQ(Values(c), Values(expected));
}

// The lookup keeps a text's records as runs of positions: through appends (own and
// shared), edits that keep or change the text, deletes, commits and reverts, it must
// give the live records of a text exactly as a scan of the store does, in store order.
TEST_F(FlatInPlace, TextLookupGivesWhatAScanGivesThroughEveryChange)
{
    std::string err;
    TFlatCursor c, other;
    ASSERT_TRUE(c.ReadImage(BuildImage(400), err)) << err;
    ASSERT_TRUE(other.ReadImage(BuildImage(50), err)) << err;
    const auto live = [](const TFlatRecEntry *e) { return e->Data && e->Status != rsDeleted && e->Status != rsDead; };
    const auto check = [&](const std::string &step) {
        for (int t = 0; t < 100; t += 7) {
            const std::string text = "C" + std::to_string(t);
            std::vector<TFlatRecEntry *> scanned, found;
            for (TFlatRecEntry *e : c.Records)
                if (live(e) && FlatGetSmallStr(e->Data, c.Fields[1]) == text)
                    scanned.push_back(e);
            const auto *list = c.RecordsWithText(1, text);
            ASSERT_NE(list, nullptr);
            for (TFlatRecEntry *e : *list)
                if (live(e))
                    found.push_back(e);
            ASSERT_EQ(found, scanned) << step << " " << text;
        }
    };
    std::mt19937 random(7);
    const auto anyText = [&] { return "C" + std::to_string(random() % 100 / 7 * 7); };
    check("loaded");
    for (int step = 0; step < 300; ++step) {
        const int n = c.RecordCount();
        TFlatRecEntry *e = c.Entry(int(random() % unsigned(n)));
        switch (random() % 6) {
        case 0: { // a new record
            TFlatRecord r = TFlatRecord::Make(c.RecordSize);
            r.SetVar(c.Fields, c.RecordSize, c.Fields[1], anyText());
            ASSERT_TRUE(c.PutRecord(r, nullptr, err)) << err;
            break;
        }
        case 1: // another table's record taken as it is
            c.AppendShared(*other.Entry(int(random() % 50u)), other);
            break;
        case 2: // an edit keeping the text, or changing it
            if (live(e)) {
                TFlatRecord r = e->Data;
                if (random() % 2)
                    r.SetVar(c.Fields, c.RecordSize, c.Fields[1], anyText());
                ASSERT_TRUE(c.PutRecord(r, e, err)) << err;
            }
            break;
        case 3:
            if (live(e)) {
                ASSERT_TRUE(c.DeleteRecord(e, err)) << err;
            }
            break;
        case 4:
            if (random() % 4 == 0)
                c.CommitAll();
            break;
        default:
            if (random() % 8 == 0)
                c.RevertAll();
            break;
        }
        if (step % 10 == 0)
            check("step " + std::to_string(step));
    }
    check("end");
}

} // namespace

// A table with a counter numbers every record that comes in, one taken from another table
// as it was read too: the source's numbers are not kept, whether the record goes in by the
// table's copy or straight into the store.
TEST_F(FlatInPlace, RecordsTakenIntoATableWithACounterAreNumberedByIt)
{
    const auto layout = [](TFieldDefs &d) {
        d.Add("Id", ftAutoInc);
        d.Add("Name", ftString, 20);
    };
    const auto add = [](TFlatTable &t, const std::string &name) {
        t.Append();
        t.FieldByName("Name").SetAsString(name);
        t.Post();
    };
    const auto ids = [](TFlatTable &t) {
        std::string s;
        for (t.First(); !t.Eof(); t.Next())
            s += t.FieldByName("Id").AsString() + " ";
        return s;
    };
    {
        TFlatTable t;
        layout(t.FieldDefs());
        t.Open();
        for (int i = 0; i < 5; ++i)
            add(t, "taken" + std::to_string(i));
        t.SaveToFile(file_);
    }
    for (const bool straight : {false, true}) {
        SCOPED_TRACE(straight ? "into the store" : "by the copy");
        TFlatTable dst;
        layout(dst.FieldDefs());
        dst.Open();
        for (int i = 0; i < 3; ++i)
            add(dst, "own");
        TFlatTable src;
        src.SetTableName(file_);
        src.Open();
        ASSERT_TRUE(src.Cursor()->Entry(0)->Data.IsStored());
        if (straight) {
            for (int i = 0; i < src.Cursor()->RecordCount(); ++i)
                dst.Cursor()->AppendShared(*src.Cursor()->Entry(i), *src.Cursor());
            dst.RefreshView();
        } else {
            dst.DisableControls();
            EXPECT_EQ(dst.CopyFromDataSet(&src, 0), 5);
            dst.EnableControls();
        }
        EXPECT_EQ(ids(dst), "1 2 3 4 5 6 7 8 ");
        EXPECT_EQ(ids(src), "1 2 3 4 5 ");
        dst.Last();
        EXPECT_EQ(dst.FieldByName("Name").AsString(), "taken4");
        // The next record goes on from there.
        add(dst, "next");
        EXPECT_EQ(dst.FieldByName("Id").AsInteger(), 9);
    }
}
