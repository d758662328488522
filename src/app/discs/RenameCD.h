#pragma once
// The rename-disc dialog: shows the current disc's name without its drive and
// brackets and renames the disc everywhere it is kept. Shown modeless; it
// frees itself when closed, and closes when another catalogue is opened.
#include <QDialog>

#include <string>

class TMainForm;
namespace Ui {
class TRenameCDForm;
}

class TRenameCDForm : public QDialog {
    Q_OBJECT
public:
    // Takes the disc to rename (the main window's current disc) at once, so a
    // later change of the current disc cannot redirect the rename.
    explicit TRenameCDForm(TMainForm *main);
    ~TRenameCDForm() override;

    Ui::TRenameCDForm *ui;
    void OkButtonClick();

    // The drive part ("e: [") of the last bracketed name split, kept between uses.
    static std::string &DiscNamePrefix();

private:
    void FormShow();
    TMainForm *main_;
    std::string oldName_;
    std::string prefix_;
    bool bracketed_ = false;
};
