// The information panel, the note strips, the disc picture and the layout
// rules of the browse and search panels.
#include "app/Main.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolButton>

#include "app/browse/BrowseText.h"
#include "app/browse/FileListView.h"
#include "platform/QtText.h"
#include "ui_MainForm.h"

namespace {

// Resizes, clicks and pointer entries of the panels, turned into the form's
// handlers.
class TPanelEvents : public QObject {
public:
    TPanelEvents(TMainForm *form, std::function<void(QObject *, QEvent::Type)> handler)
        : QObject(form), handler_(std::move(handler))
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Resize:
        case QEvent::MouseButtonRelease:
        case QEvent::Enter:
            handler_(watched, event->type());
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(QObject *, QEvent::Type)> handler_;
};

void SetUnderline(QLabel *label, bool underline, const QFont &base)
{
    QFont f = label->font();
    f.setBold(base.bold());
    f.setItalic(base.italic());
    f.setStrikeOut(base.strikeOut());
    f.setUnderline(underline);
    label->setFont(f);
}

// The disc choice of the search panel: the folder picture at the item's left
// edge and the text beside it.
class TDiscChoiceDelegate : public QStyledItemDelegate {
public:
    TDiscChoiceDelegate(TMainForm *form) : QStyledItemDelegate(form), form_(form) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QRect r = option.rect;
        painter->save();
        if (option.state & QStyle::State_Selected) {
            painter->fillRect(r, option.palette.highlight());
            painter->setPen(option.palette.highlightedText().color());
        }
        if (!form_->ImageList1.empty())
            form_->ImageList1.front().paint(painter, QRect(r.left() + 2, r.top(), 16, 16));
        painter->drawText(QRect(r.left() + 25, r.top(), std::max(0, r.width() - 25), r.height()),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, index.data().toString());
        painter->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QSize s = QStyledItemDelegate::sizeHint(option, index);
        return {s.width() + 25, std::max(s.height(), 18)};
    }

private:
    TMainForm *form_;
};

} // namespace

void TMainForm::ConnectInfoPanelHandlers()
{
    connect(ui->ShowInfoButton, &QToolButton::toggled, this, [this] { ShowInfoButtonClick(); });
    connect(ui->ShowInfoPanelMenu, &QAction::triggered, this, [this] { ShowInfoPanelMenuClick(); });
    connect(ui->BackSpeedButton, &QPushButton::clicked, this, [this] {
        ui->Edit1->setFocus();
        ui->Panel5->hide();
        ui->NotePanel2->hide();
    });
    ui->ComboBox2->setItemDelegate(new TDiscChoiceDelegate(this));
    ui->Label4->setCursor(Qt::PointingHandCursor);
    ui->Label5->setCursor(Qt::PointingHandCursor);
    auto resizing = std::make_shared<bool>(false);
    auto *events = new TPanelEvents(this, [this, resizing](QObject *w, QEvent::Type type) {
        if (type == QEvent::Resize && (w == ui->InfoPanel || w == ui->InfoTexts)) {
            InfoPanelResize();
        } else if (type == QEvent::MouseButtonRelease && w == ui->ListNoteLabel) {
            ShowNote(ui->LinksListView->SelectedRow());
        } else if (type == QEvent::Enter && w == ui->Label4) {
            SetUnderline(ui->Label4, true, ui->Label4->font());
        } else if (type == QEvent::Enter && w == ui->Label5) {
            SetUnderline(ui->Label5, true, ui->Label4->font());
        } else if (type == QEvent::Enter && (w == ui->Panel5 || w == ui->Label3)) {
            SetUnderline(ui->Label4, false, ui->Label4->font());
            SetUnderline(ui->Label5, false, ui->Label4->font());
        } else if (type == QEvent::Resize && !*resizing && (w == ui->Panel3 || w == ui->Panel4)) {
            // The tree panel and the search panel keep one width.
            *resizing = true;
            const int width = w == ui->Panel3 ? ui->Panel3->width() : ui->Panel4->width();
            QSplitter *other = w == ui->Panel3 ? ui->Splitter1 : ui->Panel2;
            QList<int> sizes = other->sizes();
            if (sizes.size() >= 2 && sizes[0] != width && ui->Panel2->isVisible()) {
                const int total = sizes[0] + sizes[1];
                other->setSizes({width, std::max(0, total - width)});
            }
            ui->Shape1->resize(width - 17, ui->Shape1->height());
            if (w == ui->Panel3)
                LayoutSearchPanel();
            *resizing = false;
        }
    });
    for (QWidget *w : std::initializer_list<QWidget *>{ui->InfoPanel, ui->InfoTexts, ui->ListNoteLabel, ui->Label4,
                                                       ui->Label5, ui->Label3, ui->Panel5, ui->Panel3, ui->Panel4})
        w->installEventFilter(events);
}

void TMainForm::ShowInfoPanel()
{
    ui->StaticText3->setText(QStringLiteral(" ") + ToQString(Browse.CurrentDisc));
    ui->StaticText4->setText(ui->StaticText1->text());
    ui->StaticText5->clear();
    if (const TFileRow *row = ui->LinksListView->SelectedRow()) {
        ui->StaticText5->setText(QStringLiteral(" ") + ToQString(row->Name));
        // The note of the entry named, whatever showed a note before.
        ui->StaticText6->setText(row->Note.empty() ? QString() : ToQString("  " + row->Note));
        ui->StaticText7->setText(row->TypeName);
        ui->StaticText7->setToolTip(row->TypeName);
        // The size of the selected entry itself.
        ui->StaticText8->setText(ToQString(FormatSize(SizeValue(row->SizeTech))));
        InfoPanelResize();
    } else {
        ui->StaticText7->clear();
        ui->StaticText6->clear();
        ui->StaticText8->clear();
    }
}

void TMainForm::ShowNote(const TFileRow *row)
{
    if (!row)
        return;
    // The row carries its own record's note: a name shared by files in other
    // folders, or one that begins another name, cannot show a wrong note.
    const QString note = row->Note.empty() ? QString() : ToQString("  " + row->Note);
    ui->ListNoteLabel->setText(note);
    ui->StaticText6->setText(note);
    const bool panelShown = ui->InfoPanel->isVisibleTo(this);
    if (!panelShown && !note.isEmpty())
        ui->NotePanel1->show();
    if (panelShown) {
        ui->NotePanel1->hide();
        ShowInfoPanel();
    }
}

void TMainForm::ShowInfoButtonClick()
{
    const bool down = ui->ShowInfoButton->isChecked();
    if (down) {
        ui->InfoPanel->show();
        ui->StaticText1->hide();
        ShowInfoPanel();
    } else {
        ui->InfoPanel->hide();
        if (!ui->StaticText1->text().isEmpty())
            ui->StaticText1->show();
    }
    InfoPanelFlag = down ? 1 : 0;
    Settings[16] = down ? 1 : 0;
    ui->ShowInfoPanelMenu->setChecked(down);
}

void TMainForm::ShowInfoPanelMenuClick()
{
    const bool checked = ui->ShowInfoPanelMenu->isChecked();
    {
        const QSignalBlocker block(ui->ShowInfoButton);
        ui->ShowInfoButton->setChecked(checked);
    }
    ShowInfoButtonClick();
}

void TMainForm::InfoPanelResize()
{
    // The picture's left edge in the texts' coordinates.
    const int pictureLeft = ui->CDImage->x() - ui->InfoTexts->x();
    TInfoPanelLayout l = InfoPanelLayoutFor(pictureLeft, ui->StaticText3->x(), ui->StaticText5->x());
    // A type name longer than its share takes room from the file name's,
    // down to a third of the line for the name.
    const int typeWidth = ui->StaticText7->fontMetrics().horizontalAdvance(ui->StaticText7->text()) + 4;
    if (typeWidth > l.text7Width) {
        const int right = l.text7Left + l.text7Width;
        const int text7Left = std::max(ui->StaticText5->x() + l.text3Width / 3, right - typeWidth);
        l.text5Width -= l.text7Left - text7Left;
        l.text7Left = text7Left;
        l.text7Width = right - text7Left;
    }
    auto width = [](QWidget *w, int value) { w->resize(std::max(0, value), w->height()); };
    width(ui->StaticText3, l.text3Width);
    width(ui->StaticText4, l.text3Width - (ui->StaticText4->x() - ui->StaticText3->x()));
    width(ui->StaticText5, l.text5Width);
    width(ui->StaticText6, l.text5Width);
    ui->StaticText7->move(l.text7Left, ui->StaticText7->y());
    width(ui->StaticText7, l.text7Width);
    ui->StaticText8->move(l.text7Left, ui->StaticText8->y());
    width(ui->StaticText8, l.text7Width);
}

void TMainForm::ShowDiscPicture()
{
    if (!CdNameTable || !CdNameTable->Active() || CdNameTable->IsEmpty())
        return;
    // The picture is the current disc's: when its record cannot be found, no
    // picture rather than the one of the record the table happens to stand on.
    if (!Browse.CurrentDisc.empty() && !LocateDiscRecord(Browse.CurrentDisc)) {
        ui->CDImage->clear();
        return;
    }
    const std::string picture = CdNameTable->FieldByName("CdPicture").AsBytes();
    if (!picture.empty()) {
        QPixmap p;
        if (p.loadFromData(reinterpret_cast<const uchar *>(picture.data()), static_cast<uint>(picture.size())))
            ui->CDImage->setPixmap(p);
        else
            ui->CDImage->clear();
        return;
    }
    switch (CdNameTable->FieldByName("CType").AsLargeInt()) {
    case 0: ui->CDImage->setPixmap(CdBmp); break;
    case 1: ui->CDImage->setPixmap(HddBmp); break;
    case 2: ui->CDImage->setPixmap(MusicCdBmp); break;
    case 3: ui->CDImage->setPixmap(DisketteBmp); break;
    default: break; // another kind keeps the picture shown
    }
}

void TMainForm::LayoutSearchPanel()
{
    // The criteria panel (Panel6) scrolls inside ScrollBox1, so the scroll box
    // stands for it in the search panel; Shape1 frames it and the notice
    // (Panel5) covers it.
    const int width = ui->Panel3->width();
    const int height = ui->Panel3->height();
    // As tall as the criteria need, within the room the panel has (never
    // below the form's height): a large window shows them without scrolling.
    constexpr int FormScrollHeight = 200, Margin = 8;
    const int wanted = ui->Panel6->height() + 2 * ui->ScrollBox1->frameWidth();
    const int scrollHeight = std::max(FormScrollHeight, std::min(wanted, height - 2 * Margin - 10));
    ui->Shape1->resize(width - 17, scrollHeight + 10);
    ui->ScrollBox1->resize(width - 28, scrollHeight);
    ui->Panel5->resize(width - 28, ui->Panel5->height());
    const int bar = ui->ScrollBox1->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    ui->Panel6->resize(std::max(ui->Panel6->minimumWidth(), width - 28 - bar), ui->Panel6->height());
    ui->ScrollBox1Contents->resize(ui->Panel6->size());
    for (QWidget *e : {static_cast<QWidget *>(ui->Edit1), static_cast<QWidget *>(ui->Edit3),
                       static_cast<QWidget *>(ui->ComboBox2)})
        e->resize(width - 51, e->height());
    for (QWidget *p : {static_cast<QWidget *>(ui->ScrollBox1), static_cast<QWidget *>(ui->Shape1),
                       static_cast<QWidget *>(ui->Panel5)})
        p->move((width - 1 - p->width()) / 2, (height - p->height()) / 2);
}
