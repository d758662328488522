// The properties dialogs filled from real list rows and the disc state.
#include <QCheckBox>
#include <QDialog>

#include "app/CatalogTestSupport.h"
#include "app/discs/Atr.h"
#include "app/discs/AtrCd.h"
#include "ui_AtrCdForm.h"
#include "ui_AtrForm.h"

#include "app/MainFormTestSupport.h"

using namespace cattest;

namespace {

// The texts of the dialog's labels "Label<n>", in the order given, each ended by "|".
std::string Labels(QWidget &d, std::initializer_list<int> numbers)
{
    std::string out;
    for (int n : numbers) {
        auto *label = d.findChild<QLabel *>(QStringLiteral("Label%1").arg(n));
        out += (label ? label->text().toStdString() : "<none>") + "|";
    }
    return out;
}

class PropertiesTest : public CatalogTest {
protected:
    void SetUp() override
    {
        CatalogTest::SetUp();
        WriteIni("[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Music\n");
        MakeCatalogFiles(data, "Music", {"e: [DISK]"},
                         {{"e: [DISK]", "song.mp3", "3145728", 33}, {"e: [DISK]", "Docs", "0", 16, 0},
                          {"e: [DISK]", "tiny.txt", "1023", 6}});
        form = std::make_unique<TMainForm>(nullptr, data);
        form->FormShow();
    }
    // Runs the properties command and hands the dialog it shows to `check`.
    template <typename Dialog>
    int RunProperties(const std::function<void(Dialog &)> &check)
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
        form->ui->PropertiesMenu->trigger();
        return shown;
    }
    // The file dialog of the file list's row `name`: its size text and
    // attributes read only, archive, hidden, system as "RAHS" letters.
    void ExpectFileRow(const std::string &name, const char *size, const std::string &attributes)
    {
        form->ui->LinksListView->SelectRow(ListRowOf(*form, name));
        form->ActiveControl = form->ui->LinksListView->ActiveView();
        EXPECT_EQ(RunProperties<TAtrForm>([&](TAtrForm &d) {
                      EXPECT_EQ(d.ui->Label7->text().toStdString(), size);
                      std::string set;
                      for (auto [box, letter] : {std::pair{d.ui->ReadOnlyBox, 'R'}, std::pair{d.ui->ArchiveBox, 'A'},
                                                 std::pair{d.ui->HiddenBox, 'H'}, std::pair{d.ui->SystemBox, 'S'}})
                          set += box->isChecked() ? letter : '-';
                      EXPECT_EQ(set, attributes) << name;
                  }),
                  1);
    }

    std::unique_ptr<TMainForm> form;
};

} // namespace

TEST(AtrSizeText, RangesAndWords)
{
    // The byte count is added from 1 kb on; sizes beyond 32 bits keep their value.
    for (const auto &[bytes, text] : std::vector<std::pair<std::int64_t, const char *>>{
             {1023, "1023 bytes "}, {1024, "1 kb ( 1024 bytes )"}, {5368709120LL, "5120 mb ( 5368709120 bytes )"}})
        EXPECT_EQ(AtrSizeText(bytes, '.', "bytes"), text) << bytes;
    EXPECT_EQ(AtrSizeText(2560, ',', "bajtov"), "2,5 kb ( 2560 bajtov )");
}

TEST_F(PropertiesTest, FileDialogFromTheFileList)
{
    form->ui->LinksListView->SelectRow(ListRowOf(*form, "song.mp3"));
    form->ActiveControl = form->ui->LinksListView->ActiveView();
    EXPECT_EQ(RunProperties<TAtrForm>([](TAtrForm &d) {
                  EXPECT_EQ(d.windowTitle(), QStringLiteral("song.mp3 - properties"));
                  EXPECT_EQ(Labels(d, {1, 2, 5, 7, 9, 12, 13, 16, 18, 17}),
                            "song.mp3|File type:|e:\\song.mp3|3 mb ( 3145728 bytes )|7|01.02.2003 04:05|"
                            "06.07.2008 09:10|e: [DISK]|Music|Archive name:|");
                  EXPECT_FALSE(d.ui->Label3->text().isEmpty());
                  EXPECT_EQ(d.ui->ReadOnlyBox->text(), QStringLiteral("Read only"));
              }),
              1);
    ExpectFileRow("song.mp3", "3 mb ( 3145728 bytes )", "RA--"); // attributes 33
    ExpectFileRow("Docs", "0 bytes ", "----");                  // a folder shows 0 and the word
    ExpectFileRow("tiny.txt", "1023 bytes ", "--HS");
    EXPECT_TRUE(prompt.Asked().empty());
}

TEST_F(PropertiesTest, FileDialogFromTheSearchListUsesItsFixedWord)
{
    langunit::SetCurrentLanguage(langunit::LangCzech);
    TSearchRow row;
    row.Name = "found.iso", row.Number = "12", row.Namecd = "e: [FOUND]", row.SizeText = "3 mb";
    row.TypeName = QStringLiteral("Disc image"), row.LastChange = "02.02.2002", row.CreateDate = "01.01.2001";
    row.FullPath = "e:\\isos\\found.iso", row.Attrib = 1, row.Note = "note", row.Archive = "Elsewhere";
    row.SizeTech = "3145728";
    form->ui->SearchView->Model()->SetRows({row});
    form->ui->SearchView->SelectRow(0);
    form->ActiveControl = form->ui->SearchView->ActiveView();
    RunProperties<TAtrForm>([](TAtrForm &d) {
        EXPECT_EQ(Labels(d, {1, 3, 5, 9, 12, 13, 16, 18, 7}),
                  "found.iso|Disc image|e:\\isos\\found.iso|12|01.01.2001|02.02.2002|e: [FOUND]|Elsewhere|"
                  "3 mb ( 3145728 bajtov )|");
        EXPECT_TRUE(d.ui->ReadOnlyBox->isChecked());
        EXPECT_EQ(d.windowTitle(), QStringLiteral("found.iso - vlastnosti"));
    });
}

TEST_F(PropertiesTest, DiscDialogFromTheTreeMessageWithoutAListAndCaptionsOnlyInAnEmptyCatalogue)
{
    form->ActiveControl = form->ui->TreeView1;
    EXPECT_EQ(RunProperties<TAtrCdForm>([&](TAtrCdForm &d) {
                  EXPECT_EQ(d.windowTitle(), QStringLiteral("e: [DISK] - properties"));
                  EXPECT_EQ(Labels(d, {1, 4, 5, 7, 9, 11, 10}),
                            "Name : e: [DISK]|Archive name :|Music|100 mb| [7]|3|File count:|");
                  EXPECT_EQ(d.x(), form->x() + 150);
              }),
              1);
    EXPECT_EQ(form->Browse.FileCountText, "3");
    form->ActiveControl = form->ui->ComboBox1;
    EXPECT_EQ(RunProperties<TAtrForm>([](TAtrForm &) {}), 0);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].text, QStringLiteral("No file chosen"));
    // An empty catalogue: no empty dialog for a file or a disc, a message that
    // nothing is chosen instead.
    std::string error;
    ASSERT_TRUE(form->OpenCatalog(data, "Empty", &error)) << error;
    form->ForgetCatalogViews();
    form->FormShow();
    form->ActiveControl = form->ui->LinksListView;
    EXPECT_EQ(RunProperties<TAtrForm>([](TAtrForm &) {}), 0);
    ASSERT_EQ(prompt.Asked().size(), 2u);
    EXPECT_EQ(prompt.Asked()[1].text, QStringLiteral("No file chosen"));
    form->ActiveControl = form->ui->TreeView1;
    EXPECT_EQ(RunProperties<TAtrCdForm>([](TAtrCdForm &) {}), 0);
    ASSERT_EQ(prompt.Asked().size(), 3u);
    EXPECT_EQ(prompt.Asked()[2].text, QStringLiteral("No disc is selected."));
}

TEST_F(PropertiesTest, ActiveControlFollowsTheFocusInTheWindowOnly)
{
    form->show();
    QApplication::setActiveWindow(form.get());
    form->ui->TreeView1->setFocus();
    QApplication::processEvents();
    if (QApplication::focusWidget() != form->ui->TreeView1)
        GTEST_SKIP() << "the platform gives no keyboard focus";
    EXPECT_EQ(form->ActiveControl, form->ui->TreeView1);
    form->ui->LinksListView->ActiveView()->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(form->ActiveControl, form->ui->LinksListView->ActiveView());
    // A dialog taking the focus leaves the window's active control as it was.
    QDialog other;
    other.show();
    QApplication::setActiveWindow(&other);
    other.setFocus();
    QApplication::processEvents();
    EXPECT_EQ(form->ActiveControl, form->ui->LinksListView->ActiveView());
}
