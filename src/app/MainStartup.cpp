// Start-up, showing, resizing and closing of the main window, and the openers
// of the tool bar and menus.
#include "app/Main.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <filesystem>

#include "app/catalog/CatalogTables.h"
#include "app/Lang.h"
#include "app/LangUnit.h"
#include "app/catalog/NewD.h"
#include "app/Splash.h"
#include "app/Texts3.h"
#include "cdaudio/Cddb.h"
#include "platform/Help.h"
#include "platform/Prompt.h"
#include "platform/ShellInfo.h"
#include "platform/VolumeService.h"
#include "theme/ThemeMgr.h"
#include "platform/QtText.h"
#include "ui_MainForm.h"
#include "util/BaseFileUtils.h"
#include "util/FileCommit.h"
#include "widgets/HintPause.h"
#include "widgets/StatusBarCont.h"

static void InitAppResources()
{
    Q_INIT_RESOURCE(AppResources);
}

std::function<int(QDialog &)> TMainForm::RunModal;

int TMainForm::ExecModal(QDialog &dialog)
{
    if (RunModal)
        return RunModal(dialog);
    return dialog.exec();
}

TMainForm::TMainForm(TSplashForm *splash, const std::string &dataFolder, QWidget *parent)
    : QMainWindow(parent), ui(new Ui::TMainForm)
{
    InitAppResources();
    FollowLocaleDateOrder();
    ui->setupUi(this);
    setObjectName(QStringLiteral("MainForm"));
    // Status bar panels 0 .. 2, each as wide as its text needs (at least its
    // form width); the progress bar sits on the bar after them.
    ui->StatusBar1->OnMeasurePanel = [this](int panel, const QString &text) {
        return StatusPanelTextWidth(panel, text);
    };
    for (int width : {150, 50, 136})
        ui->StatusBar1->AddPanel(TStatusPanel{QString(), width, psOwnerDraw, true, width});
    ui->StatusBar1->AddPanel(TStatusPanel{});
    connect(ui->StatusBar1, &TStatusBarCont::PanelsResized, this, &TMainForm::FormResize);
    ProgressBar1 = new QProgressBar(ui->StatusBar1);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    // The bar lies over panel 3 (the clicked entry's full name): it is shown only
    // while a long operation drives it, so the panel stays readable otherwise.
    ProgressBar1->hide();
    connect(&VolumeService::Current(), &VolumeService::DeviceChange, this, &TMainForm::DeviceChange);
    ui->DriveComboBox1->Loaded();
    // The four view styles exclude one another; unchecking the checked one
    // leaves none checked and the style as it is.
    auto *viewStyles = new QActionGroup(this);
    viewStyles->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction *a : {ui->ListViewMenu, ui->IconViewMenu, ui->SmallIconViewMenu, ui->ReportViewMenu})
        viewStyles->addAction(a);
    // Pop-up menus: the one of the tree and the lists, and the two history lists.
    CatPopupMenu = new QMenu(this);
    CatPopupMenu->setObjectName(QStringLiteral("CatPopupMenu"));
    CatPopupMenu->addActions({ui->OpenPopup, ui->CopyFilePopupMenu, ui->PropertiesPopup, ui->NotePopup});
    CatPopupMenu->addSeparator();
    CatPopupMenu->addActions({ui->RenameCDPopup, ui->LoadImagePopup, ui->DeleteImagePopup});
    CatPopupMenu->addSeparator();
    CatPopupMenu->addAction(ui->ColapsePopup);
    for (QWidget *w : std::initializer_list<QWidget *>{ui->TreeView1, ui->LinksListView, ui->SearchView}) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, w](const QPoint &pos) { CatPopupMenu->popup(w->mapToGlobal(pos)); });
    }
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    ui->BackButton->setMenu(PopupMenu1);
    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    ui->ForwardButton->setMenu(PopupMenu2);
    ui->Splitter1->setStretchFactor(0, 0);
    ui->Splitter1->setStretchFactor(1, 1);
    ui->Splitter1->setSizes({220, 520});
    ui->CoolBand2_layout->setStretchFactor(ui->ComboBox1, 1);
    ExMemoryData1 = MakeScanTable();
    SetToolIcons();
    ConnectHandlers();
    FormCreate(splash, dataFolder);
}

void TMainForm::LoadPictures()
{
    // The pictures are looked up in the current folder first; copies built
    // into the program stand in for a missing file.
    auto load = [](const char *name) {
        QPixmap p(QDir::current().filePath(QString::fromLatin1(name)));
        if (p.isNull())
            p.load(QStringLiteral(":/pictures/") + QString::fromLatin1(name));
        if (!p.isNull())
            p.setMask(p.createMaskFromColor(QColor(255, 0, 255)));
        return p;
    };
    CdBmp = load("Cd.bmp");
    MusicCdBmp = load("MusicCd.bmp");
    HddBmp = load("Hdd.bmp");
    DisketteBmp = load("Diskette.bmp");
    HoreGlyph = load("HORE");
    DoleGlyph = load("DOLE");
}

// The message of a settings file that could not be written, in the current language.
static std::string SettingsWriteError(const std::string &dataFolder)
{
    return Text3("Cannot write the settings file ", "Súbor nastavení sa nedá zapísať: ",
                 "Soubor nastavení nelze zapsat: ") +
           dataFolder + "/" + SettingsFileName;
}

void TMainForm::FormCreate(TSplashForm *splash, const std::string &dataFolder)
{
    auto progress = [splash](int p) {
        if (splash)
            splash->SetProgress(p);
    };
    LoadPictures();
    DataFolder = dataFolder.empty() ? GetPersonalFolder() + "/DiVovData" : dataFolder;
    CatalogFolder = DataFolder;
    LoadSettings();
    switch (Settings[18]) {
    case 1: ui->ListViewMenu->setChecked(true); break;
    case 2: ui->IconViewMenu->setChecked(true); break;
    case 3: ui->SmallIconViewMenu->setChecked(true); break;
    default: ui->ReportViewMenu->setChecked(true); break;
    }
    // The theme manager: the standard controls of every form paint in the active style.
    ThemeManager1 = new TThemeManager(this);
    ThemeManager1->setObjectName(QStringLiteral("ThemeManager1"));
    ThemeManager1->CollectForms(nullptr);
    progress(10);
    // Tool tips hide three seconds after they show.
    qApp->installEventFilter(new THintPause(HintHidePause, this));
    progress(20);
    progress(30);

    // What the start has to end with, unless the user leaves: a catalogue.
    // Leaving writes nothing (not even the settings), so the next start asks again.
    const auto leave = [this, splash] {
        StartCancelled = true;
        if (splash)
            splash->close();
    };
    if (!IsFirstRun(DataFolder)) {
        ChooseStartCatalog();
        if (!CatalogName.empty() && !OpenStartCatalog())
            return leave();
        progress(45);
        progress(60);
    } else {
        // The data folder and its "CdNames" are made with the first catalogue.
        FirstRun = true;
        {
            TLangForm lang(this, true);
            ExecModal(lang);
        }
        {
            TNewDataForm newData(this);
            ExecModal(newData);
        }
        if (!HasCatalog())
            return leave();
        // The first catalogue exists: keep the chosen language and the
        // catalogue's name now, so a session that ends abruptly does not lose them.
        if (!SaveSettings())
            ShowError(SettingsWriteError(DataFolder));
    }
    EnsureCatalog();
    FirstRun = false;
    // Temporary files that a stop left beside any catalogue of the data folder,
    // not only the one opened: the others may not be opened for a long time.
    // (Those a journal still names, and all while a journal does not read, stay.)
    RemoveStaleCommitTemporaries(DataFolder);
    SearchLimit = Settings[7];

    ImageList1.clear();
    ImageList1.push_back(ShellInfo::ClosedFolderIcon());
    ImageList1.push_back(ShellInfo::OpenFolderIcon());

    progress(75);
    ChangeMenu(langunit::CurrentLanguage());
    progress(90);
    ChangeColor();
    progress(100);
    if (splash)
        splash->close();
}

void TMainForm::ChooseStartCatalog()
{
    CatalogName = Settings[20] == 0 ? DefaultCatalogText : LastCatalogText;
    if (!CatalogName.empty())
        return;
    // The first catalogue of the data folder, in the order the folder lists them.
    const std::vector<std::string> names = CatalogNamesIn(DataFolder);
    if (!names.empty())
        CatalogName = names.front();
}

void TMainForm::EnsureCatalog()
{
    // Every start ends with a usable catalogue: when the chosen one could not be
    // opened (or none was chosen), the proposed first catalogue is opened or
    // created instead.
    if (HasCatalog())
        return;
    std::string error;
    if (!OpenCatalog(DataFolder, FirstCatalogName, &error))
        ShowError(error);
}

void TMainForm::ShowError(const std::string &text)
{
    Prompt::Current().Show(ToQString(text), ToQString(langunit::LangString(67)), PromptButtons::Ok,
                           PromptIcon::Error);
}

void TMainForm::RunGuarded(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const EAbort &) {
    } catch (const std::exception &e) {
        ShowError(e.what());
    }
}

QString TMainForm::Caption() const
{
    const QString caption = QStringLiteral("Orbalist  - ") + ToQString(langunit::LangString(45)) +
                            QStringLiteral("  : ") + ToQString(CatalogName);
    if (!ReadOnlyCatalog)
        return caption;
    return caption + ToQString(Text3("  (damaged, read-only)", "  (poškodený, len na čítanie)",
                                     "  (poškozený, jen pro čtení)"));
}

void TMainForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        FormShow();
    }
}

void TMainForm::FormShow()
{
    FormResize();
    ui->SpeedButton1->setIcon(QIcon(DoleGlyph));
    ui->SpeedButton2->setIcon(QIcon(DoleGlyph));
    ui->SpeedButton1->setIconSize(QSize(12, 12));
    ui->SpeedButton2->setIconSize(QSize(12, 12));
    ui->Panel2->hide();
    ui->BackupCreateMenu->setChecked(Settings[13] == 1);

    SetLanguageTexts();

    // The stored size applies at start and after the settings are restored:
    // a catalogue command that shows the window again leaves the size the
    // user gave it.
    if (!windowSized_) {
        windowSized_ = true;
        if (Settings[14] == 0) {
            if (isMaximized())
                showNormal();
            const QScreen *screen = this->screen();
            resize(screen ? ClampWindowSize(Settings[8], Settings[9], screen->availableGeometry().size())
                          : QSize(Settings[8], Settings[9]));
        } else {
            // Maximised after the window has appeared, as a posted request.
            QTimer::singleShot(0, this, [this] { showMaximized(); });
        }
    }
    setWindowTitle(Caption());

    const bool gridLines = Settings[15] == 1;
    ui->LinksListView->SetGridLines(gridLines);
    ui->SearchView->SetGridLines(gridLines);
    const bool infoPanel = Settings[16] == 1;
    ui->ShowInfoButton->setChecked(infoPanel);
    ui->ShowInfoPanelMenu->setChecked(infoPanel);
    try {
        ShowCatalogView();
    } catch (const std::exception &e) {
        // A table that fails while it is read: the message, and the window stays usable.
        ShowError(e.what());
    }
}

void TMainForm::FormResize()
{
    if (ProgressBar1) {
        const int barHeight = std::max(8, ui->StatusBar1->height() - 6);
        // As wide as the window less 342 pixels, at the bar's right end, but
        // over the last panel only: panels widened for their texts (and the
        // borders between them) are never covered.
        const int right = ui->StatusBar1->width() - 2;
        const int left = std::max(ui->StatusBar1->PanelRect(3).left() + 2, right - (width() - 342));
        ProgressBar1->setGeometry(left, (ui->StatusBar1->height() - barHeight) / 2, std::max(0, right - left),
                                  barHeight);
    }
}

void TMainForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    FormClose();
    QMainWindow::closeEvent(event);
}

void TMainForm::FormClose()
{
    if (closed_)
        return;
    closed_ = true;
    CloseTables();
    Settings[8] = width();
    Settings[9] = height();
    // A damaged catalogue opened read-only does not become the last one, and
    // nothing may change which catalogue the next start opens.
    if (ReadOnlyCatalog) {
        Settings.SetupText[3] = DefaultCatalogText;
        Settings.SetupText[4] = LastCatalogText;
    } else {
        Settings.SetupText[4] = CatalogName;
    }
    Settings[14] = isMaximized() ? 1 : 0;
    if (!SaveSettings())
        ShowError(SettingsWriteError(DataFolder));
    RunGuarded([this] { DropFileTarget1->Unregister(); });
}

void TMainForm::DeviceChange()
{
    ui->DriveComboBox1->RefreshDrives();
}

void TMainForm::ExitButtonClick() { close(); }
void TMainForm::CloseMenuClick() { ui->ExitButton->click(); }
void TMainForm::SetupEnviromentMenuClick() { ui->SetupButton->click(); }
void TMainForm::AboutMenuClick() { ui->AboutButton->click(); }

void TMainForm::LangMenuClick()
{
    TLangForm lang(this, false);
    ExecModal(lang);
}

void TMainForm::SetToolIcons()
{
    struct Icon {
        QAbstractButton *button;
        const char *theme;
        QStyle::StandardPixmap fallback;
    };
    const Icon icons[] = {
        {ui->OpenButton, "document-open", QStyle::SP_DialogOpenButton},
        {ui->ScanButton, "media-optical", QStyle::SP_DriveCDIcon},
        {ui->UpdateToolButton, "view-refresh", QStyle::SP_BrowserReload},
        {ui->DeleteButton, "edit-delete", QStyle::SP_TrashIcon},
        {ui->FindButton, "edit-find", QStyle::SP_FileDialogContentsView},
        {ui->FindAllButton, "system-search", QStyle::SP_FileDialogDetailedView},
        {ui->CopyButton, "edit-copy", QStyle::SP_DialogSaveButton},
        {ui->RunButton, "system-run", QStyle::SP_MediaPlay},
        {ui->PropertiesButton, "document-properties", QStyle::SP_FileDialogInfoView},
        {ui->PrintButton, "document-print", QStyle::SP_FileIcon},
        {ui->EditTreeButton, "view-list-tree", QStyle::SP_FileDialogListView},
        {ui->OrganizeButton, "folder-move", QStyle::SP_DirLinkIcon},
        {ui->AddImageToolButton, "insert-image", QStyle::SP_DesktopIcon},
        {ui->DeleteImageToolButton, "edit-clear", QStyle::SP_DialogDiscardButton},
        {ui->ShowInfoButton, "dialog-information", QStyle::SP_MessageBoxInformation},
        {ui->SetupButton, "preferences-system", QStyle::SP_ComputerIcon},
        {ui->HelpButton, "help-contents", QStyle::SP_DialogHelpButton},
        {ui->AboutButton, "help-about", QStyle::SP_TitleBarContextHelpButton},
        {ui->ExitButton, "application-exit", QStyle::SP_DialogCloseButton},
        {ui->BackButton, "go-previous", QStyle::SP_ArrowBack},
        {ui->ForwardButton, "go-next", QStyle::SP_ArrowForward},
        {ui->UpButton, "go-up", QStyle::SP_FileDialogToParent},
        {ui->SpeedButton3, "go-next", QStyle::SP_ArrowRight},
        {ui->SpeedButton4, "go-next", QStyle::SP_ArrowRight},
        {ui->SpeedButton5, "go-next", QStyle::SP_ArrowRight},
        {ui->SpeedButton6, "go-next", QStyle::SP_ArrowRight},
        {ui->SpeedButton7, "go-next", QStyle::SP_ArrowRight},
        {ui->SpeedButton8, "go-next", QStyle::SP_ArrowRight},
    };
    for (const Icon &i : icons)
        i.button->setIcon(QIcon::fromTheme(QString::fromLatin1(i.theme), style()->standardIcon(i.fallback)));
}

namespace {

// Runs an action when a label is clicked (labels have no click signal).
class LabelClick : public QObject {
public:
    LabelClick(QObject *parent, std::function<void()> action) : QObject(parent), action_(std::move(action)) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonRelease) {
            action_();
            return true;
        }
        return false;
    }

private:
    std::function<void()> action_;
};

void ShowHelpContents(const std::string &helpFile)
{
    HelpService::ShowContents(ToQString(helpFile), langunit::CurrentLanguage());
}

} // namespace

void TMainForm::ConnectHandlers()
{
    // Help: the contents, or in the tree-editing mode its guide.
    const auto helpButtonClick = [this] {
        if (ui->EditTreePanel->isVisible())
            HelpService::ShowContext(ToQString(HelpFile),
                                     langunit::CurrentLanguage() == langunit::LangEnglish ? 25 : 24,
                                     langunit::CurrentLanguage());
        else
            ShowHelpContents(HelpFile);
    };
    connect(ui->HelpContensMenu, &QAction::triggered, this, [this] { ShowHelpContents(HelpFile); });
    connect(ui->HelpButton, &QToolButton::clicked, this, helpButtonClick);
    connect(ui->SpeedButton5, &QToolButton::clicked, this, helpButtonClick);
    ui->Label11->installEventFilter(new LabelClick(ui->Label11, helpButtonClick));

    connect(ui->ExitButton, &QToolButton::clicked, this, &TMainForm::ExitButtonClick);
    connect(ui->CloseMenu, &QAction::triggered, this, &TMainForm::CloseMenuClick);
    connect(ui->SetupEnviromentMenu, &QAction::triggered, this, &TMainForm::SetupEnviromentMenuClick);
    connect(ui->AboutMenu, &QAction::triggered, this, &TMainForm::AboutMenuClick);
    connect(ui->LangMenu, &QAction::triggered, this, &TMainForm::LangMenuClick);
    connect(ui->RecoverSetupMenu, &QAction::triggered, this, Guarded(&TMainForm::RecoverSetupMenuClick));
    connect(ui->ColapsePopup, &QAction::triggered, this, &TMainForm::CollapseAllNodes);
    ConnectScanHandlers();
    ConnectBrowseHandlers();
    ConnectCatalogHandlers();
    ConnectSearchHandlers();
    ConnectCddbHandlers();
    ConnectDiscHandlers();
    ConnectNotePictureHandlers();
    ConnectViewHandlers();
    ConnectPrintHandlers();

}
