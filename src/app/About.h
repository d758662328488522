#pragma once
// The about box: product name and version, and a page of thanks.
#include <QDialog>

class TMainForm;
namespace Ui {
class TAboutBox;
}

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(TMainForm *main, QWidget *parent = nullptr);
    ~TAboutBox() override;

    Ui::TAboutBox *ui;

private:
    void FormShow();
    TMainForm *main_;
};
