#pragma once
// The rows of the file list: one row per File record of the current folder,
// kept in display order, and the one model the list's four view styles share.
//
// A folder may hold a hundred thousand entries while a view shows a few dozen,
// so the model reads of each record only its type and name, sorts an index on
// a folded name key, and formats a row (texts, type name, icon) only when it
// is asked for; type names and icons are looked up once per extension.
#include <QHash>
#include <QIcon>
#include <QString>

#include <compare>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/browse/RowListModel.h"
#include "platform/ShellInfo.h"

class TDataSet;
struct TFlatField;
struct TFlatStoredImage;
struct TFlatStoredLayout;

// A File record as the list shows it.
struct TFileRow {
    std::string Name;
    std::string Path;
    std::string SizeText;   // FormatSize of Size
    QString TypeName;       // the shell's type name
    std::string CreateDate;
    std::string LastChange;
    std::string FullName;   // Path + Name, or Path + LoadName for an audio track
    int Type = 1;           // 0 folder, 1 file
    std::string Namecd;
    int Attrib = 0;
    std::string Number;
    std::string SizeTech;   // Size as stored
    int FType = 0;          // 2 audio track
    std::string LoadName;   // "0" when empty
    int MusicOrder = 0;
    std::string CdIdCode;   // "0" when empty
    std::string Note;
    QIcon Icon;

    bool IsFolder() const { return Type == 0; }
    bool IsTrack() const { return FType == 2; }
};

// Display order of the list: folders before files, each group by name
// ignoring the case of a to z; with `tracks`, files by their load name. A
// strict weak ordering, used with a stable sort.
bool FileRowLess(const TFileRow &a, const TFileRow &b, bool tracks);
void SortFileRows(std::vector<TFileRow> &rows, bool tracks);

class TFileListModel;

// The rows of a file list model in display order, each built when first read.
class TFileRows {
public:
    // A random-access iterator over the rows (each row built when reached).
    class Iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = TFileRow;
        using difference_type = std::ptrdiff_t;
        using pointer = const TFileRow *;
        using reference = const TFileRow &;

        Iterator() = default;
        Iterator(const TFileListModel *model, int index) : model_(model), index_(index) {}
        reference operator*() const;
        pointer operator->() const { return &**this; }
        reference operator[](difference_type n) const { return *(*this + n); }
        Iterator &operator++() { return *this += 1; }
        Iterator operator++(int)
        {
            Iterator old = *this;
            ++*this;
            return old;
        }
        Iterator &operator--() { return *this -= 1; }
        Iterator operator--(int)
        {
            Iterator old = *this;
            --*this;
            return old;
        }
        Iterator &operator+=(difference_type n)
        {
            index_ += static_cast<int>(n);
            return *this;
        }
        Iterator &operator-=(difference_type n) { return *this += -n; }
        friend Iterator operator+(Iterator it, difference_type n) { return it += n; }
        friend Iterator operator+(difference_type n, Iterator it) { return it += n; }
        friend Iterator operator-(Iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const Iterator &a, const Iterator &b) { return a.index_ - b.index_; }
        friend bool operator==(const Iterator &a, const Iterator &b) { return a.index_ == b.index_; }
        friend auto operator<=>(const Iterator &a, const Iterator &b) { return a.index_ <=> b.index_; }

    private:
        const TFileListModel *model_ = nullptr;
        int index_ = 0;
    };

    explicit TFileRows(const TFileListModel *model) : model_(model) {}
    size_t size() const;
    bool empty() const { return size() == 0; }
    const TFileRow &operator[](size_t index) const;
    const TFileRow &front() const { return (*this)[0]; }
    const TFileRow &back() const { return (*this)[size() - 1]; }
    Iterator begin() const { return Iterator(model_, 0); }
    Iterator end() const { return Iterator(model_, static_cast<int>(size())); }

private:
    const TFileListModel *model_;
};

class TFileListModel : public TRowListModelBase {
public:
    // The fifteen columns: the five shown captions, then the record's fields.
    static constexpr int ColumnCount = 15;
    // The columns the report view shows: name, size, type and the two dates.
    static constexpr int ShownColumnCount = 5;

    explicit TFileListModel(QObject *parent = nullptr);
    ~TFileListModel() override;

    // The text of a column of a row, as the report view shows it.
    static QString ColumnText(const TFileRow &row, int column);

    // The rows become the records of `table` from its current record to its
    // end (the table is left at its end), in display order, with icons of
    // `iconSize`. The views are reset once.
    void Fill(TDataSet &table, ShellIconSize iconSize);
    // Rows built elsewhere, already in display order.
    void SetRows(std::vector<TFileRow> rows);
    void Clear();

    int Count() const override { return static_cast<int>(order_.size()); }
    // Null outside 0 .. Count()-1. The row stays where it is until the next
    // Fill, SetRows or Clear.
    const TFileRow *Row(int index) const;
    TFileRows Rows() const { return TFileRows(this); }

protected:
    QString RowCellText(int row, int column) const override;
    QIcon RowIcon(int row) const override;
    QString RowDragText(int row) const override;

private:
    // The text fields of a record, in the order a copied record's texts lie in
    // the arena.
    enum TText { tPath, tName, tNamecd, tNumber, tSize, tCreateDate, tLastChange, tNote, tLoadName, tCdIdCode,
                 tIcon, TextCount };
    // Its numbers besides the type.
    enum TNumber { nFType = TextCount, nAttrib, nMusicOrder, FieldCount };
    // A record in the table's order. One read in place from a table image is
    // kept as a reference to its bytes, the image held by the model, and its
    // values are read when its row is built; any other is copied whole.
    struct TRecord {
        const uint8_t *Stored = nullptr; // its bytes in an image of values_.Images, null when copied
        uint32_t Source = 0;             // stored: its layout in values_.Layouts; copied: its values in values_.Copied
        int32_t Type = 1;
        mutable int32_t Built = -1; // its row in built_, -1 while not built
    };
    // A copied record's numbers, and where its texts lie in the arena (text k
    // from At[k] to At[k + 1]).
    struct TCopied {
        int32_t Numbers[int(FieldCount) - int(TextCount)] = {};
        uint32_t At[TextCount + 1] = {};
    };
    // What the rows are read from besides the records: the copied records' values
    // (texts in `Arena`), and what the stored records are read with: the fields as
    // the table had them at the fill (by TText, then TNumber), the layouts of their
    // images, and the images themselves, held so the rows read right whatever
    // becomes of the table.
    struct TValues {
        std::string Arena;
        std::vector<TCopied> Copied;
        std::vector<TFlatField> Fields;
        std::vector<const TFlatStoredLayout *> Layouts;
        std::vector<std::shared_ptr<const TFlatStoredImage>> Images;

        // Text k of a record (the program's text; the bytes of the icon), decoded
        // into `scratch` where it has to be.
        std::string_view Text(const TRecord &r, int k, std::string &scratch) const;
        int32_t Number(const TRecord &r, int k) const;
    };
    struct TShellAnswer {
        QIcon Icon;
        QString TypeName;
    };

    std::string_view Text(const TRecord &r, int k, std::string &scratch) const
    {
        return values_.Text(r, k, scratch);
    }
    int32_t Number(const TRecord &r, int k) const { return values_.Number(r, k); }
    const TRecord &RecordAt(int row) const;
    TFileRow BuildRow(const TRecord &r) const;
    // The icon and type name of a record whose full name is `fullName`.
    TShellAnswer Look(const TRecord &r, std::string_view fullName) const;
    const TShellAnswer &ShellAnswer(const std::string &key, uint32_t attributes) const;
    void Reset();

    std::vector<TRecord> records_;      // in the table's order
    TValues values_;
    std::vector<uint32_t> order_;       // display row -> index into records_
    mutable std::deque<TFileRow> built_; // a deque: rows handed out keep their address
    mutable QHash<QString, TShellAnswer> shell_;
    ShellIconSize iconSize_ = ShellIconSize::Small;
};
