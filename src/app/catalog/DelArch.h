#pragma once
// The delete-catalogue dialog: lists the data folder's catalogues and deletes
// the chosen one after asking. Shown modeless; frees itself when closed.
#include <QDialog>

class TMainForm;
namespace Ui {
class TDelArchForm;
}

class TDelArchForm : public QDialog {
    Q_OBJECT
public:
    explicit TDelArchForm(TMainForm *main, QWidget *parent = nullptr);
    ~TDelArchForm() override;

    Ui::TDelArchForm *ui;

    void ComboBox1Change();
    void OkButtonClick();

private:
    void FormShow();
    TMainForm *main_;
};
