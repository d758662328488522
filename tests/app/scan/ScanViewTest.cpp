// What a scan shows and stores for the user: a folder bound to a letter is
// catalogued with the size of its files, and the update wizard's notice sits
// whole inside its frame in every language.
#include "app/scan/newcd.h"
#include "platform/VolumeService.h"
#include "ui_newcd.h"
#include "widgets/PictDriveBox.h"

#include "app/ArchiveTestSupport.h"

using scantest::RunScanWizard;

namespace {

class ScanViewTest : public DataFolderTest<> {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        EmptyMusicCatalog();
        dir.write("photos/2024/a.jpg", std::string(100000, 'a'));
        dir.write("photos/b.jpg", std::string(200000, 'b'));
        dir.write("stick/c.txt", std::string(1000, 'c'));
        // A folder bound to t: on a file system of 258 GB, and a volume of its own.
        VolumeInfo bound;
        bound.letter = 't', bound.type = DRIVE_FIXED, bound.ready = true, bound.mountPoint = dir.file("photos");
        bound.boundFolder = true, bound.totalBytes = 258019ull * 1024 * 1024;
        VolumeInfo stick = bound;
        stick.letter = 'u', stick.label = "STICK", stick.mountPoint = dir.file("stick"), stick.boundFolder = false;
        stick.totalBytes = 8ull * 1024 * 1024;
        VolumeService::SetCurrent(std::make_unique<FixedVolumeService>(std::vector<VolumeInfo>{bound, stick}));
        form = std::make_unique<TMainForm>(nullptr, data);
    }
    void TearDown() override
    {
        form.reset();
        VolumeService::SetCurrent(nullptr);
        DataFolderTest::TearDown();
    }
    // Scans drive `letter` through the wizard (mode 0 new, 1 update of disc
    // "t: [Bez názvu]"); `shown` sees the wizard once it is ready to read.
    void Scan(char letter, int mode, const std::function<void(TNewRecordForm &)> &shown = {})
    {
        if (mode == 1)
            OpenDisc(*form, "t: [Bez názvu]");
        form->ui->DriveComboBox1->SetDrive(letter);
        RunScanWizard(*form, mode, {}, shown);
    }
    std::string DiscSize(const std::string &disc)
    {
        return StoredField(data + "/CdNames/Music_cdname.d", "CdName", disc, "CdSize");
    }

    std::unique_ptr<TMainForm> form;
};

} // namespace

TEST_F(ScanViewTest, BoundFolderIsCataloguedWithTheSizeOfItsFiles)
{
    Scan('t', 0);
    // 300000 bytes of files, not the 258 GB of the file system around them.
    EXPECT_EQ(DiscSize("t: [Bez názvu]"), "0.29 mb");
    Scan('u', 0);
    const std::vector<std::string> names = form->DiscNames();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(DiscSize(names[1]), "8 mb") << names[1];
    // An update counts the files as they are now, once.
    dir.write("photos/2024/d.jpg", std::string(50000, 'd'));
    Scan('t', 1);
    EXPECT_EQ(DiscSize("t: [Bez názvu]"), "0.33 mb");
    EXPECT_EQ(StatusText(*form, 2).toStdString(), " 4 files - 0.33 mb");
}

TEST_F(ScanViewTest, UpdateNoticeSitsWholeInsideItsFrameInEveryLanguage)
{
    Scan('t', 0);
    for (int language : {langunit::LangEnglish, langunit::LangSlovak, langunit::LangCzech}) {
        SCOPED_TRACE(language);
        langunit::SetCurrentLanguage(language);
        bool checked = false;
        Scan('t', 1, [&](TNewRecordForm &w) {
            auto *notice = w.findChild<QLabel *>(QStringLiteral("Label15"));
            QWidget *frame = w.findChild<QWidget *>(QStringLiteral("Shape1"));
            QWidget *name = w.findChild<QWidget *>(QStringLiteral("Label3"));
            QWidget *panel = w.findChild<QWidget *>(QStringLiteral("Panel1"));
            ASSERT_TRUE(notice && frame && name && panel);
            ASSERT_TRUE(notice->isVisible());
            EXPECT_TRUE(notice->text().startsWith(QString::fromStdString(langunit::LangString(138))));
            const QRect n = notice->geometry();
            EXPECT_GT(n.top(), frame->geometry().top());
            EXPECT_LE(n.bottom(), name->geometry().top());
            EXPECT_GE(n.height(), notice->heightForWidth(n.width()));
            EXPECT_LE(frame->geometry().bottom(), panel->geometry().top());
            EXPECT_LE(panel->geometry().bottom(), w.height());
            checked = true;
        });
        EXPECT_TRUE(checked);
    }
}
