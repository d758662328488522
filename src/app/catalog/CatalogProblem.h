#pragma once
// The question asked when the catalogue to open at start cannot be opened:
// which file and why, and what to do - put the backup in its place, look at
// what can be read without changing anything, open or create another
// catalogue, or end the program changing nothing.
#include <QDialog>

#include <string>

class TMainForm;
namespace Ui {
class TCatalogProblemForm;
}

class TCatalogProblemForm : public QDialog {
    Q_OBJECT
public:
    // The dialog's results (what exec() answers).
    enum Choice { Restore = 10, ReadOnly, Other, New, Exit };

    // `text`: the catalogue, each file that failed and why, and what a
    // restore would do. `canRestore`: every such file has a readable backup.
    TCatalogProblemForm(TMainForm *main, const std::string &text, bool canRestore, bool canReadOnly,
                        QWidget *parent = nullptr);
    ~TCatalogProblemForm() override;

    Ui::TCatalogProblemForm *ui;
    void reject() override; // Escape and the close button end the program

private:
    TMainForm *main_;
};
