#pragma once
// The drive chooser: a drop-down list of the machine's drives, each with a
// picture of its kind, that selects a drive of a chosen kind by itself after
// loading and after every refresh.
#include <QComboBox>
#include <QPixmap>
#include <QStyle>

#include <cstdint>
#include <functional>
#include <vector>

class QPainter;

// Kind of drive the box selects by itself.
enum TStartDrive : uint8_t { dtCdRom, dtFloppy, dtHard, dtNetwork, dtRam };

class TPictDriveBox : public QComboBox {
    Q_OBJECT
public:
    explicit TPictDriveBox(QWidget *parent = nullptr);
    ~TPictDriveBox() override;

    // Read at the next Loaded or RefreshDrives.
    TStartDrive StartDrive = dtCdRom;
    // Fired whenever the selected drive changes: by the start-drive
    // selection, by SetDrive and by the user's choice in the list.
    std::function<void(TPictDriveBox *Sender)> OnChange;

    // After the owner has set the box up: select the start drive.
    void Loaded();
    // Rebuilds the list from the volume service and selects the start drive.
    // The main window calls it on every device change.
    void RefreshDrives();

    // Selected drive letter, lower case.
    char Drive() const { return drive_; }
    // Selects the first row for `letter`, stores it and fires OnChange; does
    // nothing when a row is selected and the letter is already the drive.
    void SetDrive(char letter);

    int ItemHeight() const { return itemHeight_; }
    // The drive type a start-drive kind stands for (DRIVE_CDROM ...).
    static int DriveTypeOf(TStartDrive kind);

    // The row's picture (null when the row has none) and its letter.
    const QPixmap *RowPicture(int index) const;
    char RowLetter(int index) const;
    // Where DrawItem puts the row's text inside `rect`.
    QRect ItemTextRect(int index, const QRect &rect) const;
    // Paints one row.
    void DrawItem(QPainter &painter, int index, const QRect &rect, QStyle::State state) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void BuildList();
    void SelectStartDrive();

    enum Picture { picFloppy, picHard, picNetwork, picCdRom, picRam, picCount };
    QPixmap pictures_[picCount];
    std::vector<int> rowPicture_; // index into pictures_, -1 for none
    std::vector<char> rowLetter_;
    char drive_ = 0;
    int itemHeight_ = 15;
};
