// Faults met while using the whole program the way a user does: each test
// repeats the steps that went wrong and checks what the user saw or kept.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTreeWidget>

#include "app/LangUnit.h"
#include "platform/Prompt.h"
#include "ui_MainForm.h"

#include "DiscTestSupport.h"

using namespace disctest;

namespace {

class UsageFaultsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangEnglish);
        data = dir.file("DiVovData");
        fs::create_directories(fs::path(data) / "CdNames");
    }
    void TearDown() override { langunit::SetCurrentLanguage(langunit::LangSlovak); }

    void Ini(const std::string &catalog)
    {
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup12=1\nSetup16=0\nSetup20=1\nSetup_Text4=" +
                                           catalog + "\n");
    }

    // "Cat" with two discs and no tree file.
    void TwoDiscs()
    {
        TCatalogBuilder b;
        b.Disc({"e: [FIRST]", "1", "", "", 0, "", 3});
        b.Disc({"f: [SECOND]", "2", "", "", 0, "", 3});
        b.Write(data, "Cat");
        Ini("Cat");
    }

    std::unique_ptr<TMainForm> Open()
    {
        auto form = std::make_unique<TMainForm>(nullptr, data);
        form->FormShow();
        return form;
    }

    orbtest::TempDir dir;
    std::string data;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
};

// A right click on another disc of the tree used to move the highlight to it
// while the window still showed (and renamed) the disc opened before.
TEST_F(UsageFaultsTest, RightClickOnAnotherDiscKeepsTheOpenDiscSelected)
{
    TwoDiscs();
    auto form = Open();
    form->show();
    QCoreApplication::processEvents();
    QTreeWidget *tree = form->ui->TreeView1;
    ASSERT_GE(form->SelectTreeNodeByText("e: [FIRST]"), 0);
    form->TreeView1Click();
    ASSERT_EQ(form->Browse.CurrentDisc, "e: [FIRST]");
    QTreeWidgetItem *first = tree->currentItem();
    ASSERT_NE(first, nullptr);

    QTreeWidgetItem *second = nullptr;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->text(0) == QStringLiteral("f: [SECOND]"))
            second = tree->topLevelItem(i);
    ASSERT_NE(second, nullptr);
    const QPoint at = tree->visualItemRect(second).center();
    QTest::mousePress(tree->viewport(), Qt::RightButton, {}, at);
    QTest::mouseRelease(tree->viewport(), Qt::RightButton, {}, at);

    EXPECT_EQ(tree->currentItem(), first);
    EXPECT_TRUE(first->isSelected());
    EXPECT_FALSE(second->isSelected());
    EXPECT_EQ(form->Browse.CurrentDisc, "e: [FIRST]");

    // A left click still opens the other disc.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(tree->currentItem(), second);
    EXPECT_EQ(form->Browse.CurrentDisc, "f: [SECOND]");
}

} // namespace
