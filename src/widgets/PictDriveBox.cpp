#include "widgets/PictDriveBox.h"

#include "platform/QtText.h"
#include "platform/VolumeService.h"

#include <QAbstractItemView>
#include <QBitmap>
#include <QDir>
#include <QFontMetrics>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStyledItemDelegate>
#include <QStylePainter>

#include <algorithm>

static void InitDrivePictures() { Q_INIT_RESOURCE(PictDriveBox); }

namespace {

constexpr int kNoPictureWidth = 16;
constexpr int kPictureLeft = 2;
constexpr int kTextGap = 6;

// A picture drawn with its bottom-left pixel's colour left transparent.
QPixmap LoadPicture(const char *name)
{
    QImage image(QStringLiteral(":/drives/") + QLatin1String(name));
    if (image.isNull())
        return {};
    QPixmap pixmap = QPixmap::fromImage(image);
    QColor key = image.pixelColor(0, image.height() - 1);
    pixmap.setMask(pixmap.createMaskFromColor(key, Qt::MaskInColor));
    return pixmap;
}

class RowDelegate : public QStyledItemDelegate {
public:
    explicit RowDelegate(TPictDriveBox *box) : QStyledItemDelegate(box), box_(box) {}
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        box_->DrawItem(*painter, index.row(), option.rect, option.state);
    }
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width() + kNoPictureWidth + kTextGap,
                box_->ItemHeight()};
    }

private:
    TPictDriveBox *box_;
};

} // namespace

TPictDriveBox::TPictDriveBox(QWidget *parent) : QComboBox(parent)
{
    InitDrivePictures();
    pictures_[picFloppy] = LoadPicture("FLOPPY");
    pictures_[picHard] = LoadPicture("HARD");
    pictures_[picNetwork] = LoadPicture("NETWORK");
    pictures_[picCdRom] = LoadPicture("CDROM");
    pictures_[picRam] = LoadPicture("RAM");
    itemHeight_ = std::max(QFontMetrics(font()).height(), pictures_[picFloppy].height()) + 2;
    setItemDelegate(new RowDelegate(this));

    // The drive of the current folder is selected until something else is.
    auto stored = VolumeService::Current().StoredPath(QDir::currentPath().toStdString());
    drive_ = stored ? stored->at(0) : 'c';
    BuildList();
    connect(this, &QComboBox::activated, this, [this](int row) { SetDrive(RowLetter(row)); });
}

TPictDriveBox::~TPictDriveBox() = default;

int TPictDriveBox::DriveTypeOf(TStartDrive kind)
{
    switch (kind) {
    case dtCdRom: return DRIVE_CDROM;
    case dtFloppy: return DRIVE_REMOVABLE;
    case dtHard: return DRIVE_FIXED;
    case dtNetwork: return DRIVE_REMOTE;
    case dtRam: return DRIVE_RAMDISK;
    }
    return DRIVE_UNKNOWN;
}

void TPictDriveBox::BuildList()
{
    const VolumeService &volumes = VolumeService::Current();
    QSignalBlocker quiet(this);
    clear();
    rowPicture_.clear();
    rowLetter_.clear();
    for (const VolumeInfo &d : volumes.Drives()) {
        QString text = QString(QLatin1Char(d.letter)) + QLatin1Char(':');
        int picture = -1;
        std::string label;
        uint32_t serial = 0;
        switch (d.type) {
        case DRIVE_NO_ROOT_DIR:
            continue;
        case DRIVE_REMOVABLE:
            picture = picFloppy;
            break;
        case DRIVE_REMOTE:
            picture = picNetwork;
            text += QLatin1Char(' ') + ToQString(d.remoteName);
            break;
        default:
            picture = d.type == DRIVE_FIXED ? picHard : d.type == DRIVE_CDROM ? picCdRom
                      : d.type == DRIVE_RAMDISK ? picRam : -1;
            volumes.GetVolumeInformation(d.letter, label, serial);
            text += QStringLiteral(" [") + ToQString(label) + QLatin1Char(']');
            break;
        }
        if (picture >= 0 && pictures_[picture].isNull())
            picture = -1;
        addItem(text.toLower());
        rowPicture_.push_back(picture);
        rowLetter_.push_back(d.letter);
    }
    int row = -1;
    for (size_t i = 0; i < rowLetter_.size(); ++i)
        if (rowLetter_[i] == drive_) {
            row = int(i);
            break;
        }
    if (row < 0 && !rowLetter_.empty()) {
        row = 0; // the drive went away: show the first one
        drive_ = rowLetter_[0];
    }
    setCurrentIndex(row);
}

void TPictDriveBox::SelectStartDrive()
{
    const VolumeService &volumes = VolumeService::Current();
    int wanted = DriveTypeOf(StartDrive);
    for (char letter = 'a'; letter <= 'z'; ++letter)
        if (volumes.GetDriveType(std::string(1, letter) + ":/") == wanted)
            SetDrive(letter);
}

void TPictDriveBox::Loaded() { SelectStartDrive(); }

void TPictDriveBox::RefreshDrives()
{
    BuildList();
    SelectStartDrive();
}

void TPictDriveBox::SetDrive(char letter)
{
    if (letter >= 'A' && letter <= 'Z')
        letter = char(letter - 'A' + 'a');
    if (currentIndex() >= 0 && letter == drive_)
        return;
    QString prefix = QString(QLatin1Char(letter)) + QLatin1Char(':');
    int row = -1;
    for (int i = 0; i < count(); ++i)
        if (itemText(i).startsWith(prefix)) {
            row = i;
            break;
        }
    if (row < 0)
        return; // no such drive in the list
    {
        QSignalBlocker quiet(this);
        setCurrentIndex(row);
    }
    drive_ = letter;
    update();
    if (OnChange)
        OnChange(this);
}

const QPixmap *TPictDriveBox::RowPicture(int index) const
{
    if (index < 0 || size_t(index) >= rowPicture_.size() || rowPicture_[size_t(index)] < 0)
        return nullptr;
    return &pictures_[rowPicture_[size_t(index)]];
}

char TPictDriveBox::RowLetter(int index) const
{
    if (index < 0 || size_t(index) >= rowLetter_.size())
        return 0;
    return rowLetter_[size_t(index)];
}

QRect TPictDriveBox::ItemTextRect(int index, const QRect &rect) const
{
    const QPixmap *picture = RowPicture(index);
    int width = picture ? picture->width() : kNoPictureWidth;
    QRect text = rect;
    text.setLeft(rect.left() + width + kTextGap);
    return text;
}

void TPictDriveBox::DrawItem(QPainter &painter, int index, const QRect &rect, QStyle::State state) const
{
    painter.save();
    painter.setClipRect(rect);
    bool selected = state & QStyle::State_Selected;
    painter.fillRect(rect, palette().brush(selected ? QPalette::Highlight : QPalette::Base));
    if (const QPixmap *picture = RowPicture(index)) {
        // Vertically centred the way the row's edges are counted: bottom exclusive.
        int top = (rect.top() + rect.top() + rect.height() - picture->height()) / 2;
        painter.drawPixmap(rect.left() + kPictureLeft, top, *picture);
    }
    painter.setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter.setFont(font());
    painter.drawText(ItemTextRect(index, rect), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     itemText(index));
    painter.restore();
}

void TPictDriveBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText.clear();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    if (currentIndex() < 0)
        return;
    QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    DrawItem(painter, currentIndex(), field, hasFocus() ? QStyle::State_Selected : QStyle::State_None);
}
