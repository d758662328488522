// A protected catalogue table opened through the program's password prompt,
// answered from a script.
#include "app/CatalogProblem.h"
#include "storage/FlatConst.h"
#include "storage/FlatTblStore.h"
#include "app/CatalogTestSupport.h"
#include "ui_CatalogProblemForm.h"

using namespace cattest;

namespace {

class TablePasswordTest : public CatalogTest {
protected:
    void SetUp() override
    {
        CatalogTest::SetUp();
        WriteIni("[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Music\n");
        MakeCatalog("Music", {"e: [PLAIN]"});
        MakeCatalogIn(data, "Secret", {"e: [HIDDEN]"}, kPassword);
        // The engine remembers passwords for the run: start without this one.
        FlatSession().RemovePassword(kPassword);
        secretBytes = orbtest::readFile(data + "/Secret.d");
    }
    void TearDown() override
    {
        FlatSession().RemovePassword(kPassword);
        CatalogTest::TearDown();
    }
    static constexpr const char *kPassword = "Tajne-Heslo";
    std::string secretBytes;
};

} // namespace

TEST_F(TablePasswordTest, RightAnswerOpensTheTable)
{
    TMainForm form(nullptr, data);
    prompt.AnswerPassword(QStringLiteral("wrong"));
    prompt.AnswerPassword(QString::fromLatin1(kPassword));
    ASSERT_TRUE(form.OpenCatalogFile(data + "/Secret.d"));
    EXPECT_EQ(form.CatalogName, "Secret");
    EXPECT_EQ(form.FileRecordCount(), 1);
    ASSERT_EQ(prompt.PasswordsAsked().size(), 2u);
    EXPECT_EQ(prompt.PasswordsAsked()[0].caption, QStringLiteral("Login password"));
    EXPECT_EQ(prompt.PasswordsAsked()[0].label, QStringLiteral("Enter password:"));
    // One wrong try: the notice once, with the program's title.
    ASSERT_EQ(prompt.Asked().size(), 1u);
    EXPECT_EQ(prompt.Asked()[0].text, QStringLiteral("Password is invalid. Try again"));
    EXPECT_EQ(prompt.Asked()[0].icon, PromptIcon::Warning);
    // Known from now on: a second opening asks nothing.
    ASSERT_TRUE(form.OpenCatalogFile(data + "/Music.d"));
    ASSERT_TRUE(form.OpenCatalogFile(data + "/Secret.d"));
    EXPECT_EQ(prompt.PasswordsAsked().size(), 2u);
}

TEST_F(TablePasswordTest, ThreeWrongAnswersOrACancelLeaveTheTableClosedAndUntouched)
{
    TMainForm form(nullptr, data);
    form.FormShow();
    TFlatTable *open = form.FlatTable1.get();
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "three wrong");
        const size_t asked = prompt.Asked().size(), passwords = prompt.PasswordsAsked().size();
        if (cancel)
            prompt.AnswerPassword(std::nullopt);
        for (int i = 0; i < 3 && !cancel; ++i)
            prompt.AnswerPassword(QStringLiteral("wrong %1").arg(i));
        EXPECT_FALSE(form.OpenCatalogFile(data + "/Secret.d"));
        EXPECT_EQ(prompt.PasswordsAsked().size() - passwords, cancel ? 1u : 3u);
        // "Try again" after the first two tries only (none when cancelled), then the failure names the file.
        const auto texts = TextsAsked(prompt);
        ASSERT_EQ(texts.size() - asked, cancel ? 1u : 3u);
        for (size_t i = asked; i + 1 < texts.size(); ++i)
            EXPECT_EQ(texts[i], "Password is invalid. Try again");
        EXPECT_NE(texts.back().find(data + "/Secret.d"), std::string::npos) << texts.back();
        EXPECT_NE(texts.back().find(SInvalidPassword), std::string::npos) << texts.back();
        EXPECT_EQ(form.FlatTable1.get(), open);
        EXPECT_EQ(form.CatalogName, "Music");
        EXPECT_EQ(orbtest::readFile(data + "/Secret.d"), secretBytes);
    }
}

TEST_F(TablePasswordTest, ProtectedCatalogueAtStartIsNeverReplaced)
{
    WriteIni("[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Secret\n");
    std::string problem;
    TMainForm::RunModal = [&](QDialog &d) {
        if (auto *p = qobject_cast<TCatalogProblemForm *>(&d)) {
            problem = p->ui->Label1->text().toStdString();
            p->reject(); // leave the program
        }
        return d.result();
    };
    {
        // Nobody answers the password prompt: it counts as cancelled.
        TMainForm form(nullptr, data);
        EXPECT_GE(prompt.PasswordsAsked().size(), 1u);
        EXPECT_NE(problem.find(SInvalidPassword), std::string::npos) << problem;
        EXPECT_TRUE(form.StartCancelled);
    }
    EXPECT_EQ(orbtest::readFile(data + "/Secret.d"), secretBytes);
    EXPECT_TRUE(fs::exists(data + "/CdNames/Secret_cdname.d"));
}
