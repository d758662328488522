#pragma once
// The scan wizard: step one takes the disc name and number and reads the
// drive into the scan table; step two, after an optional CDDB offer for an
// audio CD, writes the scan into the catalogue. Every way out that did not
// write forgets the scan.
#include <QDialog>

#include <functional>
#include <map>
#include <string>

// The domain of a CDDB server setting ("host" or "host:port") that the
// audio-CD question names: "gnudb.org" for "gnudb.gnudb.org:8880".
std::string CddbServerDomain(const std::string &serverAddress);

class QLabel;
class TMainForm;
namespace Ui {
class TNewRecordForm;
}

class TNewRecordForm : public QDialog {
    Q_OBJECT
public:
    // mode 0: a new disc from the drive chosen in the main window;
    // mode 1: update of the disc selected in the tree.
    TNewRecordForm(TMainForm &main, int mode, QWidget *parent = nullptr);
    ~TNewRecordForm() override;

    Ui::TNewRecordForm *ui;

    // "Load" in step 0 (reads the drive), "Write" in step 1.
    void Button1Click();
    // Cancel: forgets the scan and closes.
    void Button2Click();
    void Edit1Change();
    // Fits the update notice inside the name frame, moving the rest down.
    void PlaceUpdateNotice();
    // The CDDB offer's answers and the lookup panel's buttons.
    void CddbNoClick();
    void CddbYesClick();
    void CddbCancelClick();
    void CddbNextClick();

    // True once the scan has been written into the catalogue.
    bool Written() const { return written_; }
    // True while the pause after reading runs.
    bool Waiting() const { return waiting_; }
    // False during the short pause before an update may read the drive.
    bool Ready() const { return ready_; }
    int Step() const;
    // The disc name the scan writes under (set by "Load").
    const std::string &DiscName() const { return name_; }

    // Starts the CDDB lookup of the drive (set by the audio-CD lookup).
    std::function<void(TNewRecordForm *Sender)> OnReadMusicCD;

    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void FormShow();
    void AfterReadPause();
    void Underline(QLabel *label, bool on);
    // Shows `text` in `label` whole: broken into lines of the label's width
    // (inside a name too long for one line as well) and the label made as
    // high as they need; what lies below it in its panel moves down by as
    // much, and the panel and the window grow with it (or back).
    void ShowWhole(QLabel *label, const QString &text);
    void LinkClicked(QObject *label);

    TMainForm &main_;
    int mode_;
    std::string drive_;  // "e:"
    std::string name_;
    std::string number_; // the updated disc's stored number
    std::map<QLabel *, int> baseHeights_; // of the labels ShowWhole fitted
    bool shown_ = false;
    bool written_ = false;
    bool waiting_ = false;
    bool reading_ = false;
    bool ready_ = true;
};
