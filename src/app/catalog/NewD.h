#pragma once
// The new-catalogue dialog: creates a catalogue in the data folder and makes
// it the open one. On the first start it proposes a name; leaving it then
// ends the program without writing anything.
#include <QDialog>

class TMainForm;
namespace Ui {
class TNewDataForm;
}

class TNewDataForm : public QDialog {
    Q_OBJECT
public:
    explicit TNewDataForm(TMainForm *main, QWidget *parent = nullptr);
    ~TNewDataForm() override;

    Ui::TNewDataForm *ui;
    // True when the dialog runs as part of the first start.
    bool FirstStart() const { return firstStart_; }

    void OkButtonClick();
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
    TMainForm *main_;
    bool firstStart_ = false;
};
