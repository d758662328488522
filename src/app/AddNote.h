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

// Keeps a text within a number of UTF-8 bytes, cutting only between
// characters: what does not fit the field is never typed, so it is never cut
// silently when stored.
class TByteWidthValidator : public QValidator {
public:
    TByteWidthValidator(int bytes, QObject *parent) : QValidator(parent), bytes_(bytes) {}
    State validate(QString &input, int &pos) const override;
    int Bytes() const { return bytes_; }

private:
    int bytes_;
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
