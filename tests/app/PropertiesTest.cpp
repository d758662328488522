// The properties dialogs filled from real list rows and the disc state.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QCheckBox>
#include <QLabel>
#include <QTreeWidget>

#include "app/Atr.h"
#include "app/AtrCd.h"
#include "app/FileListView.h"
#include "app/SearchListView.h"
#include "app/CatalogTestSupport.h"
#include "ui_AtrCdForm.h"
#include "ui_AtrForm.h"
#include "ui_MainForm.h"

using namespace cattest;

namespace {

class PropertiesTest : public CatalogTest {
protected:
    void SetUp() override
    {
        CatalogTest::SetUp();
        WriteIni("[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Music\n");
        MakeCatalogFiles(data, "Music", {"e: [DISK]"},
                         {{"e: [DISK]", "song.mp3", "3145728", 33}, {"e: [DISK]", "Docs", "0", 16, 0},
                          {"e: [DISK]", "tiny.txt", "1023", 6}});
    }
    // Runs the properties command and hands the dialog it shows to `check`.
    template <typename Dialog>
    int RunProperties(TMainForm &form, const std::function<void(Dialog &)> &check)
    {
        int shown = 0;
        TMainForm::RunModal = [&](QDialog &d) {
            ++shown;
            auto *dialog = qobject_cast<Dialog *>(&d);
            EXPECT_NE(dialog, nullptr) << d.metaObject()->className();
            if (dialog)
                check(*dialog);
            return 1;
        };
        form.ui->PropertiesMenu->trigger();
        return shown;
    }
    int RowNamed(TMainForm &form, const std::string &name)
    {
        const auto &rows = form.ui->LinksListView->Model()->Rows();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].Name == name)
                return static_cast<int>(i);
        return -1;
    }
};

} // namespace

TEST(AtrSizeText, RangesAndWords)
{
    EXPECT_EQ(AtrSizeText(3145728, '.', "bytes"), "3 mb ( 3145728 bytes )");
    EXPECT_EQ(AtrSizeText(0, '.', "bytes"), "0 bytes ");
    EXPECT_EQ(AtrSizeText(1023, '.', "bytes"), "1023 bytes ");
    EXPECT_EQ(AtrSizeText(2560, ',', "bajtov"), "2,5 kb ( 2560 bajtov )");
    // Halves go to the even neighbour: 1.125 kb is 1.12 kb.
    EXPECT_EQ(AtrSizeText(1152, '.', "bytes"), "1.12 kb ( 1152 bytes )");
    // The two borders fall in the larger unit.
    EXPECT_EQ(AtrSizeText(1024, '.', "bytes"), "1 kb ( 1024 bytes )");
    EXPECT_EQ(AtrSizeText(1048576, '.', "bytes"), "1 mb ( 1048576 bytes )");
    // Sizes beyond 32 bits keep their value.
    EXPECT_EQ(AtrSizeText(5368709120LL, '.', "bytes"), "5120 mb ( 5368709120 bytes )");
}

TEST_F(PropertiesTest, FileDialogFromTheFileList)
{
    TMainForm form(nullptr, data);
    form.FormShow();
    const int row = RowNamed(form, "song.mp3");
    ASSERT_GE(row, 0);
    form.ui->LinksListView->SelectRow(row);
    form.ActiveControl = form.ui->LinksListView->ActiveView();
    const int shown = RunProperties<TAtrForm>(form, [](TAtrForm &d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("song.mp3 - properties"));
        EXPECT_EQ(d.ui->Label1->text(), QStringLiteral("song.mp3"));
        EXPECT_EQ(d.ui->Label2->text(), QStringLiteral("File type:"));
        EXPECT_EQ(d.ui->Label5->text(), QStringLiteral("e:\\song.mp3"));
        EXPECT_EQ(d.ui->Label7->text(), QStringLiteral("3 mb ( 3145728 bytes )"));
        EXPECT_EQ(d.ui->Label9->text(), QStringLiteral("7"));
        EXPECT_EQ(d.ui->Label12->text(), QStringLiteral("01.02.2003 04:05"));
        EXPECT_EQ(d.ui->Label13->text(), QStringLiteral("06.07.2008 09:10"));
        EXPECT_EQ(d.ui->Label16->text(), QStringLiteral("e: [DISK]"));
        EXPECT_EQ(d.ui->Label18->text(), QStringLiteral("Music"));
        EXPECT_EQ(d.ui->Label17->text(), QStringLiteral("Archive name:"));
        EXPECT_FALSE(d.ui->Label3->text().isEmpty());
        // Attributes 33: read only and archive.
        EXPECT_TRUE(d.ui->ReadOnlyBox->isChecked());
        EXPECT_TRUE(d.ui->ArchiveBox->isChecked());
        EXPECT_FALSE(d.ui->HiddenBox->isChecked());
        EXPECT_FALSE(d.ui->SystemBox->isChecked());
        EXPECT_EQ(d.ui->ReadOnlyBox->text(), QStringLiteral("Read only"));
    });
    EXPECT_EQ(shown, 1);

    // A folder shows 0 and the word for bytes; hidden + system attributes.
    form.ui->LinksListView->SelectRow(RowNamed(form, "Docs"));
    RunProperties<TAtrForm>(form, [](TAtrForm &d) { EXPECT_EQ(d.ui->Label7->text(), QStringLiteral("0 bytes ")); });
    form.ui->LinksListView->SelectRow(RowNamed(form, "tiny.txt"));
    RunProperties<TAtrForm>(form, [](TAtrForm &d) {
        EXPECT_EQ(d.ui->Label7->text(), QStringLiteral("1023 bytes "));
        EXPECT_TRUE(d.ui->HiddenBox->isChecked());
        EXPECT_TRUE(d.ui->SystemBox->isChecked());
        EXPECT_FALSE(d.ui->ReadOnlyBox->isChecked());
    });
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(PropertiesTest, FileDialogFromTheSearchListUsesItsFixedWord)
{
    TMainForm form(nullptr, data);
    form.FormShow();
    langunit::SetCurrentLanguage(langunit::LangCzech);
    TSearchRow row;
    row.Name = "found.iso";
    row.Number = "12";
    row.Namecd = "e: [FOUND]";
    row.SizeText = "3 mb";
    row.TypeName = QStringLiteral("Disc image");
    row.LastChange = "02.02.2002";
    row.CreateDate = "01.01.2001";
    row.FullPath = "e:\\isos\\found.iso";
    row.Attrib = 1;
    row.Note = "note";
    row.Archive = "Elsewhere";
    row.SizeTech = "3145728";
    form.ui->SearchView->Model()->SetRows({row});
    form.ui->SearchView->SelectRow(0);
    form.ActiveControl = form.ui->SearchView->ActiveView();
    RunProperties<TAtrForm>(form, [](TAtrForm &d) {
        EXPECT_EQ(d.ui->Label1->text(), QStringLiteral("found.iso"));
        EXPECT_EQ(d.ui->Label3->text(), QStringLiteral("Disc image"));
        EXPECT_EQ(d.ui->Label5->text(), QStringLiteral("e:\\isos\\found.iso"));
        EXPECT_EQ(d.ui->Label9->text(), QStringLiteral("12"));
        EXPECT_EQ(d.ui->Label12->text(), QStringLiteral("01.01.2001"));
        EXPECT_EQ(d.ui->Label13->text(), QStringLiteral("02.02.2002"));
        EXPECT_EQ(d.ui->Label16->text(), QStringLiteral("e: [FOUND]"));
        EXPECT_EQ(d.ui->Label18->text(), QStringLiteral("Elsewhere"));
        EXPECT_EQ(d.ui->Label7->text(), QStringLiteral("3 mb ( 3145728 bajtov )"));
        EXPECT_TRUE(d.ui->ReadOnlyBox->isChecked());
        EXPECT_EQ(d.windowTitle(), QStringLiteral("found.iso - vlastnosti"));
    });
}

TEST_F(PropertiesTest, DiscDialogWhenTheTreeIsActive)
{
    TMainForm form(nullptr, data);
    form.FormShow();
    form.ActiveControl = form.ui->TreeView1;
    const int shown = RunProperties<TAtrCdForm>(form, [&](TAtrCdForm &d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("e: [DISK] - properties"));
        EXPECT_EQ(d.ui->Label1->text(), QStringLiteral("Name : e: [DISK]"));
        EXPECT_EQ(d.ui->Label4->text(), QStringLiteral("Archive name :"));
        EXPECT_EQ(d.ui->Label5->text(), QStringLiteral("Music"));
        EXPECT_EQ(d.ui->Label7->text(), QStringLiteral("100 mb"));
        EXPECT_EQ(d.ui->Label9->text(), QStringLiteral(" [7]"));
        EXPECT_EQ(d.ui->Label11->text(), QString::fromStdString(form.Browse.FileCountText));
        EXPECT_EQ(d.ui->Label10->text(), QStringLiteral("File count:"));
        EXPECT_EQ(d.x(), form.x() + 150);
    });
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(form.Browse.FileCountText, "3");
}

TEST_F(PropertiesTest, NoListActiveGivesTheMessageOnly)
{
    TMainForm form(nullptr, data);
    form.FormShow();
    form.ActiveControl = form.ui->ComboBox1;
    EXPECT_EQ(RunProperties<TAtrForm>(form, [](TAtrForm &) {}), 0);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].text, QStringLiteral("No file chosen"));
}

TEST_F(PropertiesTest, EmptyCatalogueShowsCaptionsOnly)
{
    TMainForm form(nullptr, data);
    std::string error;
    ASSERT_TRUE(form.OpenCatalog(data, "Empty", &error)) << error;
    form.ActiveControl = form.ui->LinksListView;
    EXPECT_EQ(RunProperties<TAtrForm>(form, [](TAtrForm &d) {
                  EXPECT_EQ(d.ui->Label4->text(), QStringLiteral("Path:"));
                  EXPECT_TRUE(d.ui->Label1->text().isEmpty());
              }),
              1);
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(PropertiesTest, ActiveControlFollowsTheFocusInTheWindowOnly)
{
    TMainForm form(nullptr, data);
    form.show();
    QApplication::setActiveWindow(&form);
    form.ui->TreeView1->setFocus();
    QApplication::processEvents();
    if (QApplication::focusWidget() != form.ui->TreeView1)
        GTEST_SKIP() << "the platform gives no keyboard focus";
    EXPECT_EQ(form.ActiveControl, form.ui->TreeView1);
    form.ui->LinksListView->ActiveView()->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(form.ActiveControl, form.ui->LinksListView->ActiveView());
    // A dialog taking the focus leaves the window's active control as it was.
    QDialog other;
    other.show();
    QApplication::setActiveWindow(&other);
    other.setFocus();
    QApplication::processEvents();
    EXPECT_EQ(form.ActiveControl, form.ui->LinksListView->ActiveView());
}
