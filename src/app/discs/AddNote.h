#pragma once
// The note dialog: shows the note of a file or a disc and stores the edited
// one in the open catalogue.
#include <QDialog>
#include <QValidator>

#include <string>

class TMainForm;
namespace Ui {
class TAddNoteForm;
}

// Keeps a text within the field's width in characters (as the table counts
// them), cutting only between characters: what does not fit the field is never
// typed, so it is never cut silently when stored.
class TCharWidthValidator : public QValidator {
public:
    TCharWidthValidator(int chars, QObject *parent) : QValidator(parent), chars_(chars) {}
    State validate(QString &input, int &pos) const override;
    int Chars() const { return chars_; }

private:
    int chars_;
};

class TAddNoteForm : public QDialog {
    Q_OBJECT
public:
    explicit TAddNoteForm(TMainForm *main, QWidget *parent = nullptr);
    ~TAddNoteForm() override;

    Ui::TAddNoteForm *ui;
    // The current note, shown in the edit box (cut to the field's width).
    void SetNote(const std::string &note);
    void OkButtonClick();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormShow();
    TMainForm *main_;
};
