#pragma once
// The language dialog: three buttons in one group, exactly one down.
#include <QDialog>

class TMainForm;
namespace Ui {
class TLangForm;
}

class TLangForm : public QDialog {
    Q_OBJECT
public:
    // `firstRun`: shown during the first start, when the main window's views
    // are not built yet and must not be re-run.
    TLangForm(TMainForm *main, bool firstRun, QWidget *parent = nullptr);
    ~TLangForm() override;

    Ui::TLangForm *ui;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void LanguageButtonClick(int language);
    void BitBtn1Click();
    TMainForm *main_;
    bool firstRun_;
};
