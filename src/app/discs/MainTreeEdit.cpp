// Tree editing: a mode of the main window in which the user arranges the disc
// tree into groups of his own, reorders and nests them by dragging or with the
// up/down control, and then writes the arrangement to the tree file or throws
// it away.
#include "app/Main.h"

#include <QAction>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <QTreeWidget>

#include "app/LangUnit.h"
#include "app/Texts3.h"
#include "app/browse/FileListView.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "ui_MainForm.h"
#include "widgets/StatusBarCont.h"

namespace {

bool HasBracket(const QTreeWidgetItem *node)
{
    const QString text = node->text(0);
    return text.contains(QLatin1Char('[')) || text.contains(QLatin1Char(']'));
}

// True when `node` is `ancestor` or lies below it.
bool IsWithin(const QTreeWidgetItem *node, const QTreeWidgetItem *ancestor)
{
    for (const QTreeWidgetItem *n = node; n; n = n->parent())
        if (n == ancestor)
            return true;
    return false;
}

// Takes a node out of its place (its children stay with it).
void TakeNode(QTreeWidget *tree, QTreeWidgetItem *node)
{
    if (QTreeWidgetItem *parent = node->parent())
        parent->removeChild(node);
    else
        tree->takeTopLevelItem(tree->indexOfTopLevelItem(node));
}

// Clicks on a label, hover underline, and in the editing mode the tree's
// keys and drops.
class TTreeEditFilter : public QObject {
public:
    explicit TTreeEditFilter(TMainForm *form) : QObject(form), form_(form) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Only these events concern the filter; the form is not touched for
        // any other (the window may be half destroyed when they arrive).
        switch (event->type()) {
        case QEvent::Enter:
        case QEvent::Leave:
        case QEvent::MouseButtonRelease:
        case QEvent::KeyRelease:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            break;
        default:
            return false;
        }
        if (auto *label = qobject_cast<QLabel *>(watched)) {
            switch (event->type()) {
            case QEvent::Enter:
            case QEvent::Leave: {
                QFont f = label->font();
                f.setUnderline(event->type() == QEvent::Enter);
                label->setFont(f);
                break;
            }
            case QEvent::MouseButtonRelease: {
                // Label11 (help) has its own click handler.
                Ui::TMainForm *ui = form_->ui;
                void (TMainForm::*action)() = label == ui->Label12   ? &TMainForm::Button4Click
                                              : label == ui->Label13 ? &TMainForm::Label13Click
                                              : label == ui->Label14 ? &TMainForm::Button5Click
                                                                     : nullptr;
                if (!action)
                    return false;
                TMainForm *form = form_;
                form->RunGuardedAction([form, action] { (form->*action)(); });
                return true;
            }
            default:
                break;
            }
            return false;
        }
        if (event->type() == QEvent::Enter || event->type() == QEvent::Leave ||
            event->type() == QEvent::MouseButtonRelease || !form_->TreeEditing)
            return false;
        Ui::TMainForm *ui = form_->ui;
        if (watched == ui->TreeView1 && event->type() == QEvent::KeyRelease) {
            const auto *key = static_cast<QKeyEvent *>(event);
            if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
                form_->EditTreeClick();
                return true; // the browse handler must not open the disc
            }
            return false;
        }
        if (watched != ui->TreeView1->viewport())
            return false;
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto *drag = static_cast<QDragMoveEvent *>(event);
            QTreeWidget *tree = ui->TreeView1;
            const QPoint pos = drag->position().toPoint();
            // Near the edges the tree scrolls one node at a time.
            QScrollBar *bar = tree->verticalScrollBar();
            if (pos.y() < 12)
                bar->setValue(bar->value() - bar->singleStep());
            else if (pos.y() > tree->viewport()->height() - 12)
                bar->setValue(bar->value() + bar->singleStep());
            if (drag->source() != tree) {
                drag->ignore();
            } else if (event->type() == QEvent::DragEnter ||
                       form_->TreeDropAllowed(tree->currentItem(), tree->itemAt(pos))) {
                // The drag is taken on entering (it starts over the dragged
                // node itself); each position then says whether it may drop.
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto *drop = static_cast<QDropEvent *>(event);
            QTreeWidget *tree = ui->TreeView1;
            // Reported as a copy: the view must not remove the dragged rows
            // itself, the move below has put them in their new place.
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            if (drop->source() == tree) {
                QTreeWidgetItem *target = tree->itemAt(drop->position().toPoint());
                TMainForm *form = form_;
                form->RunGuardedAction([form, target] { form->TreeView1DragDrop(target); });
            }
            return true;
        }
        default:
            return false;
        }
    }

private:
    TMainForm *form_;
};

} // namespace

void TMainForm::RunGuardedAction(const std::function<void()> &action)
{
    RunGuarded(action);
}

void TMainForm::ConnectTreeEditHandlers()
{
    auto *filter = new TTreeEditFilter(this);
    ui->TreeView1->installEventFilter(filter);
    ui->TreeView1->viewport()->installEventFilter(filter);
    for (QLabel *label : {ui->Label11, ui->Label12, ui->Label13, ui->Label14}) {
        label->setCursor(Qt::PointingHandCursor);
        label->installEventFilter(filter);
    }
    connect(ui->EditTreeButton, &QToolButton::clicked, this, Guarded(&TMainForm::EditTreeButtonClick));
    connect(ui->EditTreeMenu, &QAction::triggered, this, Guarded(&TMainForm::EditTreeMenuClick));
    connect(ui->Button3, &QAbstractButton::clicked, this, Guarded(&TMainForm::Button3Click));
    connect(ui->SpeedButton6, &QToolButton::clicked, this, Guarded(&TMainForm::Button4Click));
    connect(ui->SpeedButton7, &QToolButton::clicked, this, Guarded(&TMainForm::Label13Click));
    connect(ui->SpeedButton8, &QToolButton::clicked, this, Guarded(&TMainForm::Button5Click));
    connect(ui->ToolButton1, &QToolButton::clicked, this, Guarded(&TMainForm::ToolButton1Click));
    // The up/down control: each arrow press moves the node once.
    ui->UpDown1->setRange(-1, 1);
    ui->UpDown1->setValue(0);
    connect(ui->UpDown1, &QSpinBox::valueChanged, this, [this](int value) {
        if (value == 0)
            return;
        {
            const QSignalBlocker block(ui->UpDown1);
            ui->UpDown1->setValue(0);
        }
        RunGuarded([this, value] { UpDown1Click(value > 0); });
    });
    ui->TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

std::vector<QObject *> TMainForm::TreeEditLockedControls() const
{
    std::vector<QObject *> out = {ui->OpenButton,   ui->UpButton,         ui->FindButton,    ui->FindAllButton,
                                  ui->CopyButton,   ui->PropertiesButton, ui->ScanButton,    ui->UpdateToolButton,
                                  ui->RunButton,    ui->OrganizeButton,   ui->PrintButton,   ui->DeleteButton,
                                  ui->SetupButton,  ui->LinksListView,    ui->BackButton,    ui->ForwardButton};
    for (QMenu *menu : {ui->FileMenu, ui->GoMenu, ui->ToolsMenu, ui->SetupMenu})
        for (QAction *a : menu->actions())
            if (!a->isSeparator() && a != ui->EditTreeMenu)
                out.push_back(a);
    // The pop-up commands that would rebuild the tree under the editing.
    for (QAction *a : {ui->RenameCDPopup, ui->OpenPopup, ui->CopyFilePopupMenu})
        out.push_back(a);
    return out;
}

namespace {

void SetEnabledOf(QObject *o, bool enabled)
{
    if (auto *w = qobject_cast<QWidget *>(o))
        w->setEnabled(enabled);
    else if (auto *a = qobject_cast<QAction *>(o))
        a->setEnabled(enabled);
}

bool EnabledOf(QObject *o)
{
    if (auto *w = qobject_cast<QWidget *>(o))
        return w->isEnabled();
    if (auto *a = qobject_cast<QAction *>(o))
        return a->isEnabled();
    return false;
}

} // namespace

void TMainForm::EditTreeMenuClick()
{
    ui->EditTreeButton->setChecked(ui->EditTreeMenu->isChecked());
    EditTreeButtonClick();
}

void TMainForm::EditTreeButtonClick()
{
    if (ui->EditTreeButton->isChecked()) {
        if (!TreeEditing && !CatalogWritable()) {
            ui->EditTreeButton->setChecked(false);
            return;
        }
        if (!TreeEditing)
            EnterTreeEditMode();
    } else if (TreeEditing) {
        LeaveTreeEditMode();
    }
}

void TMainForm::EnterTreeEditMode()
{
    // An open search panel closes through its own button first.
    for (QToolButton *b : {ui->FindButton, ui->FindAllButton})
        if (b->isChecked())
            b->click();
    treeEditSaved_.clear();
    for (QObject *o : TreeEditLockedControls()) {
        treeEditSaved_.emplace_back(o, EnabledOf(o));
        SetEnabledOf(o, false);
    }
    TreeEditing = true;
    ui->EditTreePanel->show();
    ui->EditTreeMenu->setChecked(true);
    ui->EditTreeButton->setChecked(true);

    QTreeWidget *tree = ui->TreeView1;
    disconnect(tree, &QTreeWidget::itemClicked, this, nullptr);
    connect(tree, &QTreeWidget::itemClicked, this, Guarded(&TMainForm::EditTreeClick));
    tree->setDragEnabled(true);
    tree->setAcceptDrops(true);
    tree->setDragDropMode(QAbstractItemView::DragDrop);
    tree->setDefaultDropAction(Qt::CopyAction);
    tree->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);

    LoadTree();
    if (tree->topLevelItemCount() > 0)
        tree->setCurrentItem(tree->topLevelItem(0));
    tree->setFocus();
    EditTreeClick();
}

void TMainForm::LeaveTreeEditMode()
{
    QTreeWidget *tree = ui->TreeView1;
    if (KeepTreeChanges) {
        std::string error;
        if (!SaveTree(&error)) {
            // The arrangement stays on screen, in the mode, for another try or Cancel.
            ui->EditTreeButton->setChecked(true);
            ui->EditTreeMenu->setChecked(true);
            KeepTreeChanges = true;
            ShowError(error.empty() ? "Cannot write the tree file " + TreeFilePath : error);
            return;
        }
    } else {
        LoadTree();
    }
    TreeEditing = false;
    ui->EditTreePanel->hide();
    ui->EditTreeMenu->setChecked(false);
    ui->EditTreeButton->setChecked(false);
    for (const auto &[o, enabled] : treeEditSaved_)
        SetEnabledOf(o, enabled);
    treeEditSaved_.clear();
    ui->LinksListView->setEnabled(true);

    disconnect(tree, &QTreeWidget::itemClicked, this, nullptr);
    connect(tree, &QTreeWidget::itemClicked, this, Guarded(&TMainForm::TreeView1Click));
    tree->setDragEnabled(false);
    tree->setAcceptDrops(false);
    tree->setDragDropMode(QAbstractItemView::NoDragDrop);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    KeepTreeChanges = true;
    // The disc shown in the list is selected again in the new arrangement.
    if (!Browse.CurrentDisc.empty())
        SelectTreeNodeByText(Browse.CurrentDisc);
}

void TMainForm::EditTreeClick()
{
    QTreeWidgetItem *node = ui->TreeView1->currentItem();
    if (!node)
        return;
    // Labels with brackets are disc names and stay fixed; so do discs named
    // by an audio CD's title, which their files carry.
    const bool editable = !HasBracket(node) && TreeNodeKind(node) != NodeKindDisc;
    Qt::ItemFlags flags = node->flags();
    node->setFlags(editable ? flags | Qt::ItemIsEditable : flags & ~Qt::ItemIsEditable);
}

void TMainForm::Button3Click()
{
    const QString text = ui->Edit2->text();
    QTreeWidgetItem *node = ui->TreeView1->currentItem();
    const auto *child = ui->RadioGroup1->findChild<QRadioButton *>(QStringLiteral("RadioGroup1Item1"));
    const bool addChild = child && child->isChecked();
    if (text.isEmpty())
        return;
    QTreeWidget *tree = ui->TreeView1;
    if (addChild) {
        if (!node || TreeNodeKind(node) == NodeKindDisc)
            return;
        tree->setUpdatesEnabled(false);
        QTreeWidgetItem *added = AddTreeNode(node, text, 0, 1, NodeKindGroup);
        tree->setUpdatesEnabled(true);
        node->setExpanded(true);
        tree->setCurrentItem(added);
        tree->scrollToItem(added);
    } else {
        QTreeWidgetItem *added = AddTreeNode(nullptr, text, 0, 1, NodeKindGroup);
        tree->setCurrentItem(added);
        tree->scrollToItem(added);
    }
    tree->setFocus();
}

void TMainForm::Button4Click()
{
    QTreeWidgetItem *node = ui->TreeView1->currentItem();
    if (!node)
        return;
    // Only an empty group goes; a disc node never leaves the tree here, even
    // one whose name has no brackets.
    if (!HasBracket(node) && node->childCount() == 0 && TreeNodeKind(node) != NodeKindDisc) {
        ui->TreeView1->setUpdatesEnabled(false);
        delete node;
        ui->TreeView1->setUpdatesEnabled(true);
        return;
    }
    Prompt::Current().Show(L(133), L(34), PromptButtons::Ok, PromptIcon::Question);
}

void TMainForm::Button5Click()
{
    if (!TreeEditing)
        return;
    KeepTreeChanges = true;
    ui->EditTreeButton->setChecked(false);
    EditTreeButtonClick();
}

void TMainForm::Label13Click()
{
    if (!TreeEditing)
        return;
    KeepTreeChanges = false;
    ui->EditTreeButton->setChecked(false);
    EditTreeButtonClick();
}

void TMainForm::UpDown1Click(bool up)
{
    QTreeWidget *tree = ui->TreeView1;
    QTreeWidgetItem *node = tree->currentItem();
    if (!node)
        return;
    QTreeWidgetItem *parent = node->parent();
    const int count = parent ? parent->childCount() : tree->topLevelItemCount();
    const int index = parent ? parent->indexOfChild(node) : tree->indexOfTopLevelItem(node);
    const int to = up ? index - 1 : index + 1;
    if (to < 0 || to >= count)
        return;
    const bool expanded = node->isExpanded();
    TakeNode(tree, node);
    if (parent)
        parent->insertChild(to, node);
    else
        tree->insertTopLevelItem(to, node);
    node->setExpanded(expanded);
    tree->setCurrentItem(node);
}

bool TMainForm::TreeDropAllowed(QTreeWidgetItem *dragged, QTreeWidgetItem *target) const
{
    if (!dragged || !target || target == dragged)
        return false;
    // Never into itself or below itself.
    if (IsWithin(target, dragged))
        return false;
    if (!dragged->parent()) {
        // A top-level node becomes the target's last child: only groups take children.
        const int kind = TreeNodeKind(target);
        return kind == NodeKindGroup || kind == NodeKindThird;
    }
    // A nested node goes before the target, as its sibling.
    const QTreeWidgetItem *parent = target->parent();
    return !parent || TreeNodeKind(parent) == NodeKindGroup || TreeNodeKind(parent) == NodeKindThird;
}

void TMainForm::TreeView1DragDrop(QTreeWidgetItem *target)
{
    QTreeWidget *tree = ui->TreeView1;
    QTreeWidgetItem *dragged = tree->currentItem();
    if (!TreeDropAllowed(dragged, target))
        return;
    const bool topLevel = dragged->parent() == nullptr;
    TakeNode(tree, dragged);
    if (topLevel) {
        target->addChild(dragged);
        target->setExpanded(true);
    } else if (QTreeWidgetItem *parent = target->parent()) {
        parent->insertChild(parent->indexOfChild(target), dragged);
    } else {
        tree->insertTopLevelItem(tree->indexOfTopLevelItem(target), dragged);
    }
    tree->setCurrentItem(dragged);
}

void TMainForm::ToolButton1Click()
{
    if (!WorkTable || !WorkTable->Active() || WorkTable->IsEmpty())
        return;
    const std::string number = WorkTable->FieldByName("Number").AsString();
    if (!number.empty())
        ui->StatusBar1->SetPanelText(1, ToQString(" [" + number + "]"));
}
