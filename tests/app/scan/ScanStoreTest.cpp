// Storing a scan that fails - a value refused late in the copy into the file
// table, a file table that cannot be written - leaves the catalogue files and the
// tables in memory as they were and the scan whole; storing it again then writes
// exactly what a store that never failed writes, in a new scan and an update.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "app/catalog/CatalogTables.h"
#include "app/scan/MainScan.h"
#include "storage/FlatTbl.h"

#include "app/ArchiveTestSupport.h"

namespace fs = std::filesystem;
using namespace scantest;
using Strings = std::vector<std::string>;

namespace {

class ScanStoreTest : public FormTest<> {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        EmptyMusicCatalog();
        for (int i = 0; i < 60; ++i)
            dir.write("disc/d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".txt", std::string(size_t(i), 'x'));
        dir.write("disc/top.txt", "top");
        dir.write("old/o.txt", "o");
        VolumeService::SetCurrent(std::make_unique<FixedVolumeService>(
            std::vector<VolumeInfo>{Folder('e', dir.file("disc"), "DATA")}));
    }
    // A new window over the catalogue files, its scan table holding `folder` read
    // as disc `name`, number `number`.
    void OpenAndRead(const std::string &folder, const std::string &name, const std::string &number)
    {
        form.reset();
        form = std::make_unique<TMainForm>(nullptr, data);
        form->ExMemoryData1->Open();
        TDiskLister lister;
        TDiskReader reader(*form->ExMemoryData1, lister);
        reader.DiscName = name;
        reader.DiscNumber = number;
        reader.Read("e:\\", dir.file(folder));
        ASSERT_GT(form->ExMemoryData1->RecordCount(), 0);
    }
    std::string FilesBytes() const { return orbtest::readFile(data + "/Music.d"); }
    std::string DiscsBytes() const { return orbtest::readFile(data + "/CdNames/Music_cdname.d"); }
    void PutBack(const std::string &files, const std::string &discs)
    {
        form.reset();
        dir.write("DiVovData/Music.d", files);
        dir.write("DiVovData/CdNames/Music_cdname.d", discs);
    }
    // The records of a scan-layout table, every field, each row led by its ID.
    static Strings Rows(TExMemoryData &scan)
    {
        Strings rows;
        for (scan.First(); !scan.Eof(); scan.Next()) {
            std::string row = std::to_string(scan.CurrentID());
            for (int f = 0; f < scan.FieldCount(); ++f)
                row += "|" + scan.Fields(f).AsString();
            rows.push_back(row);
        }
        return rows;
    }
    Strings ScanRows() { return Rows(*form->ExMemoryData1); }
    // The scan's records as a file table stores them, read back into a scan table
    // (Number cut to the file's width, an empty number read as 0), with their IDs.
    Strings StoredScanRows()
    {
        TFlatTable file;
        AddFieldDefs(file, FileTableLayout());
        file.Open();
        form->ExMemoryData1->SaveToDataSet(file, 0);
        auto back = MakeScanTable();
        back->Open();
        back->LoadFromDataSet(file, 0, true);
        Strings rows = Rows(*back), ids = ScanRows();
        for (size_t i = 0; i < rows.size() && i < ids.size(); ++i)
            rows[i] = ids[i].substr(0, ids[i].find('|')) + rows[i].substr(rows[i].find('|'));
        return rows;
    }
    // A store that fails through `failure` must change nothing that was before it;
    // the scan's records may come back as the file table stored them.
    void StoreFails(int mode, const std::function<void()> &failure, const std::function<void()> &mend)
    {
        const std::string files = FilesBytes(), discs = DiscsBytes();
        const Strings scan = ScanRows(), stored = StoredScanRows();
        const int fileCount = form->FlatTable1->RecordCount(), discCount = form->CdNameTable->RecordCount();
        failure();
        EXPECT_ANY_THROW(form->SaveToDatabase("9 kb", mode));
        mend();
        EXPECT_EQ(FilesBytes(), files);
        EXPECT_EQ(DiscsBytes(), discs);
        const Strings after = ScanRows();
        ASSERT_EQ(after.size(), scan.size());
        for (size_t i = 0; i < after.size(); ++i) {
            if (after[i] != scan[i]) {
                EXPECT_EQ(after[i], stored[i]) << "record " << i;
            }
        }
        EXPECT_EQ(form->CdNameTable->RecordCount(), discCount);
        if (mode == 0) {
            EXPECT_EQ(form->FlatTable1->RecordCount(), fileCount);
        }
    }
    // Refuses the file table's Name of the record before the last one.
    void RefuseLate()
    {
        seen = 0;
        const int late = form->ExMemoryData1->RecordCount() - 1;
        form->FlatTable1->FieldByName("Name").OnValidate = [this, late](TField *) {
            if (++seen == late)
                throw std::runtime_error("refused");
        };
    }
    void AcceptAll() { form->FlatTable1->FieldByName("Name").OnValidate = nullptr; }
    void BlockFileTable()
    {
        fs::rename(data + "/Music.d", data + "/Music.aside");
        fs::create_directories(data + "/Music.d/blocker");
    }
    void UnblockFileTable()
    {
        fs::remove_all(data + "/Music.d");
        fs::rename(data + "/Music.aside", data + "/Music.d");
    }

    int seen = 0;
};

} // namespace

TEST_F(ScanStoreTest, FailedNewScanStoresChangeNothingAndTheRetryStoresWhatADirectStoreDoes)
{
    // A number wider than the file's Number field: the records taken back from the
    // file table carry it cut, as stored.
    for (const std::string number : {"7", "123456789012"}) {
        SCOPED_TRACE(number);
        OpenAndRead("old", "e: [old]", "1");
        form->SaveToDatabase("1 kb", 0);
        const std::string files0 = FilesBytes(), discs0 = DiscsBytes();

        OpenAndRead("disc", "e: [data]", number);
        form->SaveToDatabase("9 kb", 0);
        const std::string directFiles = FilesBytes(), directDiscs = DiscsBytes();
        EXPECT_NE(directFiles, files0);

        PutBack(files0, discs0);
        OpenAndRead("disc", "e: [data]", number);
        StoreFails(0, [&] { RefuseLate(); }, [&] { AcceptAll(); });
        EXPECT_EQ(seen, form->ExMemoryData1->RecordCount() - 1);
        if (number.size() > 8) {
            // The records taken back from the file table read as it stored them.
            form->ExMemoryData1->First();
            EXPECT_EQ(form->ExMemoryData1->FieldByName("Number").AsString(), "12345678");
            form->ExMemoryData1->Last();
            EXPECT_EQ(form->ExMemoryData1->FieldByName("Number").AsString(), number);
        }
        StoreFails(0, [&] { BlockFileTable(); }, [&] { UnblockFileTable(); });
        form->SaveToDatabase("9 kb", 0);
        EXPECT_EQ(FilesBytes(), directFiles);
        EXPECT_EQ(DiscsBytes(), directDiscs);
        EXPECT_EQ(form->ExMemoryData1->RecordCount(), 0);
        form.reset();
        fs::remove(data + "/Music.d");
        fs::remove(data + "/CdNames/Music_cdname.d");
        EmptyMusicCatalog();
    }
}

TEST_F(ScanStoreTest, FailedUpdateKeepsTheScanWholeAndTheRetryStoresWhatADirectUpdateDoes)
{
    OpenAndRead("old", "e: [old]", "1");
    form->SaveToDatabase("1 kb", 0);
    OpenAndRead("old", "e: [data]", "2");
    form->SaveToDatabase("1 kb", 0);
    const std::string files0 = FilesBytes(), discs0 = DiscsBytes();
    auto update = [&] {
        OpenAndRead("disc", "e: [data]", "2");
        form->ScanSession.SelectedDisc = "e: [data]";
    };
    update();
    form->SaveToDatabase("9 kb", 1);
    const std::string directFiles = FilesBytes(), directDiscs = DiscsBytes();

    PutBack(files0, discs0);
    update();
    StoreFails(1, [&] { BlockFileTable(); }, [&] { UnblockFileTable(); });
    StoreFails(1, [&] { RefuseLate(); }, [&] { AcceptAll(); });
    form->SaveToDatabase("9 kb", 1);
    EXPECT_EQ(FilesBytes(), directFiles);
    EXPECT_EQ(DiscsBytes(), directDiscs);
    const Strings names = Files({"Namecd"});
    EXPECT_EQ(std::count(names.begin(), names.end(), "e: [data]"), 65);
}

TEST_F(ScanStoreTest, FailedUpdateKeepsTheDiscsOldRecordsInMemoryForTheNextStore)
{
    OpenAndRead("old", "e: [data]", "2");
    form->SaveToDatabase("1 kb", 0);
    const Strings before = Files({"Namecd", "Name"});
    OpenAndRead("disc", "e: [data]", "2");
    form->ScanSession.SelectedDisc = "e: [data]";
    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse ? "a value refused" : "the file table cannot be written");
        refuse ? RefuseLate() : BlockFileTable();
        EXPECT_ANY_THROW(form->SaveToDatabase("9 kb", 1));
        refuse ? AcceptAll() : UnblockFileTable();
        EXPECT_EQ(Files({"Namecd", "Name"}), before);
    }
    // The update is given up; another disc is stored: the table written from
    // memory still holds the updated disc's old records.
    form->ExMemoryData1->EmptyTable();
    TDiskLister lister;
    TDiskReader reader(*form->ExMemoryData1, lister);
    reader.DiscName = "e: [other]";
    reader.DiscNumber = "3";
    reader.Read("e:\\", dir.file("old"));
    form->SaveToDatabase("1 kb", 0);
    Strings after = Files({"Namecd", "Name"});
    after.resize(std::min(after.size(), before.size()));
    EXPECT_EQ(after, before);
}
