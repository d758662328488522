// The disc tree: loading from the tree file or the disc table, saving, and the
// small tree helpers.
#include "app/Main.h"

#include <QComboBox>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <filesystem>
#include <utility>
#include <vector>

#include "app/LangUnit.h"
#include "app/Texts3.h"
#include "app/browse/DiscTreeOrder.h"
#include "app/browse/FileListView.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "ui_MainForm.h"

int TreeNodeKind(const QTreeWidgetItem *node)
{
    const QVariant kind = node ? node->data(0, TreeKindRole) : QVariant();
    return kind.isValid() ? kind.toInt() : NodeKindNone;
}

const QTreeWidgetItem *DiscNodeOf(const QTreeWidgetItem *node)
{
    while (node && TreeNodeKind(node) != NodeKindDisc)
        node = node->parent();
    return node;
}

QTreeWidgetItem *DiscNodeOf(QTreeWidgetItem *node)
{
    return const_cast<QTreeWidgetItem *>(DiscNodeOf(static_cast<const QTreeWidgetItem *>(node)));
}

namespace {

constexpr int ImageRole = Qt::UserRole + 2;
constexpr int SelectedImageRole = Qt::UserRole + 3;

} // namespace

QTreeWidgetItem *TMainForm::AddTreeNode(QTreeWidgetItem *parent, const QString &text, int image, int selected,
                                        int kind)
{
    auto *item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(ui->TreeView1);
    item->setText(0, text);
    item->setData(0, TreeKindRole, kind);
    item->setData(0, ImageRole, image);
    item->setData(0, SelectedImageRole, selected);
    if (image >= 0 && static_cast<size_t>(image) < ImageList1.size())
        item->setIcon(0, ImageList1[static_cast<size_t>(image)]);
    // With the drop-down tree, discs and folders open their levels when
    // expanded: they show an arrow before their levels are read.
    if (Settings[10] == 1 && (kind == NodeKindDisc || kind == NodeKindNone))
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return item;
}

std::vector<TTreeRecord> TMainForm::TreeRecords(QTreeWidget *tree) const
{
    // Pre-order with a stack of its own: a node, its children, then its next sibling.
    std::vector<TTreeRecord> out;
    std::vector<std::pair<QTreeWidgetItem *, int>> pending;
    for (int i = tree->topLevelItemCount() - 1; i >= 0; --i)
        pending.emplace_back(tree->topLevelItem(i), 0);
    while (!pending.empty()) {
        const auto [item, level] = pending.back();
        pending.pop_back();
        TTreeRecord r;
        r.level = level;
        r.text = FromQString(item->text(0));
        r.imageIndex = item->data(0, ImageRole).toInt();
        r.selectedIndex = item->data(0, SelectedImageRole).toInt();
        r.kind = TreeNodeKind(item);
        out.push_back(std::move(r));
        for (int i = item->childCount() - 1; i >= 0; --i)
            pending.emplace_back(item->child(i), level + 1);
    }
    return out;
}

void TMainForm::ClearTreeView(QTreeWidget *tree)
{
    if (!tree)
        return;
    // Out of the view in one step; then each node is freed once it has no children
    // left, so no destructor has a subtree to walk (and taking single children out
    // would walk theirs, which grows with the depth).
    const QList<QTreeWidgetItem *> roots = tree->invisibleRootItem()->takeChildren();
    std::vector<QTreeWidgetItem *> stack(roots.begin(), roots.end());
    while (!stack.empty()) {
        QTreeWidgetItem *item = stack.back();
        if (item->childCount() > 0) {
            stack.push_back(item->child(item->childCount() - 1));
        } else {
            stack.pop_back();
            delete item;
        }
    }
}

bool TMainForm::LoadTreeViewFromStream(QTreeWidget *tree, const std::string &fileName, std::string *error)
{
    std::vector<TTreeRecord> records;
    if (!ReadTreeFile(fileName, records, error))
        return false;
    tree->setUpdatesEnabled(false);
    ui->ComboBox2->addItem(L(53));
    ClearTreeView(tree);
    std::vector<int> depths;
    const std::vector<int> parents = TreeParents(records, &depths);
    std::vector<QTreeWidgetItem *> items(records.size(), nullptr);
    for (size_t i = 0; i < records.size(); ++i) {
        const TTreeRecord &r = records[i];
        QTreeWidgetItem *parent = parents[i] < 0 ? nullptr : items[static_cast<size_t>(parents[i])];
        items[i] = AddTreeNode(parent, ToQString(r.text), r.imageIndex, r.selectedIndex, r.kind);
        ui->ComboBox2->addItem(ToQString(r.text));
    }
    tree->setUpdatesEnabled(true);
    ui->ComboBox2->setCurrentIndex(0);
    return true;
}

void TMainForm::LoadTree()
{
    QTreeWidget *tree = ui->TreeView1;
    ui->ComboBox2->clear();
    ClearTreeView(tree);
    bool fromFile = false;
    std::error_code ec;
    if (!TreeFilePath.empty() && std::filesystem::exists(TreeFilePath, ec)) {
        std::string error;
        fromFile = LoadTreeViewFromStream(tree, TreeFilePath, &error);
        if (!fromFile) {
            // A damaged tree file is put aside once (not deleted, the user may
            // want it) and the tree comes from the disc table instead.
            Prompt::Current().Show(L(105), QString(), PromptButtons::Ok, PromptIcon::Warning);
            // A catalogue open read-only keeps every file as it is.
            if (!ReadOnlyCatalog) {
                std::filesystem::rename(TreeFilePath, TreeFilePath + ".bad", ec);
                if (ec)
                    std::filesystem::remove(TreeFilePath, ec);
            }
            ui->ComboBox2->clear();
            ClearTreeView(tree);
        }
    }
    const std::vector<std::string> discs = DiscNames();
    Browse.DiscSizeText = FirstDiscSize();
    if (!fromFile) {
        ui->ComboBox2->addItem(L(53));
        tree->setUpdatesEnabled(false);
        for (const std::string &name : discs) {
            ui->ComboBox2->addItem(ToQString(name));
            AddTreeNode(nullptr, ToQString(name), 0, 1, NodeKindDisc);
        }
        if (Settings[12] == 1)
            SortTreeByName(tree);
        tree->setUpdatesEnabled(true);
    }
    ui->ComboBox2->setCurrentIndex(0);
}

bool TMainForm::SaveTree(std::string *error)
{
    if (ReadOnlyCatalog) {
        if (error)
            *error = "The archive " + CatalogName + " is open read-only; its tree is not saved.";
        return false;
    }
    return WriteTreeFile(TreeFilePath, TreeRecords(ui->TreeView1), error);
}

void TMainForm::LoadSubTree()
{
    QTreeWidgetItem *selected = ui->TreeView1->currentItem();
    if (!selected)
        return;
    std::vector<std::string> names;
    for (const TFileRow &row : ui->LinksListView->Model()->Rows())
        if (row.IsFolder())
            names.push_back(row.Name);
    AddTreeLevel(selected, names);
    ui->TreeView1->setFocus();
}

void TMainForm::AddTreeLevel(QTreeWidgetItem *selected, const std::vector<std::string> &names)
{
    ui->TreeView1->setUpdatesEnabled(false);
    for (const std::string &name : names) {
        QTreeWidgetItem *child = AddTreeNode(selected, ToQString(name), 0, 1, NodeKindNone);
        ui->TreeView1->scrollToItem(child);
    }
    {
        // Expanded here, not by the user: nothing more to read.
        const bool running = TreeClickRunning;
        TreeClickRunning = true;
        selected->setExpanded(true);
        TreeClickRunning = running;
    }
    if (selected->childCount() == 0) // no sub-folders: no arrow either
        selected->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    selected->setData(0, ImageRole, 0);
    selected->setData(0, SelectedImageRole, 1);
    ui->TreeView1->setUpdatesEnabled(true);
}

void TMainForm::SelectTreeNodeByPath(const std::string &path)
{
    const QString wanted = ToQString(path);
    for (QTreeWidgetItemIterator it(ui->TreeView1); *it; ++it) {
        // From the disc's node on: the groups above it are no part of the
        // path, whatever their names hold.
        const QTreeWidgetItem *disc = DiscNodeOf(*it);
        if (!disc)
            continue;
        QString nodePath;
        for (const QTreeWidgetItem *n = *it; n; n = n == disc ? nullptr : n->parent())
            nodePath = nodePath.isEmpty() ? n->text(0) : n->text(0) + QLatin1Char('\\') + nodePath;
        if (nodePath.compare(wanted, Qt::CaseInsensitive) == 0) {
            ui->TreeView1->setCurrentItem(*it);
            return;
        }
    }
}

void TMainForm::CollapseAllNodes()
{
    ui->TreeView1->collapseAll();
}
