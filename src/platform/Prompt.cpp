#include "platform/Prompt.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <stdexcept>

namespace {

Prompt *g_current = nullptr;

std::vector<PromptResult> ButtonsOf(PromptButtons set)
{
    switch (set) {
    case PromptButtons::Ok: return {PromptResult::Ok};
    case PromptButtons::OkCancel: return {PromptResult::Ok, PromptResult::Cancel};
    case PromptButtons::YesNo: return {PromptResult::Yes, PromptResult::No};
    case PromptButtons::YesNoCancel: return {PromptResult::Yes, PromptResult::No, PromptResult::Cancel};
    case PromptButtons::RetryCancel: return {PromptResult::Retry, PromptResult::Cancel};
    case PromptButtons::AbortRetryIgnore:
        return {PromptResult::Abort, PromptResult::Retry, PromptResult::Ignore};
    }
    return {PromptResult::Ok};
}

PromptResult EffectiveDefault(const PromptRequest &r)
{
    if (r.defaultButton != PromptResult::None && PromptOffers(r.buttons, r.defaultButton))
        return r.defaultButton;
    return ButtonsOf(r.buttons).front();
}

// What closing the box without a button (Escape, the window's close button)
// means: Cancel where there is one, the only button of an OK box, otherwise
// the answer that does nothing (No, Abort).
PromptResult EscapeAnswer(PromptButtons set)
{
    switch (set) {
    case PromptButtons::Ok: return PromptResult::Ok;
    case PromptButtons::YesNo: return PromptResult::No;
    case PromptButtons::AbortRetryIgnore: return PromptResult::Abort;
    default: return PromptResult::Cancel;
    }
}

QMessageBox::StandardButton ToStandard(PromptResult r)
{
    switch (r) {
    case PromptResult::Ok: return QMessageBox::Ok;
    case PromptResult::Cancel: return QMessageBox::Cancel;
    case PromptResult::Yes: return QMessageBox::Yes;
    case PromptResult::No: return QMessageBox::No;
    case PromptResult::Retry: return QMessageBox::Retry;
    case PromptResult::Abort: return QMessageBox::Abort;
    case PromptResult::Ignore: return QMessageBox::Ignore;
    case PromptResult::None: break;
    }
    return QMessageBox::NoButton;
}

PromptResult FromStandard(QMessageBox::StandardButton b)
{
    switch (b) {
    case QMessageBox::Ok: return PromptResult::Ok;
    case QMessageBox::Cancel: return PromptResult::Cancel;
    case QMessageBox::Yes: return PromptResult::Yes;
    case QMessageBox::No: return PromptResult::No;
    case QMessageBox::Retry: return PromptResult::Retry;
    case QMessageBox::Abort: return PromptResult::Abort;
    case QMessageBox::Ignore: return PromptResult::Ignore;
    default: return PromptResult::None;
    }
}

QMessageBox::Icon ToQtIcon(PromptIcon icon)
{
    switch (icon) {
    case PromptIcon::Information: return QMessageBox::Information;
    case PromptIcon::Warning: return QMessageBox::Warning;
    case PromptIcon::Question: return QMessageBox::Question;
    case PromptIcon::Error: return QMessageBox::Critical;
    case PromptIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

bool PromptOffers(PromptButtons set, PromptResult button)
{
    for (PromptResult b : ButtonsOf(set))
        if (b == button)
            return true;
    return false;
}

PromptResult Prompt::Show(const QString &text, const QString &caption, PromptButtons buttons,
                          PromptIcon icon, PromptResult defaultButton)
{
    return Ask(PromptRequest{text, caption, buttons, icon, defaultButton});
}

QString Prompt::ApplicationTitle()
{
    const QString name = QGuiApplication::applicationDisplayName();
    return name.isEmpty() ? QStringLiteral("Orbalist") : name;
}

Prompt &Prompt::Current()
{
    static MessageBoxPrompt messageBoxes;
    return g_current ? *g_current : messageBoxes;
}

void Prompt::SetCurrent(Prompt *prompt)
{
    g_current = prompt;
}

QWidget *PromptOwnerWindow()
{
    if (QWidget *w = QApplication::activeModalWidget())
        return w;
    if (QWidget *w = QApplication::activeWindow())
        return w;
    if (QWidget *w = QApplication::focusWidget())
        return w->window();
    // No window is active (the desktop gave the focus elsewhere, or has no
    // window manager): the program's main window, else any window it shows.
    QWidget *shown = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || w->windowType() == Qt::Popup || w->windowType() == Qt::ToolTip ||
            w->windowType() == Qt::SplashScreen)
            continue;
        if (w->inherits("QMainWindow"))
            return w;
        if (!shown)
            shown = w;
    }
    return shown;
}

bool Prompt::AskPassword(const QString &, const QString &, QString &)
{
    return false;
}

bool MessageBoxPrompt::AskPassword(const QString &caption, const QString &label, QString &password)
{
    // Made anew for each question: a fixed 205 x 116 client area, the prompt
    // above a masked text box, OK (the default) and Cancel below.
    QWidget *owner = PromptOwnerWindow();
    QDialog dialog(owner);
    dialog.setObjectName(QStringLiteral("PasswordDialog"));
    dialog.setWindowTitle(caption);
    dialog.setFixedSize(205, 116);
    auto *prompt = new QLabel(label, &dialog);
    prompt->setObjectName(QStringLiteral("PromptLabel"));
    prompt->setWordWrap(true);
    prompt->setGeometry(18, 10, 170, 28);
    auto *edit = new QLineEdit(&dialog);
    edit->setObjectName(QStringLiteral("PasswordEdit"));
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(255);
    edit->setGeometry(18, 42, 170, 24);
    auto *ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setObjectName(QStringLiteral("OkButton"));
    ok->setGeometry(18, 80, 75, 25);
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    cancel->setGeometry(113, 80, 75, 25);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    // Centred on the window it belongs to; on the screen without one.
    if (owner)
        dialog.move(owner->frameGeometry().center() - QPoint(205 / 2, 116 / 2));
    else if (const QScreen *screen = QGuiApplication::primaryScreen())
        dialog.move(screen->availableGeometry().center() - QPoint(205 / 2, 116 / 2));
    edit->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return false;
    password = edit->text();
    return true;
}

PromptResult MessageBoxPrompt::Ask(const PromptRequest &request)
{
    // Over the window it belongs to, which centres it there.
    QMessageBox box(PromptOwnerWindow());
    box.setIcon(ToQtIcon(request.icon));
    box.setWindowTitle(request.caption.isEmpty() ? ApplicationTitle() : request.caption);
    box.setText(request.text);
    QMessageBox::StandardButtons set;
    for (PromptResult b : ButtonsOf(request.buttons))
        set |= ToStandard(b);
    box.setStandardButtons(set);
    box.setDefaultButton(ToStandard(EffectiveDefault(request)));
    box.setEscapeButton(ToStandard(EscapeAnswer(request.buttons)));
    box.exec();
    const PromptResult pressed = FromStandard(box.standardButton(box.clickedButton()));
    if (pressed == PromptResult::None || !PromptOffers(request.buttons, pressed))
        return EscapeAnswer(request.buttons);
    return pressed;
}

PromptResult ScriptedPrompt::Ask(const PromptRequest &request)
{
    PromptRequest recorded = request;
    if (recorded.caption.isEmpty())
        recorded.caption = ApplicationTitle();
    asked_.push_back(recorded);
    if (answers_.empty()) {
        ++unanswered_;
        return EffectiveDefault(request);
    }
    const PromptResult answer = answers_.front();
    answers_.pop_front();
    if (!PromptOffers(request.buttons, answer))
        throw std::logic_error("scripted answer is not a button of the message box: "
                               + request.text.toStdString());
    return answer;
}

bool ScriptedPrompt::AskPassword(const QString &caption, const QString &label, QString &password)
{
    passwordsAsked_.push_back(PasswordRequest{caption, label});
    if (passwords_.empty()) {
        ++unanswered_;
        return false;
    }
    const std::optional<QString> answer = passwords_.front();
    passwords_.pop_front();
    if (!answer)
        return false;
    password = *answer;
    return true;
}

PromptScope::PromptScope(Prompt &prompt) : previous_(g_current)
{
    Prompt::SetCurrent(&prompt);
}

PromptScope::~PromptScope()
{
    Prompt::SetCurrent(previous_);
}

void Beep()
{
    QApplication::beep();
}

HourglassCursor::HourglassCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

HourglassCursor::~HourglassCursor()
{
    QApplication::restoreOverrideCursor();
}
