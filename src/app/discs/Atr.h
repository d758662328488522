#pragma once
// The file properties dialog: the values of the selected row of the file list
// or of the search-result list. Read-only.
#include <QDialog>

#include <cstdint>
#include <string>

class TMainForm;
struct TFileRow;
struct TSearchRow;
namespace Ui {
class TAtrForm;
}

// The size line of the dialog: "3 mb ( 3145728 bytes )", "2.5 kb ( 2560 bytes )"
// or "12 bytes " with `bytesWord` for "bytes"; sizes are rounded to two
// decimals (halves to even) written with `decimalPoint`.
std::string AtrSizeText(int64_t bytes, char decimalPoint, const std::string &bytesWord);

class TAtrForm : public QDialog {
    Q_OBJECT
public:
    explicit TAtrForm(TMainForm *main, QWidget *parent = nullptr);
    ~TAtrForm() override;

    Ui::TAtrForm *ui;

    // Fills the dialog for `activeControl` (the window's active control).
    // False, after the "No file chosen" message, when that is neither the
    // file list nor the search list: the dialog then has nothing to show.
    bool Fill(QWidget *activeControl);

private:
    void SetCaptions();
    void ShowFileRow(const TFileRow &row);
    void ShowSearchRow(const TSearchRow &row);
    void ShowValues(const QString &name, const QString &typeName, const QString &fullPath, const QString &number,
                    const QString &created, const QString &changed, const QString &disc, const QString &catalog,
                    int attributes);
    TMainForm *main_;
};
