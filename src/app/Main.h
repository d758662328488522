#pragma once
// The program's one main window. Its handlers live in one file per area
// (MainStartup.cpp, MainSettings.cpp, MainTables.cpp, MainTree.cpp, ...);
// the class is one.
#include <QColor>
#include <QIcon>
#include <QMainWindow>
#include <QPixmap>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/MainState.h"
#include "app/browse/MainBrowse.h"
#include "app/catalog/Settings.h"
#include "app/catalog/TreeFile.h"
#include "app/discs/DiscCommands.h"
#include "app/scan/MainScan.h"
#include "app/search/MainSearch.h"
#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"
#include "widgets/DropTarget.h"

class QComboBox;
class QDialog;
class QImage;
class QLabel;
class QMenu;
class QPainter;
class QProgressBar;
class QRect;
class QTreeWidget;
class QTreeWidgetItem;
class TSplashForm;
class TPrintPrepareForm;
struct TPrintRow;
class TStatusBarCont;
class TNewRecordForm;
class TCddb;
class TThemeManager;
class TRowListView;
struct TFileRow;

namespace Ui {
class TMainForm;
}

// Role of a tree item that holds its node kind (NodeKindNone for folders).
inline constexpr int TreeKindRole = Qt::UserRole + 1;

// The kind of a tree node (NodeKindNone for a folder, or for no node).
int TreeNodeKind(const QTreeWidgetItem *node);
// The disc node a tree node belongs to: the node itself or its nearest disc
// ancestor; null outside any disc.
QTreeWidgetItem *DiscNodeOf(QTreeWidgetItem *node);
const QTreeWidgetItem *DiscNodeOf(const QTreeWidgetItem *node);

// The default catalogue name the first start proposes.
inline constexpr const char *FirstCatalogName = "DuzuvozER";

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // Runs the start-up (FormCreate). `splash` (may be null) gets the progress
    // points and is closed at the end. `dataFolder` overrides the documents
    // folder + "/DiVovData" (tests).
    explicit TMainForm(TSplashForm *splash = nullptr, const std::string &dataFolder = std::string(),
                       QWidget *parent = nullptr);
    ~TMainForm() override;

    // How modal dialogs are run: exec() unless a test installs a script.
    static std::function<int(QDialog &)> RunModal;
    static int ExecModal(QDialog &dialog);

    Ui::TMainForm *ui;

    // ---- start-up and lifecycle (MainStartup.cpp)
    void FormShow();
    void FormResize();
    void DeviceChange();
    void ExitButtonClick();
    void CloseMenuClick();
    void SetupEnviromentMenuClick();
    void AboutMenuClick();
    void LangMenuClick();
    QString Caption() const;
    // Time a tool tip stays up, in milliseconds.
    static constexpr int HintHidePause = 3000;

    // ---- settings and colours (MainSettings.cpp)
    void LoadSettings();
    bool SaveSettings();
    void ZakladneNastavenie();
    void RecoverSetupMenuClick();
    void ChangeColor();
    void ChangeMenu(int language);
    void SetLanguageTexts();
    static QColor WinColor(uint32_t value, bool background);
    QColor FrameColor() const { return WinColor(Colours.frame, false); }
    QColor BackgroundColor() const { return WinColor(Colours.background, true); }
    // Paints a dialog: the form in the frame colour, the given widgets in the background colour.
    void PaintDialog(QWidget *form, const std::vector<QWidget *> &background) const;

    // ---- catalogue tables (MainTables.cpp)
    // Opens (creating what is missing) the catalogue `name` in `folder`. The new
    // tables are opened first; only when both are open are the old ones let go.
    // False (with the reason in *error) leaves the old catalogue open.
    bool OpenCatalog(const std::string &folder, const std::string &name, std::string *error);
    // A catalogue name is used in file names: refuse what cannot be one.
    // Empty result: acceptable; else the reason, in the current language.
    static std::string CheckCatalogName(const std::string &name);
    bool HasCatalog() const;
    std::string FileTablePath(const std::string &folder, const std::string &name) const;
    std::string DiscTablePath(const std::string &folder, const std::string &name) const;
    std::string TreePathFor(const std::string &folder, const std::string &name) const;
    void CloseTables();
    // Makes an opened pair of tables the window's catalogue (the old ones closed first).
    void InstallTables(std::unique_ptr<TFlatTable> files, std::unique_ptr<TFlatTable> discs,
                       const std::string &folder, const std::string &name, bool readOnly);
    // Disc names of the disc table in table order, and the first disc's size text.
    std::vector<std::string> DiscNames() const;
    std::string FirstDiscSize() const;
    int FileRecordCount() const;

    // ---- disc tree (MainTree.cpp)
    // The catalogue part of FormShow: tree, first node, current disc.
    void ShowCatalogView();
    void LoadTree();
    bool LoadTreeViewFromStream(QTreeWidget *tree, const std::string &fileName, std::string *error);
    std::vector<TTreeRecord> TreeRecords(QTreeWidget *tree) const;
    bool SaveTree(std::string *error = nullptr);
    void LoadSubTree();
    // Adds the folders `names` as the levels of `node` (its levels are read).
    void AddTreeLevel(QTreeWidgetItem *node, const std::vector<std::string> &names);
    void SelectTreeNodeByPath(const std::string &path);
    void CollapseAllNodes();
    QTreeWidgetItem *AddTreeNode(QTreeWidgetItem *parent, const QString &text, int image, int selected, int kind);
    // Empties a tree view deepest node first, without the recursion of the items' own
    // destructors (a deep tree would take the stack with it).
    static void ClearTreeView(QTreeWidget *tree);

    // ---- drive scan and archive members (MainScan*.cpp, MainArchive.cpp)
    void ScanButtonClick();
    void UpdateToolButtonClick();
    // Binds the scan commands, the status panels and the archive readers' hooks.
    void ConnectScanHandlers();
    // Opens the scan wizard in mode 0 (new disc) or 1 (update of the selected disc).
    void RunScanWizard(int mode);
    int GetDriveKind(char letter);
    void SpocitajSubory(const std::string &root);
    // Reads the drive of the scan into the scan table; false (after the
    // warning) when nothing was found.
    bool NacitajDisk(const std::string &folder);
    void SaveToDatabase(const std::string &sizeText, int mode);
    std::string UniqueTitle(const std::string &title);
    // Forgets the scan: empties the scan table, clears the scan state.
    void ClearScan();
    void StatusBar1DrawPanel(TStatusBarCont *bar, int panel, const QRect &rect, QPainter &canvas);
    // Member records of an archive just recorded. False when the archive's
    // header (zip: end record and central directory, RAR: archive and first
    // member header, cabinet: header and file records) could not be read: it
    // then adds no members, and the scan counts it as unreadable.
    bool WriteZipFile(const std::string &name, const std::string &folder, const std::string &localFile);
    bool WriteRarFile(const std::string &name, const std::string &folder, const std::string &localFile);
    bool WriteCabFile(const std::string &name, const std::string &folder, const std::string &localFile);
    TScanSession ScanSession;
    std::shared_ptr<TScanReaders> ScanReaders; // created on first use
    // ---- end of the scan block

    // ---- browsing: tree clicks, work table, file list, information panel
    //      (MainBrowse.cpp, MainFileList.cpp, MainInfoPanel.cpp, MainFilter.cpp)
    // Binds the browse handlers to the form's controls; runs once.
    void ConnectBrowseHandlers();
    void TreeView1Click();
    void LoadToWork();
    void SetPath();
    void UpButtonClick();
    void ComboBox1Change();
    // Enter in the path box, or an item picked: goes to the place typed on
    // whichever disc has it, or says it does not exist.
    void ComboBox1Enter();
    // Whether the open disc has the folder or archive `place` ("e:" or "e:\docs").
    bool OpenDiscHasPlace(const std::string &place);
    // The first disc, in tree order, that has `place`; empty when none has.
    std::string DiscWithPlace(const std::string &place);
    void GoToPlace(const std::string &place);
    void BackButtonClick();
    void ForwardButtonClick();
    void Popup1Click(int index);
    void Popup2Click(int index);
    // Selects the first node (in tree order) whose text equals `name`, folding
    // a to z; answers its index in that order, or -1 when none matches.
    int SelectTreeNodeByText(const std::string &name);
    // The node's text preceded by its ancestors' texts, joined with "\".
    static std::string NodePath(const QTreeWidgetItem *node);
    // The drive path ("e:\docs") of a disc's node or of a folder node under
    // it. A disc named by its audio title has no drive in its name: its path
    // is on the drive of the open disc's records.
    std::string NodeDrivePath(const QTreeWidgetItem *node) const;
    // Makes the disc record named `name` (whole name, case ignored) current.
    bool LocateDiscRecord(const std::string &name);
    void LoadList();
    // Filters the work table to the records of the current path.
    void FilterWorkTable();
    // The folders (and, without `foldersOnly`, the archives) listed in `folder`
    // ("e:\docs\") of the open disc, in list order; the work table stays on
    // the current path.
    std::vector<std::string> WorkFolderEntries(const std::string &folder, bool foldersOnly);
    void LinksListViewClick();
    void LinksListViewDblClick();
    void ListViewMenuClick();
    void IconViewMenuClick();
    void SmallIconViewMenuClick();
    void ReportViewMenuClick();
    void ShowInfoPanel();
    // Shows the note of a list row (null: nothing selected, nothing changes).
    void ShowNote(const TFileRow *row);
    void ShowInfoButtonClick();
    void ShowInfoPanelMenuClick();
    void InfoPanelResize();
    // Widths and centring of the search panel's parts for its size.
    void LayoutSearchPanel();
    // The disc table's current record's picture, or the default of its kind.
    void ShowDiscPicture();
    void FlatTable1FilterRecord(TDataSet *DataSet, bool &Accept);
    void FinalExmemoryDataFilterRecord(TDataSet *DataSet, bool &Accept);
    void ConnectFileListHandlers();
    // `list` shows the view style whose menu item is checked, also when
    // start-up checks it.
    void FollowViewStyleMenu(TRowListView *list);
    void ConnectInfoPanelHandlers();
    // History helpers: go to a path without a history entry, button states,
    // the two history menus rebuilt from the lists.
    void GoToHistoryPath(const std::string &path);
    void SetBackEnabled(bool enabled);
    void SetForwardEnabled(bool enabled);
    void RefreshHistoryMenus();
    std::unique_ptr<TFlatTable> WorkTable;     // the open disc's File records
    std::unique_ptr<TDataSource> WorkSource;
    TRunTarget RunTarget;                      // set by a click in the file list
    int InfoPanelFlag = 0;                     // 1 while the information panel is shown
    // ---- end of the browse block

    // ---- catalogue commands, backup and restore, properties, setup and about
    //      (MainCatalog.cpp, MainBackup.cpp)
    // Binds the commands of this block and the table engine's password prompt.
    void ConnectCatalogHandlers();
    void NewMenuClick();
    void OpenButtonClick();
    // Opens the catalogue file `fileName` from any folder (its disc table and
    // tree file are in that folder's "CdNames"). False, after telling the user
    // which file failed and why, leaves the open catalogue as it was.
    bool OpenCatalogFile(const std::string &fileName);
    void DelArchMenuClick();
    void LoadArchivesToCombo(QComboBox *ComboBox) const;
    // Names of the catalogues of `folder` (entries whose extension is exactly
    // ".d"), in the order the folder lists them.
    static std::vector<std::string> CatalogNamesIn(const std::string &folder);
    // Deletes catalogue `name` of the data folder after asking; refuses the open
    // catalogue and any name that is not a plain name inside the data folder.
    // True when its files were deleted.
    bool DeleteCatalog(const std::string &name);
    void BackupCreateMenuClick();
    void RecoverDatabaseMenuClick();
    // Puts catalogue `name` of the data folder back to its ".~d" backups. False
    // with the reason (nothing changed) or with an empty reason when no backup
    // of the file table exists. A table that cannot be read is kept beside
    // (its new names in *keptDamaged).
    bool RestoreCatalog(const std::string &name, std::string *error,
                        std::vector<std::string> *keptDamaged = nullptr);
    void RecoverTreeSetupMenuClick();
    // Empties the tree, the file list, the disc choice and the work table
    // before the views are built again from the open catalogue.
    void ForgetCatalogViews();
    void PropertiesMenuClick();
    void SetupButtonClick();
    void AboutButtonClick();
    // The open dialog of the open and restore commands: the chosen file, or
    // empty when the user cancels. Tests replace it.
    static std::function<std::string(TMainForm &)> RunOpenDialog;
    std::string ChooseCatalogFile();
    // The window's active control: the last of its widgets that had the focus
    // (kept while the focus is in a menu, a tool button or a dialog).
    QPointer<QWidget> ActiveControl;
    // Receives the application's focus changes; goes before the window's
    // widgets do, so that their destruction reports to nobody.
    std::unique_ptr<QObject> FocusWatch;
    // ---- end of the catalogue block

    // ---- search: criteria, record filter, results, find in all catalogues
    //      (MainFilter.cpp, MainSearch.cpp, MainFindAll.cpp)
    void ConnectSearchHandlers();
    // A search text without one leading and one trailing "*".
    std::string TrimMask(const std::string &text) const;
    // Reads the date and size controls into the search state (raising
    // ESearchConvertError for a text that does not convert) and installs the
    // matching filter method on `table` when a date or size is chosen.
    void SetSearchCriteria(TDataSet *table);
    // The text of the search panel's date box 1 (from) or 2 (to).
    std::string SearchDateText(int which) const;
    // Binds the search table's fields and the panel's choices for one
    // filtering pass over `table`.
    void PrepareSearchPass(TDataSet &table);
    // The filter method for the case option and the chosen criteria.
    TDataSet::TFilterRecordEvent SearchFilterMethod(bool exact, bool date, bool size);
    void FlatTable1FilterRecord_Case(TDataSet *DataSet, bool &Accept);
    void FlatTable1FilterRecord_Size(TDataSet *DataSet, bool &Accept);
    void FlatTable1FilterRecord_Size_Case(TDataSet *DataSet, bool &Accept);
    void FlatTable1FilterRecord_Time(TDataSet *DataSet, bool &Accept);
    void FlatTable1FilterRecord_Time_Case(TDataSet *DataSet, bool &Accept);
    void FlatTable1FilterRecord_Time_Size(TDataSet *DataSet, bool &Accept);
    void FlatTable1FilterRecord_Time_Size_Case(TDataSet *DataSet, bool &Accept);
    void RadioButton5Click();
    void RadioButton10Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void FindButtonClick();
    void FindMenuClick();
    void FilterButtonClick();
    // Adds the records `table` shows to the result list (emptying it first in
    // a single-catalogue search).
    void LoadFilterTable(TDataSet &table);
    void LoadFindAllTable(TExMemoryData &table);
    // The result notice with `text`, shown over the criteria.
    void ShowSearchNotice(const QString &text);
    void SearchViewClick();
    void SearchViewDblClick();
    void ShowSearchNote();
    void ComboBox2Change();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void FindAllButtonClick();
    void FindAllMenuClick();
    void FindAll();
    // The catalogue files of a folder: entries whose extension is exactly ".d".
    static std::vector<std::string> CatalogFilesOf(const std::string &folder);
    // The browse texts of the status bar, as a disc's opening left them.
    void RestoreBrowseStatus(bool numberOnlyWhenSet);
    TSearchState Search;
    std::unique_ptr<TFlatTable> FindAllTable;          // one catalogue at a time, during a search of all
    std::unique_ptr<TDataSource> FindAllSource;
    std::unique_ptr<TExMemoryData> FindAllResultTable; // the listed records of a search of all catalogues
    std::vector<std::string> FindAllResultCatalogs;    // the catalogue of each of its records
    std::vector<std::string> FindAllSkipped;           // catalogue files the last search could not read
    // ---- end of the search block

    // ---- damaged catalogue at start, read-only mode, first start (MainCatalogGuard.cpp)
    // True while the open catalogue is what could be read of a damaged one:
    // no scan, no table or tree save, and the settings keep the catalogue
    // names they were read with.
    bool ReadOnlyCatalog = false;
    // The user ended the program during the start: nothing was written, and
    // the window is not to be shown.
    bool StartCancelled = false;
    // A first start: no data folder, or neither settings nor a catalogue in it
    // (a first start that ended early left nothing behind).
    static bool IsFirstRun(const std::string &dataFolder);
    // Opens the catalogue chosen at start. When it cannot be opened, names the
    // file and the reason and asks: restore the backup, open what can be read
    // read-only, open or create another, or exit. False: the user exits.
    bool OpenStartCatalog();
    // Opens what can be read of a catalogue read-only and says what was lost.
    bool OpenCatalogReadOnly(const std::string &folder, const std::string &name, std::string *error);
    // True when the open catalogue may be changed; else tells the user why.
    bool CatalogWritable();
    // ---- end of the damaged-catalogue block

    // ---- disc commands, tree editing, copy and run
    //      (MainDisc.cpp, MainTreeEdit.cpp, MainRun.cpp; dialogs RenameCD.cpp, MoveForm.cpp)
    // Binds the disc, tree-editing and copy/run commands; runs once.
    void ConnectDiscHandlers();
    void DeleteButtonClick();
    void RenameCDMenuClick();
    // Whether the node selected in the tree belongs to the open disc, the one
    // Rename and Update act on; a group node (or none, or another disc's node)
    // is told to choose a CD. False, silently, with no disc open.
    bool OpenDiscChosen();
    void OrganizeButtonClick();
    // The open catalogue's tables and tree file for the disc commands.
    TDiscCatalog OpenDiscCatalog() const;
    // Forgets history, list and tree and shows the catalogue from its tables.
    void RebuildCatalogView();
    void ShowEmptyCatalogView();
    // No disc open (the tree empty, or a group first): nothing of a disc shown
    // before stays in the list, the status bar, the panels, the path box or
    // the history.
    void ShowNoDiscOpen();
    // Opens the catalogue's tables again from their files and shows it anew.
    bool ReloadCatalog(std::string *error);
    void ConnectTreeEditHandlers();
    void EditTreeButtonClick();
    void EditTreeMenuClick();
    void EnterTreeEditMode();
    void LeaveTreeEditMode();
    void EditTreeClick();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Label13Click();
    void UpDown1Click(bool up);
    // Whether dropping `dragged` on `target` keeps the tree sound.
    bool TreeDropAllowed(QTreeWidgetItem *dragged, QTreeWidgetItem *target) const;
    // A drop on `target` of the tree's selected node.
    void TreeView1DragDrop(QTreeWidgetItem *target);
    void ToolButton1Click();
    void RunGuardedAction(const std::function<void()> &action);
    bool TreeEditing = false;     // the tree-editing mode is on
    bool KeepTreeChanges = true;  // leaving the mode writes the tree file
    void ConnectRunHandlers();
    void RunButtonClick();
    // Makes the run target the entry Run and Copy act on: the one chosen
    // last while its list still shows it selected, else the row selected in
    // the file list or the search results now. False: none is selected.
    bool TakeRunTarget();
    // Says that a command on the selected file (or disc) has nothing to work on.
    void ShowNothingSelected(bool disc);
    // The file table filtered to the records of the disc shown.
    TFlatTable *CurrentDiscFileTable();
    void CopyButtonClick();
    void OpenPopupClick();
    void RunFile(const std::string &path);
    void CopyFileFromCd(const std::string &path);
    // The catalogue named in the insert-disc message.
    std::string RunCatalogName() const;
    // Copies the file `from` (a local path as the file system's bytes) through
    // a temporary file beside the target, keeping its modification time and
    // permission bits (under the umask); an error text, empty on success or
    // when the user cancelled.
    QString CopyWithProgress(const std::string &from, const QString &to);
    static qint64 CopyProgressThreshold; // bytes from which a copy shows its progress
    // ---- end of the disc block

    // ---- audio-CD lookup (MainCddb.cpp)
    // Creates the CDDB component and binds it, the drive chooser's change
    // and the wizard's lookup; runs once, before the settings are read.
    void ConnectCddbHandlers();
    // Setting 19 (CD interface), setting text 1 (proxy port) and setting
    // text 2 (server, "host" or "host:port") into the component.
    void ApplyCddbSettings(int cdInterface, const std::string &proxyPort, const std::string &serverAddress);
    void ReadMusicCD(TNewRecordForm *wizard);
    void DriveComboBox1Change();
    void Cddb1Match(TCddb *Sender, const std::array<std::string, 100> &Matches, int &RightOne);
    // The deferred read after a match (the window's message 0x800).
    void CddbReadMessage(TCddb *Sender);
    void Cddb1DataExchange(TCddb *Sender, const std::string &Line);
    void CddbStatusMessage(TCddb *Sender, const std::string &Status);
    std::unique_ptr<TCddb> Cddb;
    TNewRecordForm *CddbWizard = nullptr; // the scan wizard while it is open
    std::string CddbLastStatus;            // the lookup's last status text
    // ---- end of the audio-CD block

    // ---- notes and disc pictures (MainNotes.cpp, MainPictures.cpp)
    void ConnectNotePictureHandlers();
    void NotePopupClick();
    void CatPopupMenuPopup();
    void NoteTableFilterRecord(TDataSet *DataSet, bool &Accept);
    // The note dialog's OK: stores `note` for the note target (mode 1 a file,
    // mode 0 a disc) and refreshes the views. False when no record was found.
    bool StoreNote(const std::string &note);
    // Widest note, in stored bytes, that the note target's field holds.
    int NoteFieldWidth() const;
    void AddImageToolButtonClick();
    void DeleteImageToolButtonClick();
    void DropFileTarget1Drop(TDropTarget *Sender, TShiftState ShiftState, QPoint Point, uint32_t &Effect);
    // Stores one picture file as the current disc's picture. A file that
    // cannot be read changes nothing and is named in a message; false then.
    bool LoadCdPicture(const std::string &Extension, const std::string &FileName);
    void StretchToCdImage(const QImage &Graphic, int Width, int Height);
    // Edits the current disc record's picture by `change` and stores the
    // table; a failure takes the record and the table back to what they were
    // and is thrown on. The disc's picture is shown again either way.
    void StoreDiscPicture(const std::function<void()> &change);
    // Makes the current disc's record current for a picture command; a disc
    // that is not selected, or whose record is gone, is said and false given.
    bool PictureDiscFound();
    int NoteMode = 0;              // 1 a file's note, 0 a disc's
    std::string NoteTarget;        // the file's name as listed, or the disc's name
    std::string NoteFolder;        // folder and disc of the file whose note is edited
    std::string NoteDisc;
    TFileDropTarget *DropFileTarget1 = nullptr;
    QMenu *ImagePopupMenu = nullptr;   // pop-up menu of the disc picture
    // Runs a modal dialog for a file name to open; tests replace it.
    static std::function<std::string(QWidget *parent, const QString &title, const QString &filter)> OpenPictureDialog1;
    // ---- end of the notes and pictures block

    // ---- visual theme (created in FormCreate, owned by the window)
    TThemeManager *ThemeManager1 = nullptr;
    // ---- end of the theme block

    // ---- what the main window shows: status panels, language, geometry,
    //      tree and list kept on one place (MainView.cpp)
    // Font and needed width of a status panel's text.
    QFont StatusPanelFont(int panel) const;
    int StatusPanelTextWidth(int panel, const QString &text) const;
    // The texts of the window in the current language, keeping the window's
    // size, the tree and the place shown (the language dialog's OK).
    void RelabelInLanguage();
    // A saved window size made to fit the screen `available`.
    static QSize ClampWindowSize(int width, int height, const QSize &available);
    // Dates are written, listed and typed in the order of the user's locale
    // as the date boxes show it, even where the C library lacks that locale.
    static void FollowLocaleDateOrder();
    // Selects the tree node of the current path (the deepest one the tree
    // has), without acting on the selection.
    // Selects the tree node of the folder listed; with `readLevels` the levels
    // of the drop-down tree on the way are read, so that the node is the
    // folder's own and not an ancestor's.
    void SelectTreeNodeOfCurrentPath(bool readLevels = false);
    // The status panels of the open disc in the current language.
    void ShowDiscStatus();
    void ConnectViewHandlers();
    // True while a tree click runs: the levels it expands are not the user's.
    bool TreeClickRunning = false;
    // ---- end of the view block

    // ---- print preparation and reports (MainPrint.cpp, selunit.cpp, report.cpp,
    //      report_cd.cpp, BandReport.cpp)
    void ConnectPrintHandlers();
    void PrintButtonClick();
    // Admits the records whose Path holds the current path (its sub-folders too).
    void PrintExmemoryDataFilterRecord(TDataSet *DataSet, bool &Accept);
    // The rows of the search result list in list order, and its selected row,
    // as the print wizard copies them; whether `source` is that list's view.
    std::vector<TPrintRow> PrintSearchRows() const;
    std::optional<TPrintRow> PrintSearchSelectedRow() const;
    bool IsSearchListView(const QObject *source) const;
    QPointer<TPrintPrepareForm> PrintPrepareForm; // the wizard while it is open
signals:
    // The open catalogue was closed or replaced by another.
    void CatalogChanged();
public:
    // ---- end of the print block

    // ---- state shared with the dialogs
    std::string DataFolder;
    std::string CatalogFolder;     // folder of the open catalogue (the data folder unless opened elsewhere)
    std::string CatalogName;
    std::string TreeFilePath;
    std::string HelpFile = "orbalist.hlp";
    std::string DefaultCatalogText; // copies of setting texts 3 and 4
    std::string LastCatalogText;
    TSettings Settings;
    TColourPair Colours = InitialColourPair;
    bool FirstRun = false;
    int SearchLimit = 0;
    TScanState Scan;
    TBrowseState Browse;

    // Disc-kind pictures and the arrow glyphs.
    QPixmap CdBmp, MusicCdBmp, HddBmp, DisketteBmp, HoreGlyph, DoleGlyph;
    // Closed and open folder icons of the tree.
    std::vector<QIcon> ImageList1;

    // The catalogue's tables and their data sources.
    std::unique_ptr<TFlatTable> FlatTable1;     // file table
    std::unique_ptr<TDataSource> DataSource1;
    std::unique_ptr<TFlatTable> CdNameTable;    // disc table
    std::unique_ptr<TDataSource> DataSource2;
    TFlatTable *CurrentTable = nullptr;
    // The scan buffer, in the scan layout.
    std::unique_ptr<TExMemoryData> ExMemoryData1;

    QProgressBar *ProgressBar1 = nullptr;       // on the status bar
    QMenu *CatPopupMenu = nullptr;              // pop-up menu of the tree and the lists
    QMenu *PopupMenu1 = nullptr;                // back history
    QMenu *PopupMenu2 = nullptr;                // forward history

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void FormCreate(TSplashForm *splash, const std::string &dataFolder);
    void FormClose();
    void LoadPictures();
    void ConnectHandlers();
    void SetToolIcons();
    void ChooseStartCatalog();
    void EnsureCatalog();
    void ShowError(const std::string &text);
    // The event-loop boundary of a handler: no exception crosses it. An abort ends
    // the handler quietly; any other failure is shown as the program shows errors.
    void RunGuarded(const std::function<void()> &handler);
    auto Guarded(void (TMainForm::*handler)())
    {
        return [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); };
    }
    std::vector<QObject *> TreeEditLockedControls() const;
    std::vector<std::pair<QObject *, bool>> treeEditSaved_; // controls the editing mode disabled
    bool shownOnce_ = false;
    bool windowSized_ = false; // the stored window size applies at start and after Restore settings
    bool closed_ = false;
};
