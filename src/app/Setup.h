#pragma once
// The setup dialog: edits the settings a user may change (what a scan reads,
// pauses and limits, view options, colour scheme, language, CD interface and
// CDDB server, the catalogue opened at start). Changes reach the settings only
// through OK, and only when every box holds an acceptable value.
#include <QColor>
#include <QDialog>
#include <QFrame>
#include <QWidget>

#include <cstdint>

class QLineEdit;
class QToolButton;
class TMainForm;
namespace Ui {
class TSetupForm;
}

// Up and down arrows beside a number box: each click moves the box's number by
// `Increment`, kept within `Min` .. `Max`. A box that holds no number starts
// from `Min`.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(QWidget *parent = nullptr);

    QLineEdit *Associate = nullptr;
    int32_t Min = 0;
    int32_t Max = 100;
    int32_t Increment = 1;

    void Click(bool up);

private:
    QToolButton *up_;
    QToolButton *down_;
};

// A rounded outline drawn in one colour around the controls it holds; its
// inside shows the colour of what lies behind it.
class TShape : public QFrame {
    Q_OBJECT
public:
    explicit TShape(QWidget *parent = nullptr) : QFrame(parent) {}
    void SetPenColor(const QColor &color);
    QColor PenColor() const { return pen_; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor pen_ = Qt::black;
};

class TSetupForm : public QDialog {
    Q_OBJECT
public:
    explicit TSetupForm(TMainForm *main, QWidget *parent = nullptr);
    ~TSetupForm() override;

    Ui::TSetupForm *ui;

    // A colour scheme chosen in ComboBox3: in force at once, for this dialog
    // and the next ones.
    void ComboBox3Change();
    // OK: checks the boxes first; with a bad value it says so and changes
    // nothing. True when the settings were taken over.
    bool BitBtn1Click();

private:
    void FormShow();
    void ColourDialog();
    TMainForm *main_;
    bool treeChanged_ = false;
};
