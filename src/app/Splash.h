#pragma once
// The splash window shown while the main window starts: a borderless picture
// with a label and a progress bar. It frees itself when closed.
#include <QWidget>

namespace Ui {
class TSplashForm;
}

class TSplashForm : public QWidget {
    Q_OBJECT
public:
    explicit TSplashForm(QWidget *parent = nullptr);
    ~TSplashForm() override;

    // Sets the bar and repaints at once: the event loop is not running yet.
    void SetProgress(int percent);
    int Progress() const;

    Ui::TSplashForm *ui;

signals:
    void ProgressChanged(int percent);
};
