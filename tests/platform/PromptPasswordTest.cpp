#include "platform/Prompt.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs `act` on the password dialog once it is shown modally.
void WhenDialogShows(std::function<void(QDialog *)> act)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act]() {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (dialog && dialog->objectName() == QStringLiteral("PasswordDialog")) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        }
    });
    timer->start();
}

} // namespace

TEST(PromptPassword, DialogAnswersTheTypedTextOnOk)
{
    MessageBoxPrompt prompt;
    WhenDialogShows([](QDialog *d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Login password"));
        EXPECT_EQ(d->size(), QSize(205, 116));
        auto *label = d->findChild<QLabel *>(QStringLiteral("PromptLabel"));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), QStringLiteral("Enter password:"));
        EXPECT_TRUE(label->wordWrap());
        auto *edit = d->findChild<QLineEdit *>(QStringLiteral("PasswordEdit"));
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
        EXPECT_EQ(edit->maxLength(), 255);
        auto *ok = d->findChild<QPushButton *>(QStringLiteral("OkButton"));
        auto *cancel = d->findChild<QPushButton *>(QStringLiteral("CancelButton"));
        ASSERT_TRUE(ok && cancel);
        EXPECT_TRUE(ok->isDefault());
        EXPECT_EQ(ok->geometry(), QRect(18, 80, 75, 25));
        EXPECT_EQ(cancel->geometry(), QRect(113, 80, 75, 25));
        EXPECT_EQ(cancel->text(), QStringLiteral("Cancel"));
        edit->setText(QStringLiteral("s3cret"));
        ok->click();
    });
    QString answer = QStringLiteral("unchanged");
    EXPECT_TRUE(prompt.AskPassword(QStringLiteral("Login password"), QStringLiteral("Enter password:"), answer));
    EXPECT_EQ(answer, QStringLiteral("s3cret"));
}

TEST(PromptPassword, CancelAndCloseAnswerFalse)
{
    MessageBoxPrompt prompt;
    QString answer = QStringLiteral("kept");
    WhenDialogShows([](QDialog *d) {
        d->findChild<QLineEdit *>(QStringLiteral("PasswordEdit"))->setText(QStringLiteral("typed"));
        d->findChild<QPushButton *>(QStringLiteral("CancelButton"))->click();
    });
    EXPECT_FALSE(prompt.AskPassword(QStringLiteral("t"), QStringLiteral("p"), answer));
    WhenDialogShows([](QDialog *d) { d->reject(); });
    EXPECT_FALSE(prompt.AskPassword(QStringLiteral("t"), QStringLiteral("p"), answer));
    EXPECT_EQ(answer, QStringLiteral("kept"));
}

TEST(PromptPassword, ScriptedAnswersAndCancels)
{
    ScriptedPrompt prompt;
    prompt.AnswerPassword(QString());
    prompt.AnswerPassword(std::nullopt);
    QString answer = QStringLiteral("x");
    EXPECT_TRUE(prompt.AskPassword(QStringLiteral("c"), QStringLiteral("l"), answer));
    EXPECT_TRUE(answer.isEmpty()); // an empty answer is an answer
    EXPECT_FALSE(prompt.AskPassword(QStringLiteral("c"), QStringLiteral("l"), answer));
    EXPECT_EQ(prompt.Unanswered(), 0);
    EXPECT_FALSE(prompt.AskPassword(QStringLiteral("c"), QStringLiteral("l"), answer));
    EXPECT_EQ(prompt.Unanswered(), 1);
    ASSERT_EQ(prompt.PasswordsAsked().size(), 3u);
    EXPECT_EQ(prompt.PasswordsAsked()[0].caption, QStringLiteral("c"));
    // A prompt that cannot ask cancels.
    struct Silent : Prompt {
        PromptResult Ask(const PromptRequest &) override { return PromptResult::Ok; }
    } silent;
    EXPECT_FALSE(silent.AskPassword(QStringLiteral("c"), QStringLiteral("l"), answer));
}
