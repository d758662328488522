#pragma once
// Message boxes, the beep and the hourglass behind one small interface, so the
// application asks its questions the same way everywhere and tests can answer
// them from a script instead of a real dialog.
#include <QString>

#include <deque>
#include <optional>
#include <vector>

enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class PromptIcon { None, Information, Warning, Question, Error };
// The button pressed; None only as "no default button chosen" in a request.
enum class PromptResult { None, Ok, Cancel, Yes, No, Retry, Abort, Ignore };

struct PromptRequest {
    QString text;
    QString caption; // empty: the application's title
    PromptButtons buttons = PromptButtons::Ok;
    PromptIcon icon = PromptIcon::None;
    PromptResult defaultButton = PromptResult::None; // None: the first button
};

// True when `button` is one of the buttons of `set`.
bool PromptOffers(PromptButtons set, PromptResult button);

class Prompt {
public:
    virtual ~Prompt() = default;

    // Shows the question and returns the button pressed (always one of the set).
    virtual PromptResult Ask(const PromptRequest &request) = 0;

    // Asks for a password in a small dialog: `caption` as its title, `label`
    // above a text box that shows "*" for each character typed. True with the
    // text on OK, false when the user cancels. The base answers false: a
    // prompt that cannot ask counts as a cancelled question.
    virtual bool AskPassword(const QString &caption, const QString &label, QString &password);

    PromptResult Show(const QString &text, const QString &caption = QString(),
                      PromptButtons buttons = PromptButtons::Ok, PromptIcon icon = PromptIcon::None,
                      PromptResult defaultButton = PromptResult::None);

    // The caption used when a request has none: the application's display name.
    static QString ApplicationTitle();

    // The process-wide prompt; a QMessageBox prompt unless a test installed another.
    static Prompt &Current();
    // Installs `prompt` (not owned; nullptr restores the message-box prompt).
    static void SetCurrent(Prompt *prompt);
};

class QWidget;

// The window a message belongs to: the active (or modal) window, or, when the
// desktop has made none active, the program's main window; null without any.
QWidget *PromptOwnerWindow();

// The real thing: a modal QMessageBox centred on the window it belongs to.
class MessageBoxPrompt : public Prompt {
public:
    PromptResult Ask(const PromptRequest &request) override;
    bool AskPassword(const QString &caption, const QString &label, QString &password) override;
};

// A question for a password as a scripted prompt records it.
struct PasswordRequest {
    QString caption;
    QString label;
};

// A prompt for tests: answers are taken from a queue in order and every
// question is recorded. With the queue empty it answers the default button and
// counts the question as unanswered; an answer the box does not offer is a
// mistake in the test script and throws std::logic_error.
class ScriptedPrompt : public Prompt {
public:
    PromptResult Ask(const PromptRequest &request) override;
    // Password answers come from their own queue; nullopt (or an empty queue,
    // counted as unanswered) cancels.
    bool AskPassword(const QString &caption, const QString &label, QString &password) override;

    void Answer(PromptResult result) { answers_.push_back(result); }
    void AnswerPassword(std::optional<QString> password) { passwords_.push_back(std::move(password)); }
    const std::vector<PasswordRequest> &PasswordsAsked() const { return passwordsAsked_; }
    const std::vector<PromptRequest> &Asked() const { return asked_; }
    int Unanswered() const { return unanswered_; }
    size_t PendingAnswers() const { return answers_.size(); }

private:
    std::deque<PromptResult> answers_;
    std::vector<PromptRequest> asked_;
    std::deque<std::optional<QString>> passwords_;
    std::vector<PasswordRequest> passwordsAsked_;
    int unanswered_ = 0;
};

// Installs a prompt for the lifetime of the scope and restores the previous one.
class PromptScope {
public:
    explicit PromptScope(Prompt &prompt);
    ~PromptScope();
    PromptScope(const PromptScope &) = delete;
    PromptScope &operator=(const PromptScope &) = delete;

private:
    Prompt *previous_;
};

// The system's default beep.
void Beep();

// Shows the busy cursor while it lives; nests.
class HourglassCursor {
public:
    HourglassCursor();
    ~HourglassCursor();
    HourglassCursor(const HourglassCursor &) = delete;
    HourglassCursor &operator=(const HourglassCursor &) = delete;
};
