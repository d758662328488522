// Disc pictures: loading a picture file as the current disc's 100 x 100
// thumbnail (from the picture dialog or dropped from a file manager onto the
// picture), and removing it.
#include "app/Main.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

#include "app/LangUnit.h"
#include "app/discs/DiscCommands.h"
#include "app/discs/MainPictureFiles.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "ui_MainForm.h"

std::function<std::string(QWidget *, const QString &, const QString &)> TMainForm::OpenPictureDialog1 =
    [](QWidget *parent, const QString &title, const QString &filter) {
        return FromQString(QFileDialog::getOpenFileName(parent, title, QString(), filter, nullptr,
                                                        QFileDialog::DontUseNativeDialog));
    };

namespace {

std::string CannotReadPicture(const std::string &file, const std::string &why)
{
    switch (langunit::CurrentLanguage()) {
    case langunit::LangEnglish:
        return "The picture " + file + " cannot be read (" + why + "). The disc keeps its picture.";
    case langunit::LangCzech:
        return "Obrázek " + file + " nelze načíst (" + why + "). Disk si ponechá svůj obrázek.";
    default:
        return "Obrázok " + file + " sa nedá načítať (" + why + "). Disk si ponechá svoj obrázok.";
    }
}

// True while a picture file is being read; the window's events go on
// meanwhile, so a timer may ask for another one.
bool pictureBeingRead = false;

// Marks a picture as being read for its life.
struct TPictureReading {
    TPictureReading() { pictureBeingRead = true; }
    ~TPictureReading() { pictureBeingRead = false; }
};

// Drops the user's input it sees and keeps a request to close `window`.
class TCloseKeeper : public QObject {
public:
    explicit TCloseKeeper(QWidget *window) : window_(window) {}
    bool closeAsked = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Close:
            if (watched != window_)
                return false;
            event->ignore();
            closeAsked = true;
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
            return event->spontaneous();
        default:
            return false;
        }
    }

private:
    QWidget *window_;
};

// The user's input made while a picture was decoded waited for the decode,
// and the window system's request to close the window with it. Taken before
// the message about a picture that cannot be read (which would block the
// window and so drop the request), the input is dropped, as the decode
// dropped it, and whether the window was asked to close is returned, to be
// carried out after the message.
bool TakeInputThatWaited(QWidget *window)
{
    TCloseKeeper keeper(window);
    qApp->installEventFilter(&keeper);
    {
        const TPictureReading reading; // a file asked for meanwhile still waits its turn
        // Until none is left (one pass may leave what the first one queued), but
        // not for long: events that keep coming are not waited for.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    }
    qApp->removeEventFilter(&keeper);
    return keeper.closeAsked;
}

} // namespace

void TMainForm::ConnectNotePictureHandlers()
{
    connect(ui->NotePopup, &QAction::triggered, this, Guarded(&TMainForm::NotePopupClick));
    connect(CatPopupMenu, &QMenu::aboutToShow, this, Guarded(&TMainForm::CatPopupMenuPopup));
    connect(ui->AddImageToolButton, &QToolButton::clicked, this, Guarded(&TMainForm::AddImageToolButtonClick));
    connect(ui->DeleteImageToolButton, &QToolButton::clicked, this, Guarded(&TMainForm::DeleteImageToolButtonClick));
    connect(ui->LoadImagePopup, &QAction::triggered, this, [this] { ui->AddImageToolButton->click(); });
    connect(ui->LoadImageMenu, &QAction::triggered, this, [this] { ui->AddImageToolButton->click(); });
    connect(ui->DeleteImagePopup, &QAction::triggered, this, [this] { ui->DeleteImageToolButton->click(); });
    connect(ui->DeleteImageMenu, &QAction::triggered, this, [this] { ui->DeleteImageToolButton->click(); });
    ImagePopupMenu = new QMenu(this);
    ImagePopupMenu->setObjectName(QStringLiteral("ImagePopupMenu"));
    ImagePopupMenu->addActions({ui->LoadImagePopup, ui->DeleteImagePopup});
    ui->CDImage->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->CDImage, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { ImagePopupMenu->popup(ui->CDImage->mapToGlobal(pos)); });

    // Files dropped on the disc picture become its picture; copy only.
    DropFileTarget1 = new TFileDropTarget(this);
    DropFileTarget1->setObjectName(QStringLiteral("DropFileTarget1"));
    DropFileTarget1->Dragtypes = dtCopy;
    DropFileTarget1->SetShowImage(true);
    DropFileTarget1->GetDataOnEnter = false;
    DropFileTarget1->OnDrop = [this](TDropTarget *sender, TShiftState shift, QPoint point, uint32_t &effect) {
        DropFileTarget1Drop(sender, shift, point, effect);
    };
    RunGuarded([this] { DropFileTarget1->Register(ui->CDImage); });
}

void TMainForm::DropFileTarget1Drop(TDropTarget *, TShiftState, QPoint, uint32_t &)
{
    // The files are stored once the drop has ended, so that a message about a
    // bad file never holds the file manager's drag open.
    const std::vector<std::string> files = DropFileTarget1->Files;
    QTimer::singleShot(0, this, [this, files] {
        for (const std::string &file : files)
            RunGuarded([&] { LoadCdPicture(UpperExtensionOf(file), file); });
    });
}

void TMainForm::AddImageToolButtonClick()
{
    const QString filter = QStringLiteral(
        "Pictures (*.jpg *.jpeg *.bmp *.ico *.wmf *.emf *.JPG *.JPEG *.BMP *.ICO *.WMF *.EMF);;All files (*)");
    const std::string file = OpenPictureDialog1(this, ui->LoadImageMenu->text(), filter);
    if (!file.empty())
        LoadCdPicture(UpperExtensionOf(file), file);
}

bool TMainForm::LoadCdPicture(const std::string &Extension, const std::string &FileName)
{
    const TPictureKind kind = PictureKindOfExtension(Extension);
    if (kind == TPictureKind::None)
        return false; // not a picture kind a disc takes: ignored
    if (pictureBeingRead) {
        // Another file dropped while one is read waits for its turn.
        QTimer::singleShot(100, this, [this, Extension, FileName] {
            RunGuarded([&] { LoadCdPicture(Extension, FileName); });
        });
        return false;
    }
    if (!HasCatalog() || !CatalogWritable() || !PictureDiscFound())
        return false;
    const std::string disc = Browse.CurrentDisc;
    // Decoded, in a process of its own, before the record is touched: a file
    // that cannot be read leaves the disc table as it was. The window keeps
    // painting while the decoder runs, but takes no input.
    const TThumbnailResult picture = [&] {
        HourglassCursor busy;
        const TPictureReading reading;
        return LoadPictureThumbnail(kind, FileName, 100, 100);
    }();
    // The wait ran the window's events: a window closed meanwhile (its tables
    // with it) takes no picture and says nothing more.
    if (closed_)
        return false;
    if (picture.image.isNull()) {
        const bool closeAsked = TakeInputThatWaited(this);
        Prompt::Current().Show(ToQString(CannotReadPicture(FileName, picture.error)),
                               ToQString(langunit::LangString(67)), PromptButtons::Ok, PromptIcon::Error);
        if (closeAsked)
            close();
        return false;
    }
    // The picture goes to the disc it was meant for, found again.
    if (Browse.CurrentDisc != disc || !PictureDiscFound())
        return false;
    StoreDiscPicture([&] { StretchToCdImage(picture.image, 100, 100); });
    return true;
}

bool TMainForm::PictureDiscFound()
{
    if (Browse.CurrentDisc.empty()) {
        ShowNothingSelected(true);
        return false;
    }
    if (LocateDiscRecord(Browse.CurrentDisc))
        return true;
    Prompt::Current().Show(ToQString(NotFoundText(Browse.CurrentDisc)), ToQString(langunit::LangString(67)),
                           PromptButtons::Ok, PromptIcon::Warning);
    return false;
}

void TMainForm::StoreDiscPicture(const std::function<void()> &change)
{
    CdNameTable->Edit();
    try {
        change();
        CdNameTable->Post();
        TTableCommit commit({CdNameTable.get()}); // the table and its backup together
        CdNameTable->Save();
        commit.Commit();
    } catch (const ECommitUnfinished &) {
        ShowDiscPicture();
        throw; // made, and completed at the next open
    } catch (...) {
        // Neither half-stored in memory nor on disk.
        if (CdNameTable->State() == dsEdit)
            CdNameTable->Cancel();
        CdNameTable->CancelChanges();
        LocateDiscRecord(Browse.CurrentDisc);
        ShowDiscPicture();
        throw;
    }
    ShowDiscPicture();
}

void TMainForm::StretchToCdImage(const QImage &Graphic, int Width, int Height)
{
    const QImage bitmap = StretchPicture(Graphic, Width, Height);
    ui->CDImage->setPixmap(QPixmap::fromImage(bitmap));
    if (CdNameTable && CdNameTable->State() == dsEdit)
        CdNameTable->FieldByName("CdPicture").SetAsBytes(PictureFieldBytes(bitmap));
}

void TMainForm::DeleteImageToolButtonClick()
{
    if (!HasCatalog() || !CatalogWritable() || !PictureDiscFound())
        return;
    TField &picture = CdNameTable->FieldByName("CdPicture");
    if (picture.AsBytes().empty())
        return;
    // Without a picture the disc shows the picture of its kind again.
    StoreDiscPicture([&] { picture.Clear(); });
}
