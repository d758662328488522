// What the main window shows, kept in step: status panels sized to their
// texts, a language change that relabels without moving anything, saved
// window sizes that fit the screen, and the tree's selection following the
// folder the list shows.
#include "app/Main.h"

#include <QComboBox>
#include <QLocale>
#include <QFontMetrics>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <clocale>
#include <cstring>

#include "app/LangUnit.h"
#include "app/browse/BrowseText.h"
#include "app/browse/FileListView.h"
#include "platform/QtText.h"
#include "ui_MainForm.h"
#include "util/BaseDateTime.h"
#include "widgets/LocaleDates.h"
#include "widgets/StatusBarCont.h"

QFont TMainForm::StatusPanelFont(int panel) const
{
    QFont font = ui->StatusBar1->font();
    font.setBold(panel == 0 || panel == 1);
    return font;
}

int TMainForm::StatusPanelTextWidth(int panel, const QString &text) const
{
    // 2 pixels in, as drawn, and room on the right for the panel's frame.
    return QFontMetrics(StatusPanelFont(panel)).horizontalAdvance(text) + 8;
}

void TMainForm::ShowDiscStatus()
{
    if (!WorkTable || !WorkTable->Active() || Browse.FileCountText.empty() || Browse.FileCountText == "0")
        return;
    ui->StatusBar1->SetPanelText(2, ToQString(" " + Browse.FileCountText + " " + langunit::LangString(54) + " - " +
                                              Browse.DiscSizeText));
}

void TMainForm::RelabelInLanguage()
{
    // The search criteria the user chose stay chosen.
    const int dateKind = ui->ComboBox3->currentIndex();
    const int sizeKind = ui->ComboBox4->currentIndex();
    SetLanguageTexts();
    if (dateKind >= 0)
        ui->ComboBox3->setCurrentIndex(dateKind);
    if (sizeKind >= 0)
        ui->ComboBox4->setCurrentIndex(sizeKind);
    setWindowTitle(Caption());
    // The list's size texts carry the word for bytes: fill it again for the
    // same folder, with the same row selected.
    const TFileRow *selected = ui->LinksListView->SelectedRow();
    const std::string selectedName = selected ? selected->Name : std::string();
    const int flag = Browse.BrowseFlag;
    Browse.BrowseFlag = 0; // relabelling opens no tree level
    LoadList();
    Browse.BrowseFlag = flag;
    if (!selectedName.empty()) {
        const TFileRows rows = ui->LinksListView->Model()->Rows();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].Name == selectedName) {
                ui->LinksListView->SelectRow(static_cast<int>(i));
                break;
            }
    }
    ShowDiscStatus();
    ShowInfoPanel();
}

QSize TMainForm::ClampWindowSize(int width, int height, const QSize &available)
{
    // A size from the settings file is only a wish: never larger than the
    // screen, never too small to use.
    constexpr int MinWidth = 320, MinHeight = 240;
    const int maxWidth = std::max(MinWidth, available.width());
    const int maxHeight = std::max(MinHeight, available.height());
    return QSize(std::clamp(width, MinWidth, maxWidth), std::clamp(height, MinHeight, maxHeight));
}

void TMainForm::FollowLocaleDateOrder()
{
    // The C library's order is the locale's when it has the user's locale.
    // Where it fell back to "C" while the user's locale is another (not
    // installed for the C library), the date boxes' order is the locale's.
    const char *cLocale = std::setlocale(LC_TIME, nullptr);
    const bool cLibraryHasLocale = cLocale && std::strcmp(cLocale, "POSIX") != 0 &&
                                   !(cLocale[0] == 'C' && (cLocale[1] == '\0' || cLocale[1] == '.'));
    const QLocale locale;
    if (cLibraryHasLocale || locale.language() == QLocale::C) {
        SetDefaultDateOrder(std::string(), '/');
        return;
    }
    char separator = '/';
    const std::string format = ConvertQtDateFormat(locale.dateFormat(QLocale::ShortFormat), separator);
    SetDefaultDateOrder(format, separator);
}

void TMainForm::SelectTreeNodeOfCurrentPath(bool readLevels)
{
    QTreeWidget *tree = ui->TreeView1;
    const std::string disc = Browse.LoadedDisc.empty() ? Browse.CurrentDisc : Browse.LoadedDisc;
    QTreeWidgetItem *node = nullptr;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        if (TreeNodeKind(*it) == NodeKindDisc && CompareNamesFoldAZ(FromQString((*it)->text(0)), disc) == 0) {
            node = *it;
            break;
        }
    }
    if (!node)
        return;
    // Down the folder levels of the path after its drive ("e:\docs\old\"),
    // as far as the tree has them.
    const std::string path = Browse.CurrentPath;
    size_t start = path.find('\\');
    while (start != std::string::npos && start + 1 < path.size()) {
        const size_t end = path.find('\\', start + 1);
        const std::string part = path.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
        if (part.empty())
            break;
        QTreeWidgetItem *next = nullptr;
        if (readLevels && Settings[10] == 1 && node->childCount() == 0)
            AddTreeLevel(node, WorkFolderEntries(path.substr(0, start + 1), true));
        for (int i = 0; i < node->childCount() && !next; ++i) {
            QTreeWidgetItem *child = node->child(i);
            if (TreeNodeKind(child) == NodeKindNone && FromQString(child->text(0)) == part)
                next = child;
        }
        if (!next)
            break;
        node = next;
        start = end;
    }
    if (tree->currentItem() != node) {
        tree->setCurrentItem(node);
        tree->scrollToItem(node);
    }
}

void TMainForm::ConnectViewHandlers()
{
    QTreeWidget *tree = ui->TreeView1;
    if (tree->property("orbViewBound").toBool())
        return;
    tree->setProperty("orbViewBound", true);
    // A disc or folder whose levels have not been read shows an arrow; opening
    // it reads them as a click on it would, and a folder without sub-folders
    // loses the arrow.
    connect(tree, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem *item) {
        // Opening a disc collapses the tree and expands the disc again: that
        // expansion is part of this one.
        if (TreeClickRunning || item->childCount() > 0 || TreeEditing)
            return;
        RunGuarded([this, item] {
            ui->TreeView1->setCurrentItem(item);
            Browse.BrowseFlag = 1;
            TreeView1Click();
            if (item->childCount() == 0)
                item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
        });
    });
}
