#include "platform/Prompt.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

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

PromptResult MessageBoxPrompt::Ask(const PromptRequest &request)
{
    QMessageBox box(QApplication::activeWindow());
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
