#include "app/discs/MoveForm.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>

#include <filesystem>

#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/Texts3.h"
#include "app/browse/DiscTreeOrder.h"
#include "app/catalog/CatalogTables.h"
#include "app/discs/DiscCommands.h"
#include "platform/Help.h"
#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "storage/FlatTbl.h"
#include "ui_MainForm.h"
#include "ui_MoveForm.h"

namespace {

constexpr int ColumnWidth = 121;

} // namespace

TMoveTreeView::TMoveTreeView(TMoveForm *form, QWidget *parent) : QTreeWidget(parent), form_(form)
{
    setHeaderHidden(true);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void TMoveTreeView::dragEnterEvent(QDragEnterEvent *event)
{
    if (TMoveForm::TreeDragOver(event->source()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TMoveTreeView::dragMoveEvent(QDragMoveEvent *event)
{
    if (TMoveForm::TreeDragOver(event->source())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void TMoveTreeView::dropEvent(QDropEvent *event)
{
    auto *source = qobject_cast<QTreeWidget *>(event->source());
    if (!TMoveForm::TreeDragOver(source)) {
        event->ignore();
        return;
    }
    // Copy, not move: the source tree is rebuilt from its table, the view
    // itself must not take the dragged row away.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    form_->TreeDragDrop(this, source);
}

TMoveForm::TMoveForm(TMainForm *main) : QDialog(main), ui(new Ui::TMoveForm), main_(main)
{
    ui->setupUi(this);
    move(main->x() + 100, main->y() + 100);
    connect(ui->OkButton, &QPushButton::clicked, this, &TMoveForm::OkButtonClick);
    connect(ui->CancelButton, &QPushButton::clicked, this, &TMoveForm::reject);
    connect(ui->HelpButton, &QPushButton::clicked, this, [this] {
        HelpService::ShowContext(ToQString(main_->HelpFile), 22, langunit::CurrentLanguage());
    });
    FormShow();
}

TMoveForm::~TMoveForm()
{
    delete ui;
}

bool TMoveForm::TreeDragOver(QObject *source)
{
    return qobject_cast<TMoveTreeView *>(source) != nullptr;
}

int TMoveForm::ColumnOf(const std::string &name) const
{
    for (size_t i = 0; i < columns_.size(); ++i)
        if (columns_[i].name == name)
            return static_cast<int>(i);
    return -1;
}

void TMoveForm::FormShow()
{
    setWindowTitle(main_->ui->OrganizeMenu->text().remove(QLatin1Char('&')));
    ui->CancelButton->setText(L(17));
    ui->HelpButton->setText(L(16));
    main_->PaintDialog(this, {});

    // Every disc table of the data folder, by name.
    const QDir dir(ToQString(main_->DataFolder + "/CdNames"));
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    QWidget *box = ui->ScrollBox1Contents;
    int x = 0;
    for (const QFileInfo &e : entries) {
        const std::string file = FromQString(e.fileName());
        if (file.size() < 3 || file.compare(file.size() - 2, 2, ".d") != 0)
            continue;
        TColumn c;
        c.discTable = FromQString(e.absoluteFilePath());
        c.name = CatalogNameFromFile(file);
        c.treeFile = c.discTable.substr(0, c.discTable.size() - 1) + "dat";
        const size_t i = columns_.size();
        c.label = new QLabel(ToQString(" " + c.name), box);
        c.label->setObjectName(QStringLiteral("MoveLabel%1").arg(i));
        c.label->setFrameShape(QFrame::Box);
        c.label->setGeometry(x, 0, ColumnWidth, 17);
        c.label->setToolTip(ToQString(c.name));
        auto *tree = new TMoveTreeView(this, box);
        tree->setObjectName(QStringLiteral("MoveTreeView%1").arg(i));
        tree->setProperty("tag", static_cast<int>(i));
        tree->setGeometry(x, 19, ColumnWidth, 250);
        c.tree = tree;
        x += ColumnWidth;
        columns_.push_back(std::move(c));
        FillTree(i);
    }
    box->resize(std::max(x, 1), 19 + 250);
}

void TMoveForm::FillTree(size_t column)
{
    TColumn &c = columns_[column];
    c.tree->clear();
    std::vector<std::string> names;
    try {
        TFlatTable discs;
        discs.SetTableName(c.discTable);
        discs.Open();
        names = DiscTableNames(discs);
    } catch (const std::exception &e) {
        // A column whose table cannot be read stays empty; its label says why.
        c.label->setToolTip(ToQString(e.what()));
        return;
    }
    for (const std::string &n : names) {
        auto *item = new QTreeWidgetItem(c.tree);
        item->setText(0, ToQString(n));
        item->setData(0, TreeKindRole, NodeKindDisc);
        if (!main_->ImageList1.empty()) {
            item->setIcon(0, main_->ImageList1[0]);
        }
    }
    if (main_->Settings[12] == 1)
        SortTreeByName(c.tree);
}

void TMoveForm::TreeDragDrop(QTreeWidget *target, QTreeWidget *source)
{
    if (!target || !source)
        return;
    const int ti = target->property("tag").toInt();
    const int si = source->property("tag").toInt();
    if (ti < 0 || si < 0 || static_cast<size_t>(ti) >= columns_.size() || static_cast<size_t>(si) >= columns_.size())
        return;
    QTreeWidgetItem *moved = source->currentItem();
    if (!moved || ti == si)
        return;
    const std::string name = FromQString(moved->text(0));
    const TColumn &from = columns_[static_cast<size_t>(si)];
    const TColumn &to = columns_[static_cast<size_t>(ti)];
    TMoveOutcome outcome;
    // A catalogue known by its disc table alone gets an empty file table when
    // it is opened; a drop that moves nothing leaves no such file behind.
    std::vector<std::string> made;
    bool committed = false;
    try {
        HourglassCursor busy;
        const TOpenTableOptions fileOptions = FileTableOpenOptions(main_->Settings[13] == 1);
        const TOpenTableOptions discOptions = DiscTableOpenOptions(main_->Settings[13] == 1);
        const std::string &data = main_->DataFolder;
        auto open = [&](const std::string &file, const std::vector<TFieldLayout> &layout,
                        const TOpenTableOptions &options) {
            TOpenTableResult opened = OpenCatalogTable(file, layout, options);
            if (opened.created)
                made.push_back(file);
            return opened;
        };
        // The tables that are there are read first: one that does not open
        // stops the drop before a missing one is made.
        TOpenTableResult targetDiscs = open(to.discTable, DiscTableLayout(), discOptions);
        TOpenTableResult sourceDiscs = open(from.discTable, DiscTableLayout(), discOptions);
        TOpenTableResult sourceFiles = open(main_->FileTablePath(data, from.name), FileTableLayout(), fileOptions);
        TOpenTableResult targetFiles = open(main_->FileTablePath(data, to.name), FileTableLayout(), fileOptions);
        outcome = MoveDiscBetween(TDiscCatalog{sourceFiles.table.get(), sourceDiscs.table.get(), from.treeFile},
                                  TDiscCatalog{targetFiles.table.get(), targetDiscs.table.get(), to.treeFile}, name);
    } catch (const ECommitUnfinished &e) {
        // The move is made and completes at the next open: the main window must
        // not keep (and later save) the catalogue as it was before it.
        committed = true;
        Prompt::Current().Show(ToQString(e.what()), L(67), PromptButtons::Ok, PromptIcon::Error);
        mainChanged_ = true;
    } catch (const std::exception &e) {
        Prompt::Current().Show(ToQString(e.what()), L(67), PromptButtons::Ok, PromptIcon::Error);
    }
    if (!outcome.moved && !committed)
        for (const std::string &file : made) {
            std::error_code ec;
            std::filesystem::remove(file, ec);
        }
    if (outcome.missing)
        Prompt::Current().Show(ToQString(NotFoundText(name)), L(67), PromptButtons::Ok, PromptIcon::Warning);
    if (!outcome.moved)
        return;
    const std::string open = main_->CatalogFolder == main_->DataFolder ? main_->CatalogName : std::string();
    if (!open.empty() && (from.name == open || to.name == open))
        mainChanged_ = true;
    FillTree(static_cast<size_t>(ti));
    FillTree(static_cast<size_t>(si));
}

void TMoveForm::OkButtonClick()
{
    accept();
}

void TMoveForm::done(int result)
{
    // OK always shows the catalogue anew; Cancel too when a move changed it,
    // so the main window never holds (and later saves) the state before the move.
    if (!reloaded_ && (result == QDialog::Accepted || mainChanged_)) {
        reloaded_ = true;
        std::string error;
        if (!main_->ReloadCatalog(&error))
            Prompt::Current().Show(ToQString(error), L(67), PromptButtons::Ok, PromptIcon::Error);
    }
    QDialog::done(result);
}

void TMoveForm::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    FormResize();
}

void TMoveForm::FormResize()
{
    const int w = width();
    const int panelHeight = ui->Panel1->height();
    ui->Panel1->setGeometry(4, height() - panelHeight - 4, std::max(0, w - 9), panelHeight);
    ui->ScrollBox1->setGeometry(0, 0, w, std::max(0, height() - panelHeight - 8));
    // The buttons' lefts are the window's, the panel starts 4 to the right.
    ui->HelpButton->move(w - 268 - 4, ui->HelpButton->y());
    ui->CancelButton->move(ui->HelpButton->x() + 83, ui->CancelButton->y());
    ui->OkButton->move(ui->CancelButton->x() + 83, ui->OkButton->y());
}
