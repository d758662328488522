#pragma once
// The disc properties dialog: what the catalogue knows about the current disc.
// Read-only; takes its values from the main window's state.
#include <QDialog>

class TMainForm;
namespace Ui {
class TAtrCdForm;
}

class TAtrCdForm : public QDialog {
    Q_OBJECT
public:
    explicit TAtrCdForm(TMainForm *main, QWidget *parent = nullptr);
    ~TAtrCdForm() override;

    Ui::TAtrCdForm *ui;

private:
    void FormShow();
    TMainForm *main_;
};
