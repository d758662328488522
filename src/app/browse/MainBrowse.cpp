// Browsing the disc tree: opening a disc builds its work table and starts a
// fresh history; folder nodes, the path box, Up, Back and Forward move inside
// the open disc.
#include "app/Main.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <vector>

#include "app/LangUnit.h"
#include "app/Texts3.h"
#include "app/browse/BrowseText.h"
#include "app/browse/FileListView.h"
#include "app/catalog/CatalogTables.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "ui_MainForm.h"
#include "util/BaseFileUtils.h"
#include "widgets/StatusBarCont.h"

namespace {

// Arrow keys released in the tree act as a click on the node they reached.
class TTreeKeyFilter : public QObject {
public:
    TTreeKeyFilter(TMainForm *form) : QObject(form), form_(form) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            pressed_ = true;
            pressedOn_ = form_->ui->TreeView1->currentItem();
        } else if (event->type() == QEvent::KeyRelease) {
            const auto *key = static_cast<QKeyEvent *>(event);
            // Only a key pressed in the tree: Enter in the path box may move
            // the focus here before the key is released, and the place it went
            // to is no click on the node selected there.
            const bool pressedHere = pressed_;
            if (!key->isAutoRepeat())
                pressed_ = false;
            // Any other key that moved the selection (Home, End, page keys,
            // a typed letter) opens the node it reached as well.
            if (pressedHere && !key->isAutoRepeat() &&
                (key->key() == Qt::Key_Down || key->key() == Qt::Key_Up ||
                 form_->ui->TreeView1->currentItem() != pressedOn_))
                form_->TreeView1Click();
        } else if (event->type() == QEvent::FocusOut) {
            pressed_ = false; // its release goes elsewhere
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TMainForm *form_;
    bool pressed_ = false;
    QTreeWidgetItem *pressedOn_ = nullptr;
};

// Enter in the path box goes to the place typed.
class TPathBoxEnterFilter : public QObject {
public:
    TPathBoxEnterFilter(TMainForm *form) : QObject(form), form_(form) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                form_->RunGuardedAction([this] { form_->ComboBox1Enter(); });
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TMainForm *form_;
};

// A right-button press on the tree opens its pop-up menu and leaves the
// selection where it is: the menu's commands act on the disc being shown, so
// the highlight must not move to another node that is not open.
class TTreeRightPressFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick ||
            event->type() == QEvent::MouseButtonRelease) {
            if (static_cast<QMouseEvent *>(event)->button() == Qt::RightButton)
                return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

// A place as the path box and the history write it: no trailing backslash,
// so a disc's top folder is the drive alone ("t:", not "t:\\").
std::string PlaceText(std::string path)
{
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

// Shows an opened disc's node with the levels read before, and the groups
// it lies in. A folder whose level has not been read stays closed with its
// arrow: expanded, it would show an open arrow over nothing, and opening it
// is what reads its level.
void ExpandOpenedDisc(QTreeWidgetItem *disc)
{
    for (QTreeWidgetItem *group = disc->parent(); group; group = group->parent())
        group->setExpanded(true);
    std::vector<QTreeWidgetItem *> pending{disc};
    while (!pending.empty()) {
        QTreeWidgetItem *item = pending.back();
        pending.pop_back();
        if (item->childCount() == 0)
            continue;
        item->setExpanded(true);
        for (int i = 0; i < item->childCount(); ++i)
            pending.push_back(item->child(i));
    }
}

} // namespace

void TMainForm::ConnectBrowseHandlers()
{
    if (ui->TreeView1->property("orbBrowseBound").toBool())
        return;
    ui->TreeView1->setProperty("orbBrowseBound", true);
    connect(ui->TreeView1, &QTreeWidget::itemClicked, this, Guarded(&TMainForm::TreeView1Click));
    ui->TreeView1->installEventFilter(new TTreeKeyFilter(this));
    ui->TreeView1->viewport()->installEventFilter(new TTreeRightPressFilter(ui->TreeView1));
    connect(ui->UpButton, &QToolButton::clicked, this, Guarded(&TMainForm::UpButtonClick));
    connect(ui->UpMenu, &QAction::triggered, this, Guarded(&TMainForm::UpButtonClick));
    connect(ui->BackButton, &QToolButton::clicked, this, Guarded(&TMainForm::BackButtonClick));
    connect(ui->BackMenu, &QAction::triggered, this, Guarded(&TMainForm::BackButtonClick));
    connect(ui->ForwardButton, &QToolButton::clicked, this, Guarded(&TMainForm::ForwardButtonClick));
    connect(ui->ForwardMenu, &QAction::triggered, this, Guarded(&TMainForm::ForwardButtonClick));
    // Only what the user types or picks changes the folder; the window's own
    // updates of the path box do not.
    // Only navigation adds drop-down items, not the text typed into the box.
    ui->ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    // Typing goes along to each folder of the open disc as it is complete;
    // Enter or a picked item goes to the place on any disc, or says that
    // there is no such place.
    connect(ui->ComboBox1, &QComboBox::textActivated, this, Guarded(&TMainForm::ComboBox1Enter));
    if (QLineEdit *edit = ui->ComboBox1->lineEdit()) {
        connect(edit, &QLineEdit::textEdited, this, Guarded(&TMainForm::ComboBox1Change));
        // Enter is taken here, once: passed on, the box would act on it again.
        // The box keeps the focus and hands keys to its line edit directly, so
        // the filter watches both.
        auto *enter = new TPathBoxEnterFilter(this);
        edit->installEventFilter(enter);
        ui->ComboBox1->installEventFilter(enter);
    }
    ConnectFileListHandlers();
    ConnectInfoPanelHandlers();
}

std::string TMainForm::NodePath(const QTreeWidgetItem *node)
{
    std::string path;
    for (const QTreeWidgetItem *n = node; n; n = n->parent())
        path = path.empty() ? FromQString(n->text(0)) : FromQString(n->text(0)) + "\\" + path;
    return path;
}

std::string TMainForm::NodeDrivePath(const QTreeWidgetItem *node) const
{
    const QTreeWidgetItem *disc = DiscNodeOf(node);
    if (!disc)
        return DiscPathToDrivePath(NodePath(node));
    // The drive, then the folders below the disc's node: neither the number
    // that makes a disc name unique ("e: [DATA]1") nor the groups above the
    // disc belong to the path.
    const std::string name = FromQString(disc->text(0));
    const bool driveInName = name.size() >= 4 && name[1] == ':' && name[2] == ' ' && name[3] == '[';
    const std::string &home = Browse.HomePath;
    std::string drive;
    if (driveInName)
        drive = name.substr(0, 2);
    else if (home.size() >= 2 && home[1] == ':')
        drive = home.substr(0, 2);
    else
        return DiscPathToDrivePath(NodePath(node));
    std::string path;
    for (const QTreeWidgetItem *n = node; n != disc; n = n->parent())
        path = "\\" + FromQString(n->text(0)) + path;
    return drive + path;
}

int TMainForm::SelectTreeNodeByText(const std::string &name)
{
    int index = 0;
    for (QTreeWidgetItemIterator it(ui->TreeView1); *it; ++it, ++index) {
        if (CompareNamesFoldAZ(FromQString((*it)->text(0)), name) == 0) {
            ui->TreeView1->setCurrentItem(*it);
            return index;
        }
    }
    return -1;
}

bool TMainForm::LocateDiscRecord(const std::string &name)
{
    if (!CdNameTable || !CdNameTable->Active())
        return false;
    // The whole name: "e: [DATA]" must not find the record of "e: [DATA]1".
    return CdNameTable->Locate("CdName", TVariant(name), TLocateOptions{loCaseInsensitive});
}

void TMainForm::TreeView1Click()
{
    const bool outer = !TreeClickRunning;
    TreeClickRunning = true;
    struct TDone {
        bool &flag;
        bool outer;
        ~TDone()
        {
            if (outer)
                flag = false;
        }
    } done{TreeClickRunning, outer};
    if (FlatTable1 && FlatTable1->Active())
        FlatTable1->SetOnFilterRecord([this](TDataSet *d, bool &accept) { FlatTable1FilterRecord(d, accept); });
    QTreeWidgetItem *node = ui->TreeView1->currentItem();
    if (!node)
        return;
    const int kind = TreeNodeKind(node);
    if (kind == NodeKindDisc) {
        Browse.CurrentDisc = FromQString(node->text(0));
        if (LocateDiscRecord(Browse.CurrentDisc)) {
            Browse.DiscSizeText = CdNameTable->FieldByName("CdSize").AsString();
            const std::string serial = CdNameTable->FieldByName("CdIdCode").AsString();
            Browse.SelectedSerial = serial.empty() ? "0" : serial;
        }
        if (Browse.CurrentDisc != Browse.LoadedDisc) {
            Browse.BrowseFlag = 1;
            CollapseAllNodes();
            if (SelectTreeNodeByText(Browse.CurrentDisc) >= 0)
                ExpandOpenedDisc(ui->TreeView1->currentItem());
            {
                // The drop-down items go; the text stays until the disc's drive
                // replaces it (a disc without records keeps it).
                const QSignalBlocker block(ui->ComboBox1);
                const QString text = ui->ComboBox1->currentText();
                ui->ComboBox1->clear();
                ui->ComboBox1->setEditText(text);
            }
            Browse.TargetPath.clear();
            Browse.PreviousPath.clear();
            WorkSource.reset();
            WorkTable.reset();
            LoadToWork();
            if (FlatTable1 && FlatTable1->Active() && FlatTable1->RecordCount() > 0) {
                FlatTable1->First();
                const std::string path = FlatTable1->FieldByName("Path").AsString();
                const std::string drive = path.substr(0, std::min<size_t>(2, path.size()));
                Browse.CurrentPath = drive + "\\";
                const QSignalBlocker block(ui->ComboBox1);
                ui->ComboBox1->addItem(ToQString(drive));
                ui->ComboBox1->setEditText(ToQString(drive));
            }
            LoadList();
            ShowInfoPanel();
            Browse.BackList.clear();
            Browse.ForwardList.clear();
            ui->BackButton->setEnabled(false);
            ui->ForwardButton->setEnabled(false);
            Browse.HomePath = FromQString(ui->ComboBox1->currentText());
            Browse.BackList.push_back(Browse.HomePath);
            RefreshHistoryMenus();
            Browse.LoadedDisc = Browse.CurrentDisc;
        } else if (Settings[10] == 1) {
            Browse.CurrentPath = NodeDrivePath(node) + "\\";
            Browse.TargetPath = Browse.CurrentPath;
            Browse.PreviousPath = FromQString(ui->ComboBox1->currentText());
            LoadList();
            SetPath();
        }
    } else if (kind == NodeKindGroup) {
        // A group only gathers discs.
    } else if (Settings[10] == 1) {
        // A folder of a disc that is not open (its node stayed in the tree)
        // opens its disc first: the list must not show that path on another disc.
        QTreeWidgetItem *disc = DiscNodeOf(node->parent());
        if (disc && CompareNamesFoldAZ(FromQString(disc->text(0)), Browse.LoadedDisc) != 0) {
            ui->TreeView1->setCurrentItem(disc);
            TreeView1Click();
            ui->TreeView1->setCurrentItem(node);
            Browse.BrowseFlag = 1;
        }
        const std::string drivePath = NodeDrivePath(node);
        Browse.CurrentPath = drivePath + "\\";
        Browse.TargetPath = drivePath;
        Browse.PreviousPath = FromQString(ui->ComboBox1->currentText());
        LoadList();
        SetPath();
    }
    ShowDiscPicture();
}

void TMainForm::LoadToWork()
{
    WorkSource.reset();
    WorkTable = std::make_unique<TFlatTable>();
    WorkTable->Name = "WorkTable";
    WorkTable->SetLoadMode(lmClear);
    WorkTable->FieldDefs().Clear();
    AddFieldDefs(*WorkTable, FileTableLayout());
    WorkTable->SetOnFilterRecord([this](TDataSet *d, bool &accept) { FinalExmemoryDataFilterRecord(d, accept); });
    WorkSource = std::make_unique<TDataSource>(WorkTable.get());
    WorkTable->Open();

    TStatusBarCont *bar = ui->StatusBar1;
    // Panel 3 too: the entry clicked last belongs to the disc left.
    for (int i = 0; i < 4; ++i)
        bar->SetPanelText(i, QString());
    Browse.ListedPath.clear();
    if (FlatTable1 && FlatTable1->Active()) {
        {
            // Outside a search the filter admits the disc's records alone: the view
            // is built from those, found through the store's lookup of disc names.
            TFilterTextHintScope hint(*FlatTable1, Search.Flag ? std::string() : std::string("Namecd"),
                                      Browse.CurrentDisc);
            FlatTable1->SetFiltered(true); // rebuilds the view for the current disc
        }
        FlatTable1->First();
        // Nothing watches single fields of the fresh work table: it takes whole records.
        WorkTable->DisableControls();
        try {
            WorkTable->CopyFromDataSet(FlatTable1.get(), 0);
        } catch (...) {
            WorkTable->EnableControls();
            throw;
        }
        WorkTable->EnableControls();
    }
    WorkTable->First();
    const int count = WorkTable->RecordCount();
    const std::string namecd = count > 0 ? WorkTable->FieldByName("Namecd").AsString() : std::string();
    const std::string number = count > 0 ? WorkTable->FieldByName("Number").AsString() : std::string();
    if (!namecd.empty())
        bar->SetPanelText(0, ToQString(" " + namecd + " "));
    if (!number.empty()) {
        bar->SetPanelText(1, ToQString(" [" + number + "]"));
        if (std::optional<std::string> label = DiscNumberLabel(number))
            ui->StaticText2->setText(ToQString(*label));
    }
    if (count > 0) {
        std::string files(" ");
        files += std::to_string(count);
        files += ' ';
        files += langunit::LangString(54);
        files += " - ";
        files += Browse.DiscSizeText;
        bar->SetPanelText(2, ToQString(files));
    }
    bar->update();

    std::string note;
    if (LocateDiscRecord(Browse.CurrentDisc)) {
        Browse.DiscSizeText = CdNameTable->FieldByName("CdSize").AsString();
        note = CdNameTable->FieldByName("CdNote").AsString();
    }
    if (!note.empty()) {
        ui->StaticText1->setText(ToQString("  " + note));
        if (!ui->InfoPanel->isVisibleTo(this))
            ui->StaticText1->show();
    } else {
        ui->StaticText1->clear();
        ui->StaticText1->hide();
    }
    Browse.FileCountText = std::to_string(count);
    if (!namecd.empty())
        Browse.WorkDiscName = namecd;
    Browse.LoadedDisc = Browse.CurrentDisc;
}

void TMainForm::SetPath()
{
    // One place, one spelling: "t:\\" is recorded as "t:", and a place is not
    // recorded twice in a row.
    const std::string place = PlaceText(Browse.TargetPath);
    if (place.empty() || place == PlaceText(Browse.PreviousPath))
        return;
    const QString target = ToQString(place);
    const QSignalBlocker block(ui->ComboBox1);
    if (ui->ComboBox1->findText(target, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0)
        ui->ComboBox1->addItem(target);
    ui->BackButton->setEnabled(true);
    ui->BackMenu->setEnabled(true);
    ui->UpButton->setEnabled(true);
    ui->UpMenu->setEnabled(true);
    if (Browse.BackList.empty() || Browse.BackList.back() != place)
        Browse.BackList.push_back(place);
    RefreshHistoryMenus();
    ui->ComboBox1->setEditText(target);
}

void TMainForm::UpButtonClick()
{
    Browse.BrowseFlag = 0;
    const std::string text = FromQString(ui->ComboBox1->currentText());
    const size_t slash = text.rfind('\\');
    if (slash == std::string::npos) {
        QApplication::beep();
        ui->UpButton->setEnabled(false);
        return;
    }
    Browse.CurrentPath = text.substr(0, slash + 1);
    LoadList();
    const QSignalBlocker block(ui->ComboBox1);
    ui->ComboBox1->setEditText(ToQString(text.substr(0, slash)));
    SelectTreeNodeOfCurrentPath();
}

bool TMainForm::OpenDiscHasPlace(const std::string &place)
{
    if (!WorkTable || !WorkTable->Active() || WorkTable->RecordCount() == 0 || place.size() < 2)
        return false;
    const size_t slash = place.rfind('\\');
    if (slash == std::string::npos)
        return place == PlaceText(Browse.HomePath); // paths are compared exactly
    const std::string name = place.substr(slash + 1);
    if (name.empty())
        return false;
    const std::vector<std::string> entries = WorkFolderEntries(place.substr(0, slash + 1), false);
    return std::find(entries.begin(), entries.end(), name) != entries.end();
}

std::string TMainForm::DiscWithPlace(const std::string &place)
{
    if (!FlatTable1 || !FlatTable1->Active() || place.size() < 2)
        return {};
    const size_t slash = place.rfind('\\');
    // The folder that lists the place, and the place's name in it; a drive
    // alone is the top folder of any disc read from that drive.
    const std::string folder = slash == std::string::npos ? place + "\\" : place.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? std::string() : place.substr(slash + 1);
    std::vector<std::string> discs;
    {
        TField &pathField = FlatTable1->FieldByName("Path");
        TField &nameField = FlatTable1->FieldByName("Name");
        TField &typeField = FlatTable1->FieldByName("Type");
        TField &discField = FlatTable1->FieldByName("Namecd");
        TFilterTextHintScope hint(*FlatTable1, "Path", folder);
        FlatTable1->SetOnFilterRecord(
            [path = &pathField, &folder](TDataSet *, bool &accept) { accept = path->AsString() == folder; });
        FlatTable1->SetFiltered(true);
        for (FlatTable1->First(); !FlatTable1->Eof(); FlatTable1->Next()) {
            const std::string entry = nameField.AsString();
            const bool listed = name.empty() ||
                                (entry == name && (typeField.AsInteger() == 0 ||
                                                   IsArchiveExtension(LowerAZ(PathExtractExtension(entry)))));
            if (listed)
                discs.push_back(discField.AsString());
        }
    }
    // The file table goes back to the open disc's records.
    FlatTable1->SetOnFilterRecord([this](TDataSet *d, bool &accept) { FlatTable1FilterRecord(d, accept); });
    {
        TFilterTextHintScope hint(*FlatTable1, "Namecd", Browse.CurrentDisc);
        FlatTable1->SetFiltered(true);
    }
    for (QTreeWidgetItemIterator it(ui->TreeView1); *it; ++it) {
        if (TreeNodeKind(*it) != NodeKindDisc)
            continue;
        const std::string disc = FromQString((*it)->text(0));
        if (std::find(discs.begin(), discs.end(), disc) != discs.end())
            return disc;
    }
    return {};
}

void TMainForm::GoToPlace(const std::string &place)
{
    Browse.BrowseFlag = 0;
    Browse.TargetPath = place;
    Browse.CurrentPath = place + "\\";
    LoadList();
    SelectTreeNodeOfCurrentPath(true);
}

void TMainForm::ComboBox1Change()
{
    // A path half typed changes nothing; Enter says whether it exists.
    const std::string place = PlaceText(FromQString(ui->ComboBox1->currentText()));
    if (OpenDiscHasPlace(place))
        GoToPlace(place);
}

void TMainForm::ComboBox1Enter()
{
    const QString typed = ui->ComboBox1->currentText();
    const std::string place = PlaceText(FromQString(typed));
    if (place.empty())
        return;
    if (!OpenDiscHasPlace(place)) {
        const std::string disc = DiscWithPlace(place);
        if (disc.empty()) {
            Prompt::Current().Show(ToQString(Text3("The folder \"" + place + "\" does not exist in this archive.",
                                                   "Priečinok \"" + place + "\" v tomto archíve neexistuje.",
                                                   "Složka \"" + place + "\" v tomto archivu neexistuje.")),
                                   QString(), PromptButtons::Ok, PromptIcon::Warning);
            // The box shows where the list is (typing may have gone along to
            // a place on the way), not the place that is not there.
            const QSignalBlocker block(ui->ComboBox1);
            ui->ComboBox1->setEditText(ToQString(PlaceText(Browse.CurrentPath)));
            return;
        }
        // The disc that has it opens first, as a click on its node opens it.
        SelectTreeNodeByText(disc);
        TreeView1Click();
        if (!OpenDiscHasPlace(place))
            return;
    }
    GoToPlace(place);
    const QSignalBlocker block(ui->ComboBox1);
    ui->ComboBox1->setEditText(ToQString(place));
}

void TMainForm::GoToHistoryPath(const std::string &path)
{
    const std::string place = PlaceText(path);
    Browse.TargetPath = place;
    Browse.CurrentPath = place + "\\";
    LoadList();
    // The path box and the tree follow, so that Up starts from where the list is.
    const QSignalBlocker block(ui->ComboBox1);
    ui->ComboBox1->setEditText(ToQString(place));
    SelectTreeNodeOfCurrentPath(true);
}

void TMainForm::SetBackEnabled(bool enabled)
{
    ui->BackButton->setEnabled(enabled);
    ui->BackMenu->setEnabled(enabled);
}

void TMainForm::SetForwardEnabled(bool enabled)
{
    ui->ForwardButton->setEnabled(enabled);
    ui->ForwardMenu->setEnabled(enabled);
}

// The history lists hold the places the path box showed. The place the list
// shows is the back list's last entry after a navigation and after going back
// within the list; after going back to the home path, or forward with three or
// more entries, it is the forward list's last one. Forward moves one place on
// from where the list is: when the list is not at the forward list's last
// entry, that entry is the next place.
namespace {

bool IsPlace(const std::vector<std::string> &list, const std::string &currentPath)
{
    return !list.empty() && list.back() + "\\" == currentPath;
}

} // namespace

void TMainForm::BackButtonClick()
{
    Browse.BrowseFlag = 0;
    std::vector<std::string> &b = Browse.BackList;
    std::vector<std::string> &f = Browse.ForwardList;
    const size_t n = b.size();
    if (n >= 3) {
        GoToHistoryPath(b[n - 2]);
        f.push_back(b[n - 1]);
        b.pop_back();
    } else if (n >= 1) {
        for (size_t i = n; i-- > 0;)
            f.push_back(b[i]);
        b.clear();
        GoToHistoryPath(Browse.HomePath);
    }
    SetBackEnabled(!b.empty());
    SetForwardEnabled(!f.empty());
    RefreshHistoryMenus();
}

void TMainForm::ForwardButtonClick()
{
    Browse.BrowseFlag = 0;
    std::vector<std::string> &b = Browse.BackList;
    std::vector<std::string> &f = Browse.ForwardList;
    const size_t m = f.size();
    if (m >= 1 && !IsPlace(f, Browse.CurrentPath)) {
        // The forward list's last entry is the next place.
        GoToHistoryPath(f.back());
        b.push_back(f.back());
        f.pop_back();
    } else if (m >= 3) {
        GoToHistoryPath(f[m - 2]);
        b.push_back(f[m - 1]);
        f.pop_back();
    } else if (m >= 1) {
        GoToHistoryPath(f[0]);
        for (size_t i = m; i-- > 0;)
            b.push_back(f[i]);
        f.clear();
    }
    SetBackEnabled(!b.empty());
    SetForwardEnabled(!f.empty());
    RefreshHistoryMenus();
}

void TMainForm::Popup1Click(int index)
{
    std::vector<std::string> &b = Browse.BackList;
    if (index < 0 || static_cast<size_t>(index) >= b.size())
        return;
    const auto i = static_cast<size_t>(index);
    GoToHistoryPath(b[i]);
    if (i == 0)
        SetBackEnabled(false);
    for (size_t k = b.size(); k-- > i;)
        Browse.ForwardList.push_back(b[k]);
    SetForwardEnabled(true);
    b.resize(i);
    RefreshHistoryMenus();
}

void TMainForm::Popup2Click(int index)
{
    std::vector<std::string> &f = Browse.ForwardList;
    if (index < 0 || static_cast<size_t>(index) >= f.size())
        return;
    const auto j = static_cast<size_t>(index);
    GoToHistoryPath(f[j]);
    if (j == 0)
        SetForwardEnabled(false);
    for (size_t k = f.size(); k-- > j;)
        Browse.BackList.push_back(f[k]);
    SetBackEnabled(true);
    f.resize(j);
    RefreshHistoryMenus();
}

void TMainForm::RefreshHistoryMenus()
{
    auto fill = [this](QMenu *menu, const std::vector<std::string> &paths, bool back) {
        if (!menu)
            return;
        menu->clear();
        // The place the list shows is where the user is, not a place to go to.
        const size_t shown = IsPlace(paths, Browse.CurrentPath) ? paths.size() - 1 : paths.size();
        for (size_t i = 0; i < shown; ++i) {
            const QString path = ToQString(paths[i]);
            QAction *a = menu->addAction(path);
            a->setToolTip(path);
            a->setStatusTip(path);
            const int index = static_cast<int>(i);
            connect(a, &QAction::triggered, this, [this, index, back] {
                RunGuarded([&] { back ? Popup1Click(index) : Popup2Click(index); });
            });
        }
    };
    fill(PopupMenu1, Browse.BackList, true);
    fill(PopupMenu2, Browse.ForwardList, false);
}
