#pragma once
// The organise window: every catalogue of the data folder as a column with a
// tree of its discs; dragging a disc from one column onto another moves it
// there, files, note, picture and tree node included, at the moment of the drop.
#include <QDialog>
#include <QTreeWidget>

#include <string>
#include <vector>

class QLabel;
class TMainForm;
class TMoveForm;
namespace Ui {
class TMoveForm;
}

// A column's disc tree: accepts discs dragged from another column's tree.
class TMoveTreeView : public QTreeWidget {
    Q_OBJECT
public:
    TMoveTreeView(TMoveForm *form, QWidget *parent);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    TMoveForm *form_;
};

class TMoveForm : public QDialog {
    Q_OBJECT
public:
    explicit TMoveForm(TMainForm *main);
    ~TMoveForm() override;

    Ui::TMoveForm *ui;

    struct TColumn {
        std::string discTable;  // path of the catalogue's disc table
        std::string name;       // catalogue name
        std::string treeFile;   // its tree file (may not exist)
        QLabel *label = nullptr;
        QTreeWidget *tree = nullptr;
    };
    const std::vector<TColumn> &Columns() const { return columns_; }
    // The column of catalogue `name`, or -1.
    int ColumnOf(const std::string &name) const;

    // Drag over a column: accepted when the dragged object is a column's tree.
    static bool TreeDragOver(QObject *source);
    // A drop on `target` of the disc selected in `source`.
    void TreeDragDrop(QTreeWidget *target, QTreeWidget *source);
    void OkButtonClick();
    // True once a move changed the catalogue open in the main window.
    bool MainCatalogChanged() const { return mainChanged_; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void done(int result) override;

private:
    void FormShow();
    void FillTree(size_t column);
    void FormResize();
    TMainForm *main_;
    std::vector<TColumn> columns_;
    bool mainChanged_ = false;
    bool reloaded_ = false;
};
