#include "platform/Prompt.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace {

// Runs `act` on the modal dialog of type W (and object name `name`, if given) once it is shown.
template <typename W> void WhenShown(std::function<void(W *)> act, const char *name = nullptr)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act, name]() {
        auto *w = qobject_cast<W *>(QApplication::activeModalWidget());
        if (w && (!name || w->objectName() == QLatin1String(name))) {
            timer->stop();
            timer->deleteLater();
            act(w);
        }
    });
    timer->start();
}
void WhenBoxShows(std::function<void(QMessageBox *)> act) { WhenShown<QMessageBox>(std::move(act)); }
void WhenDialogShows(std::function<void(QDialog *)> act) { WhenShown<QDialog>(std::move(act), "PasswordDialog"); }

void PressKey(QWidget *w, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
}

} // namespace

TEST(Prompt, ScriptedAnswersInOrderAndRecordsQuestions)
{
    ScriptedPrompt fake;
    PromptScope scope(fake);
    fake.Answer(PromptResult::Yes);
    fake.Answer(PromptResult::Cancel);

    EXPECT_EQ(Prompt::Current().Show("Want to remove record  : x", "Warning", PromptButtons::YesNo,
                                     PromptIcon::Question, PromptResult::No),
              PromptResult::Yes);
    EXPECT_EQ(Prompt::Current().Show("Insert disc", "", PromptButtons::OkCancel), PromptResult::Cancel);
    // Queue exhausted: the default button is answered and the miss counted.
    EXPECT_EQ(Prompt::Current().Show("Again?", "Warning", PromptButtons::YesNo, PromptIcon::Question,
                                     PromptResult::No),
              PromptResult::No);
    EXPECT_EQ(Prompt::Current().Show("Retry?", "", PromptButtons::RetryCancel), PromptResult::Retry);

    ASSERT_EQ(fake.Asked().size(), 4u);
    EXPECT_EQ(fake.Asked()[0].text, "Want to remove record  : x");
    EXPECT_EQ(fake.Asked()[0].caption, "Warning");
    EXPECT_EQ(fake.Asked()[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(fake.Asked()[0].icon, PromptIcon::Question);
    EXPECT_EQ(fake.Asked()[0].defaultButton, PromptResult::No);
    EXPECT_EQ(fake.Asked()[1].caption, Prompt::ApplicationTitle()); // empty caption: the title
    EXPECT_EQ(fake.Unanswered(), 2);
}

TEST(Prompt, ScriptedAnswerOutsideTheButtonSetIsATestError)
{
    ScriptedPrompt fake;
    PromptScope scope(fake);
    fake.Answer(PromptResult::Yes);
    EXPECT_THROW(Prompt::Current().Show("Only OK", "", PromptButtons::Ok), std::logic_error);
}

TEST(Prompt, ScopeRestoresPreviousPrompt)
{
    Prompt &original = Prompt::Current();
    ScriptedPrompt outer, inner;
    {
        PromptScope a(outer);
        {
            PromptScope b(inner);
            EXPECT_EQ(&Prompt::Current(), &inner);
        }
        EXPECT_EQ(&Prompt::Current(), &outer);
    }
    EXPECT_EQ(&Prompt::Current(), &original);
    EXPECT_NE(dynamic_cast<MessageBoxPrompt *>(&original), nullptr);
}

TEST(Prompt, OffersMatchesButtonSets)
{
    EXPECT_TRUE(PromptOffers(PromptButtons::AbortRetryIgnore, PromptResult::Ignore));
    EXPECT_FALSE(PromptOffers(PromptButtons::AbortRetryIgnore, PromptResult::Cancel));
    EXPECT_TRUE(PromptOffers(PromptButtons::YesNoCancel, PromptResult::Cancel));
    EXPECT_FALSE(PromptOffers(PromptButtons::YesNo, PromptResult::Cancel));
    EXPECT_FALSE(PromptOffers(PromptButtons::Ok, PromptResult::None));
}

TEST(Prompt, MessageBoxShowsCaptionIconAndDefaultButton)
{
    MessageBoxPrompt boxes;
    QString seenTitle, seenText;
    QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
    bool defaultIsNo = false;
    WhenBoxShows([&](QMessageBox *box) {
        seenTitle = box->windowTitle();
        seenText = box->text();
        seenIcon = box->icon();
        defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
        box->defaultButton()->click(); // what Enter does
    });
    const PromptResult r = boxes.Show("Want to remove archive  : a", "Warning", PromptButtons::YesNo,
                                      PromptIcon::Question, PromptResult::No);
    EXPECT_EQ(r, PromptResult::No);
    EXPECT_EQ(seenTitle, "Warning");
    EXPECT_EQ(seenText, "Want to remove archive  : a");
    EXPECT_EQ(seenIcon, QMessageBox::Question);
    EXPECT_TRUE(defaultIsNo);
}

TEST(Prompt, MessageBoxEscapeAndClicks)
{
    MessageBoxPrompt boxes;
    // Escape on a Yes/No box answers No (never Yes).
    WhenBoxShows([](QMessageBox *box) { PressKey(box, Qt::Key_Escape); });
    EXPECT_EQ(boxes.Show("q", "c", PromptButtons::YesNo, PromptIcon::Question), PromptResult::No);

    // Escape on OK/Cancel answers Cancel.
    WhenBoxShows([](QMessageBox *box) { PressKey(box, Qt::Key_Escape); });
    EXPECT_EQ(boxes.Show("q", "", PromptButtons::OkCancel), PromptResult::Cancel);

    // A click on Ignore of Abort/Retry/Ignore.
    WhenBoxShows([](QMessageBox *box) { box->button(QMessageBox::Ignore)->click(); });
    EXPECT_EQ(boxes.Show("q", "", PromptButtons::AbortRetryIgnore, PromptIcon::Error), PromptResult::Ignore);

    // No caption: the application's title.
    QString title;
    WhenBoxShows([&](QMessageBox *box) {
        title = box->windowTitle();
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(boxes.Show("note"), PromptResult::Ok);
    EXPECT_EQ(title, Prompt::ApplicationTitle());
}

TEST(Prompt, HourglassNestsAndRestores)
{
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    {
        HourglassCursor outer;
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        {
            HourglassCursor inner;
        }
        EXPECT_NE(QApplication::overrideCursor(), nullptr);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(PromptPassword, DialogAnswersTheTypedTextOnOk)
{
    MessageBoxPrompt prompt;
    WhenDialogShows([](QDialog *d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Login password"));
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

// Message boxes were centred on the screen, sometimes outside the program's window, when the
// desktop had made no window active: they belong to the main window and are centred on it.
TEST(Prompt, MessageBoxesAreCentredOnTheirWindowWhenNoneIsActive)
{
    QMainWindow main;
    main.setGeometry(420, 260, 500, 380);
    main.show();
    QApplication::processEvents();
    QApplication::setActiveWindow(nullptr);
    ASSERT_EQ(PromptOwnerWindow(), &main);
    QRect boxAt, dialogAt;
    WhenBoxShows([&](QMessageBox *box) {
        EXPECT_EQ(box->parentWidget(), &main);
        boxAt = box->frameGeometry();
        PressKey(box, Qt::Key_Escape);
    });
    MessageBoxPrompt prompt;
    prompt.Show(QStringLiteral("Where am I?"));
    WhenDialogShows([&](QDialog *dialog) {
        dialogAt = dialog->frameGeometry();
        dialog->reject();
    });
    QString password;
    prompt.AskPassword(QStringLiteral("Password"), QStringLiteral("Password:"), password);
    for (const QRect &at : {boxAt, dialogAt}) {
        ASSERT_TRUE(at.isValid());
        EXPECT_LE((at.center() - main.frameGeometry().center()).manhattanLength(), 4)
            << at.x() << "," << at.y() << " " << at.width() << "x" << at.height();
    }
}
