#include "app/scan/newcd.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

#include <exception>

#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/Texts3.h"
#include "cdaudio/Cddb.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "platform/TextWrap.h"
#include "storage/FlatTbl.h"
#include "ui_newcd.h"

namespace {

std::vector<std::string> DiscNumbers(TFlatTable &discs)
{
    std::vector<std::string> numbers;
    TField &number = discs.FieldByName("Number");
    for (discs.First(); !discs.Eof(); discs.Next())
        numbers.push_back(number.AsString());
    discs.First();
    return numbers;
}

} // namespace

TNewRecordForm::TNewRecordForm(TMainForm &main, int mode, QWidget *parent)
    : QDialog(parent ? parent : &main), ui(new Ui::TNewRecordForm), main_(main), mode_(mode)
{
    ui->setupUi(this);
    FormCreate();
}

TNewRecordForm::~TNewRecordForm()
{
    main_.ScanSession.OnRootFolder = nullptr;
    delete ui;
}

int TNewRecordForm::Step() const
{
    return main_.ScanSession.Step;
}

void TNewRecordForm::FormCreate()
{
    main_.ScanSession.WaitAfterRead = main_.Settings[6];
    main_.PaintDialog(this, {ui->Label1, ui->Label2, ui->Label3, ui->Label4, ui->Label5, ui->Label6, ui->Label7,
                             ui->Panel1, ui->Panel2, ui->Panel3, ui->Panel4, ui->Shape1});
    for (QLabel *l : {ui->Label1, ui->Label14, ui->Label2, ui->Label10, ui->Label11, ui->Label12, ui->Label13}) {
        l->installEventFilter(this);
        l->setMouseTracking(true);
    }
    // The "Load" and "Write" link may take two lines: the row below it is
    // its own (and did the same on a click).
    ui->Label1->setGeometry(ui->Label1->x(), ui->Label1->y(), ui->Label1->width(),
                            ui->Label14->geometry().bottom() + 1 - ui->Label1->y());
    ui->Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui->Label14->hide();
    ui->Panel1->installEventFilter(this);
    ui->Panel1->setMouseTracking(true);
    connect(ui->Edit1, &QLineEdit::textChanged, this, &TNewRecordForm::Edit1Change);
    connect(ui->SpeedButton1, &QToolButton::clicked, this, &TNewRecordForm::Button1Click);
    connect(ui->SpeedButton2, &QToolButton::clicked, this, &TNewRecordForm::Button2Click);
    connect(ui->SpeedButton3, &QToolButton::clicked, this, &TNewRecordForm::CddbNoClick);
    connect(ui->SpeedButton4, &QToolButton::clicked, this, &TNewRecordForm::CddbYesClick);
    connect(ui->SpeedButton5, &QToolButton::clicked, this, &TNewRecordForm::CddbCancelClick);
    connect(ui->SpeedButton6, &QToolButton::clicked, this, &TNewRecordForm::CddbNextClick);
    main_.ScanSession.OnRootFolder = [this] {
        ui->ProgressBar1->setValue(std::min(ui->ProgressBar1->maximum(),
                                            ui->ProgressBar1->value() + main_.ScanSession.ProgressStep));
        ui->Label6->setText(ui->Label6->text() + QLatin1Char('.'));
        ui->Label6->repaint();
        ui->ProgressBar1->repaint();
    };
}

void TNewRecordForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TNewRecordForm::PlaceUpdateNotice()
{
    // The notice is the first line inside the name frame, as many lines high
    // as its text (a long disc name wraps); what is below moves down.
    QLabel *notice = ui->Label15;
    const int top = ui->Shape1->y() + 4;
    const int height = std::max(notice->fontMetrics().height(), notice->heightForWidth(notice->width()));
    const int shift = top + height + 6 - ui->Label3->y();
    notice->setGeometry(notice->x(), top, notice->width(), height);
    if (shift <= 0)
        return;
    for (QWidget *w : std::initializer_list<QWidget *>{ui->Label3, ui->Edit1, ui->Label4, ui->Edit2, ui->Panel1,
                                                       ui->Panel2, ui->Panel3, ui->Panel4})
        w->move(w->x(), w->y() + shift);
    ui->Shape1->resize(ui->Shape1->width(), ui->Shape1->height() + shift);
    resize(width(), this->height() + shift);
}

void TNewRecordForm::ShowWhole(QLabel *label, const QString &text)
{
    const int base = baseHeights_.try_emplace(label, label->height()).first->second;
    // A pixel or two to spare, so that rounding never cuts a line's end.
    label->setText(WrapTextLines(text, label->font(), std::max(1, label->width() - 2)).join(QLatin1Char('\n')));
    const int grow = std::max(base, label->sizeHint().height()) - label->height();
    QWidget *panel = label->parentWidget();
    if (grow != 0) {
        const int below = label->geometry().bottom();
        for (QWidget *w : panel->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            if (w != label && w->y() > below)
                w->move(w->x(), w->y() + grow);
        label->resize(label->width(), label->height() + grow);
        if (panel != this)
            panel->resize(panel->width(), panel->height() + grow);
    }
    // The window ends a little below the lowest panel it shows (the panels
    // lie over one another, each as high as its texts need).
    int bottom = 0;
    for (QWidget *p : {ui->Panel1, ui->Panel2, ui->Panel3, ui->Panel4})
        if (!p->isHidden())
            bottom = std::max(bottom, p->geometry().bottom() + 1);
    if (bottom > 0 && bottom + 8 != height())
        resize(width(), bottom + 8);
}

void TNewRecordForm::FormShow()
{
    ui->ProgressBar1->setStyleSheet(QStringLiteral("QProgressBar::chunk { background: black; }"));
    ui->Label15->hide();
    if (mode_ == 0) {
        setWindowTitle(L(19));
        ShowWhole(ui->Label1, L(20) + QStringLiteral(" : ") + ui->Edit1->text());
        ui->Edit1->setText(ToQString(NameFromDriveText(main_.ScanSession.Volume.driveText, &drive_)));
    } else {
        // The update writes under the disc's stored name and number, whatever
        // their length: the edits only show them (the name edit takes fewer
        // characters than a stored name may have, so it is widened to show
        // it whole) and are never read back.
        const std::string &disc = main_.ScanSession.SelectedDisc;
        name_ = disc;
        ui->Edit1->setMaxLength(32767);
        ui->Edit1->setText(ToQString(disc));
        ui->Edit1->setCursorPosition(0);
        TFlatTable &discs = *main_.CdNameTable;
        TField &cdName = discs.FieldByName("CdName");
        for (discs.First(); !discs.Eof(); discs.Next())
            if (cdName.AsString() == disc) {
                number_ = discs.FieldByName("Number").AsString();
                ui->Edit2->setText(ToQString(number_));
                break;
            }
        ui->Edit1->setEnabled(false);
        ui->Edit2->setEnabled(false);
        ui->Label15->setText(L(138) + ToQString(disc) + QLatin1Char('"'));
        ui->Label15->show();
        PlaceUpdateNotice();
        setWindowTitle(L(143));
        ShowWhole(ui->Label1, L(144) + QStringLiteral(" : ") + ToQString(disc));
        const std::string &stored = main_.Browse.SelectedSerial;
        if (main_.ScanSession.Volume.serialText != stored && stored != "0") {
            Prompt::Current().Show(L(139) + QStringLiteral("\n\r") + L(140) + ToQString(disc) + L(141) +
                                       QStringLiteral("\n\r") + L(142),
                                   L(34), PromptButtons::Ok, PromptIcon::Warning);
        } else {
            // A short pause before the drive may be read.
            ready_ = false;
            QTimer::singleShot(100, this, [this] { ready_ = true; });
        }
    }
    // The question names the server the settings give ("%1" in the text).
    ui->Label8->setText(L(149).arg(ToQString(CddbServerDomain(main_.Settings.SetupText[2]))));
    ui->Label9->setText(L(146));
    ui->Label10->setText(L(148));
    ui->Label11->setText(L(147));
    ui->Label12->setText(L(151));
    ui->Label13->setText(L(150));
    ui->Label2->setText(L(21) + QStringLiteral("  "));
    ui->Label3->setText(L(22) + QStringLiteral(" :"));
    ui->Label4->setText(L(23) + QStringLiteral(" :"));
    if (mode_ == 0 && !ui->Edit1->text().isEmpty()) {
        const std::string name = drive_ + " [" + FromQString(ui->Edit1->text()) + "]";
        main_.Scan.DiscName = MakeUniqueCdName(name, main_.DiscNames());
        const std::string number = NextFreeCdNumber(DiscNumbers(*main_.CdNameTable));
        ui->Edit2->setText(ToQString(number));
        main_.Scan.DiscNumber = number;
    }
}

void TNewRecordForm::Edit1Change()
{
    // The update's own text names the stored disc; the edit only shows it.
    if (mode_ == 0)
        ShowWhole(ui->Label1, L(20) + QStringLiteral(" : ") + ui->Edit1->text());
}

void TNewRecordForm::Button1Click()
{
    if (waiting_ || reading_)
        return;
    if (main_.ScanSession.Step == 1) {
        HourglassCursor busy;
        const std::string sizeText = ScanSizeText(ScanDiscBytes(main_.ScanSession.Volume, main_.ScanSession.FileBytes));
        try {
            main_.SaveToDatabase(sizeText, mode_);
            written_ = true;
        } catch (const std::exception &e) {
            Prompt::Current().Show(ToQString(e.what()), L(67), PromptButtons::Ok, PromptIcon::Error);
        }
        close();
        return;
    }
    if (!ready_)
        return;
    if (mode_ == 0 ? ui->Edit1->text().isEmpty() : name_.empty()) {
        close();
        return;
    }
    std::string number;
    if (mode_ == 0) {
        name_ = MakeUniqueCdName(drive_ + " [" + FromQString(ui->Edit1->text()) + "]", main_.DiscNames());
        number = NextFreeCdNumber(DiscNumbers(*main_.CdNameTable));
        ui->Edit2->setText(ToQString(number));
    } else {
        number = number_;
    }
    main_.Scan.DiscName = name_;
    main_.Scan.DiscNumber = number;
    ui->Panel2->show();
    ui->Panel1->hide();
    ui->Label7->hide();
    ShowWhole(ui->Label5, ToQString(name_) + QStringLiteral(" : ") + L(24));
    ui->Label6->setText(L(25));
    ui->Label5->repaint();
    ui->Label6->repaint();
    bool found = false;
    reading_ = true;
    try {
        HourglassCursor busy;
        const std::string root = main_.Scan.RootFolder;
        main_.SpocitajSubory(root);
        found = main_.NacitajDisk(root);
    } catch (const std::exception &e) {
        reading_ = false;
        Prompt::Current().Show(ToQString(e.what()), L(67), PromptButtons::Ok, PromptIcon::Error);
        close();
        return;
    }
    reading_ = false;
    if (!found) {
        close();
        return;
    }
    ui->Label6->setText(L(26) + QLatin1Char('.'));
    ShowWhole(ui->Label7, L(27) + QLatin1Char(' ') + ToQString(name_) + QLatin1Char('.'));
    ui->Label7->show();
    main_.ScanSession.Step = 1;
    ui->ProgressBar1->setValue(0);
    waiting_ = true;
    QTimer::singleShot(std::max(0, main_.ScanSession.WaitAfterRead), this, &TNewRecordForm::AfterReadPause);
}

void TNewRecordForm::AfterReadPause()
{
    waiting_ = false;
    ui->Panel2->hide();
    Underline(ui->Label1, false);
    ui->Panel1->show();
    ShowWhole(ui->Label1, L(28) + QLatin1Char(' ') + ToQString(name_) + QLatin1Char(' ') + L(29));
    ui->Label2->setText(L(21));
    ui->Label14->hide();
    if (main_.ScanSession.Volume.kind == 2 && main_.Settings[17] == 1)
        ui->Panel3->show();
}

void TNewRecordForm::Button2Click()
{
    if (reading_)
        return;
    main_.ScanSession.Step = 0;
    main_.ClearScan();
    close();
}

void TNewRecordForm::CddbNoClick()
{
    ui->Panel3->hide();
}

void TNewRecordForm::CddbYesClick()
{
    ui->Panel4->show();
    ui->Panel3->hide();
    if (OnReadMusicCD)
        OnReadMusicCD(this);
    if (main_.Scan.End)
        ui->Label9->setText(ui->Label9->text() + QStringLiteral(" Hotovo."));
}

void TNewRecordForm::CddbCancelClick()
{
    main_.Scan.TrackTitles.clear();
    main_.Scan.CddbNote.clear();
    main_.Scan.CddbTitle.clear();
    main_.Scan.End = main_.Scan.NoMatch = main_.Scan.Pending = false;
    main_.Scan.Audio = false; // a late answer names nothing
    // The request ends here with its connection: a lookup asked for next
    // starts at once instead of finding the component busy.
    if (main_.Cddb)
        main_.Cddb->Cancel();
    ui->Memo1->clear();
    ui->Panel4->hide();
}

void TNewRecordForm::CddbNextClick()
{
    ui->Panel4->hide();
}

void TNewRecordForm::done(int result)
{
    // Every way out that did not write - cancel, an empty scan, the window's
    // own close button, Escape - leaves no scan behind for the next one.
    if (!written_)
        main_.ClearScan();
    // A lookup still under way belongs to nobody once the wizard is gone.
    main_.Scan.Audio = false;
    if (main_.Cddb)
        main_.Cddb->Cancel();
    main_.ScanSession.Step = 0;
    main_.ScanSession.OnRootFolder = nullptr;
    QDialog::done(result);
}

void TNewRecordForm::Underline(QLabel *label, bool on)
{
    QFont f = label->font();
    if (f.underline() != on) {
        f.setUnderline(on);
        label->setFont(f);
    }
}

void TNewRecordForm::LinkClicked(QObject *label)
{
    if (label == ui->Label1 || label == ui->Label14)
        Button1Click();
    else if (label == ui->Label2)
        Button2Click();
    else if (label == ui->Label12)
        CddbNoClick();
    else if (label == ui->Label13)
        CddbYesClick();
    else if (label == ui->Label10)
        CddbCancelClick();
    else if (label == ui->Label11)
        CddbNextClick();
}

bool TNewRecordForm::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type t = event->type();
    if (watched == ui->Panel1) {
        if (t == QEvent::MouseMove) {
            Underline(ui->Label1, false);
            Underline(ui->Label2, false);
        }
        return QDialog::eventFilter(watched, event);
    }
    auto *label = qobject_cast<QLabel *>(watched);
    if (!label)
        return QDialog::eventFilter(watched, event);
    if (t == QEvent::MouseMove || t == QEvent::Enter) {
        Underline(label == ui->Label14 ? ui->Label1 : label, true);
        label->setCursor(Qt::PointingHandCursor);
    } else if (t == QEvent::MouseButtonRelease) {
        LinkClicked(watched);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
