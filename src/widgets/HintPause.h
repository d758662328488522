#pragma once
// Tool tips that hide a fixed time after they show, whatever the desktop's own
// time is. Installed on the application, it shows every widget's tip itself.
#include <QObject>

class THintPause : public QObject {
    Q_OBJECT
public:
    explicit THintPause(int hidePauseMs, QObject *parent = nullptr);
    int HidePause() const { return hidePause_; }
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int hidePause_;
};
