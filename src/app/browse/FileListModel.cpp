// The file list's rows and model.
#include "app/browse/FileListModel.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

#include "app/browse/BrowseText.h"
#include "platform/ExeIcon.h"
#include "platform/QtText.h"
#include "storage/DataSet.h"
#include "storage/FlatTbl.h"
#include "util/BaseFileUtils.h"
#include "util/TextCodec.h"

bool FileRowLess(const TFileRow &a, const TFileRow &b, bool tracks)
{
    if (a.IsFolder() != b.IsFolder())
        return a.IsFolder();
    if (tracks && !a.IsFolder())
        return CompareNamesFoldAZ(a.LoadName, b.LoadName) < 0;
    return CompareNamesFoldAZ(a.Name, b.Name) < 0;
}

void SortFileRows(std::vector<TFileRow> &rows, bool tracks)
{
    std::stable_sort(rows.begin(), rows.end(),
                     [tracks](const TFileRow &a, const TFileRow &b) { return FileRowLess(a, b, tracks); });
}

const TFileRow &TFileRows::Iterator::operator*() const { return *model_->Row(index_); }

size_t TFileRows::size() const { return static_cast<size_t>(model_->Count()); }

const TFileRow &TFileRows::operator[](size_t index) const
{
    const TFileRow *row = index < size() ? model_->Row(static_cast<int>(index)) : nullptr;
    if (!row)
        throw std::out_of_range("file list row");
    return *row;
}

namespace {

// An integer as the list reads it: a value outside 32 bits gives 0.
int32_t Int32Of(int64_t v) { return v < INT32_MIN || v > INT32_MAX ? 0 : static_cast<int32_t>(v); }

// Reads one field of the records a table walks through. Where the table is a
// flat table and the field a plain stored one, the value is taken from the
// record under the cursor as the field itself would give it, without the
// variant and string copies of the field's accessors; otherwise through the
// field.
class TFieldReader {
public:
    TFieldReader(TDataSet &table, const char *name) : field_(&table.FieldByName(name))
    {
        auto *flat = dynamic_cast<TFlatDataset *>(&table);
        const TFlatCursor *store = flat ? flat->Cursor() : nullptr;
        if (!store || field_->Calculated())
            return;
        // The field's place in the store, found as the table finds it.
        int index = -1;
        const int no = field_->FieldNo();
        if (no > 0 && size_t(no) <= store->Fields.size() &&
            FlatCompareText(store->Fields[size_t(no - 1)].Name, field_->FieldName(), true) == 0)
            index = no - 1;
        else
            index = store->FindFieldIndex(field_->FieldName());
        if (index < 0)
            return;
        const TFlatField &f = store->Fields[size_t(index)];
        if (f.TypeCode == fftString || f.TypeCode == fftSmallStr || IsFlatBlobType(f.TypeCode) || f.TypeCode == fftSmallInt ||
            f.TypeCode == fftInteger || f.TypeCode == fftAutoInc)
            stored_ = &f;
    }

    // The field's text (the string types, as AsString gives it: the program's text
    // whatever the stored encoding) or bytes (BLOB types) for the record `rec` under
    // the cursor (null: read through the field); `scratch` holds it when it had to
    // be copied or decoded.
    std::string_view Text(const TFlatRecord *rec, std::string &scratch) const
    {
        if (rec && stored_ && IsFlatVarHeldType(stored_->TypeCode)) {
            const std::string_view bytes = FlatGetBytes(*rec, *stored_);
            return IsFlatBlobType(stored_->TypeCode) ? bytes : StoredTextView(bytes, scratch);
        }
        scratch = IsBlob() ? field_->AsBytes() : field_->AsString();
        return scratch;
    }

    int32_t Int(const TFlatRecord *rec) const
    {
        if (rec && stored_ && !IsFlatVarHeldType(stored_->TypeCode))
            return Int32Of(FlatGetInt(*rec, *stored_));
        return Int32Of(field_->AsLargeInt());
    }

    // The same from a record's values (FlatRecordValues), for a field that Text or Int
    // reads in the store.
    bool StoredText() const { return stored_ && IsFlatVarHeldType(stored_->TypeCode); }
    bool StoredNumber() const { return stored_ && !IsFlatVarHeldType(stored_->TypeCode); }
    std::string_view Text(const std::string_view *values, std::string &scratch) const
    {
        const std::string_view bytes = FlatBytesOf(values[stored_->Index], *stored_);
        return IsFlatBlobType(stored_->TypeCode) ? bytes : StoredTextView(bytes, scratch);
    }
    int32_t Int(const std::string_view *values) const { return Int32Of(FlatIntOf(values[stored_->Index], *stored_)); }

private:
    bool IsBlob() const { return field_->DataType() == ftBlob || field_->DataType() == ftGraphic; }

    TField *field_;
    const TFlatField *stored_ = nullptr;
};

// A byte as CompareNamesFoldAZ folds it: A to Z lower-cased, the rest kept.
unsigned char FoldedByte(char c)
{
    return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

// Eight bytes of a name from `from` on, folded, most significant first (zero
// past its end): names whose first sixteen bytes differ order as these do.
uint64_t FoldedWord(std::string_view name, size_t from)
{
    uint64_t word = 0;
    for (size_t i = from; i < from + 8; ++i)
        word = (word << 8) | (i < name.size() ? FoldedByte(name[i]) : 0u);
    return word;
}

// Where a key's extension starts as the shell reads it (after the last dot
// that follows the last separator), or the key's end when it has none.
size_t ShellExtensionStart(const std::string &key)
{
    for (size_t i = key.size(); i > 0; --i) {
        const char c = key[i - 1];
        if (c == '.')
            return i - 1;
        if (c == '\\' || c == '/' || c == ':')
            break;
    }
    return key.size();
}

} // namespace

TFileListModel::TFileListModel(QObject *parent)
    : TRowListModelBase({QStringLiteral("Name"),       QStringLiteral("Size"),       QStringLiteral("TypeName"),
                         QStringLiteral("CreateDate"), QStringLiteral("LastChange"), QStringLiteral("Fullpath"),
                         QStringLiteral("Type"),       QStringLiteral("Namecd"),     QStringLiteral("Attrib"),
                         QStringLiteral("Number"),     QStringLiteral("Size_Tech"),  QStringLiteral("FType"),
                         QStringLiteral("LoadName"),   QStringLiteral("MusicOrder"), QStringLiteral("CdIdCode")},
                        1, parent)
{
}

QString TFileListModel::ColumnText(const TFileRow &row, int column)
{
    switch (column) {
    case 0: return ToQString(row.Name);
    case 1: return ToQString(row.SizeText);
    case 2: return row.TypeName;
    case 3: return ToQString(row.CreateDate);
    case 4: return ToQString(row.LastChange);
    case 5: return ToQString(row.FullName);
    case 6: return QString::number(row.Type);
    case 7: return ToQString(row.Namecd);
    case 8: return QString::number(row.Attrib);
    case 9: return ToQString(row.Number);
    case 10: return ToQString(row.SizeTech);
    case 11: return QString::number(row.FType);
    case 12: return ToQString(row.LoadName);
    case 13: return QString::number(row.MusicOrder);
    case 14: return ToQString(row.CdIdCode);
    default: return {};
    }
}

void TFileListModel::Fill(TDataSet &table, ShellIconSize iconSize)
{
    static constexpr std::array<const char *, TextCount> textNames = {
        "Path", "Name", "Namecd", "Number", "Size", "CreateDate", "LastChange", "Note", "LoadName", "CdIdCode", "Icon"};
    // Every field is looked up before anything changes: a table without one
    // raises and leaves the list as it was.
    std::vector<TFieldReader> texts;
    texts.reserve(TextCount);
    for (const char *name : textNames)
        texts.emplace_back(table, name);
    const TFieldReader type(table, "Type"), ftype(table, "FType"), attrib(table, "Attrib"),
        musicOrder(table, "MusicOrder");
    auto *flat = dynamic_cast<TFlatDataset *>(&table);

    std::string arena;
    std::vector<TRecord> records;
    const int expected = table.RecordCount();
    if (expected > 0) {
        records.reserve(static_cast<size_t>(expected));
        arena.reserve(static_cast<size_t>(expected) * 96);
    }
    std::string scratch;
    const auto add = [&](const TFlatRecord *rec, const std::string_view *values) {
        TRecord &r = records.emplace_back();
        r.Type = values ? type.Int(values) : type.Int(rec);
        r.FType = values ? ftype.Int(values) : ftype.Int(rec);
        r.Attrib = values ? attrib.Int(values) : attrib.Int(rec);
        r.MusicOrder = values ? musicOrder.Int(values) : musicOrder.Int(rec);
        for (int k = 0; k < TextCount; ++k) {
            const std::string_view text = values ? texts[size_t(k)].Text(values, scratch) : texts[size_t(k)].Text(rec, scratch);
            if (arena.size() + text.size() > UINT32_MAX)
                throw std::length_error("the folder is too large to list");
            r.At[k] = static_cast<uint32_t>(arena.size());
            arena.append(text);
        }
        r.At[TextCount] = static_cast<uint32_t>(arena.size());
    };
    // The records from the current one on are read straight from the store's view, all
    // values of a record in one pass, when every field lies in the store; the table is
    // left at its end as reading it record by record leaves it.
    bool direct = flat && flat->State() == dsBrowse && !table.Eof() && flat->BrowseEntry() && !table.BeforeScroll &&
                  !table.AfterScroll &&
                  type.StoredNumber() && ftype.StoredNumber() && attrib.StoredNumber() && musicOrder.StoredNumber();
    for (const TFieldReader &t : texts)
        direct = direct && t.StoredText();
    const TFlatView *view = direct ? &flat->ShownRecords() : nullptr;
    const int at = direct ? table.RecNo() - 1 : -1;
    if (view && at >= 0 && size_t(at) < view->size() && (*view)[size_t(at)] == flat->BrowseEntry()) {
        const std::vector<TFlatField> &fields = flat->Cursor()->Fields;
        std::vector<std::string_view> values(fields.size());
        for (size_t i = size_t(at); i < view->size(); ++i) {
            FlatRecordValues((*view)[i]->Data, fields, values.data());
            add(nullptr, values.data());
        }
        table.Last();
        table.Next();
    }
    for (; !table.Eof(); table.Next()) {
        const TFlatRecord *rec = flat ? flat->BrowseRecord() : nullptr;
        add(rec, nullptr);
    }

    // Display order: an index sorted on the folded name (the load name of the
    // files of an audio disc, told by the last record); equal names keep the
    // table's order.
    const bool tracks = !records.empty() && records.back().FType == 2;
    const auto sortName = [&](const TRecord &r) {
        if (tracks && r.Type != 0) {
            const std::string_view load = std::string_view(arena).substr(r.At[tLoadName], r.At[tLoadName + 1] - r.At[tLoadName]);
            return load.empty() ? std::string_view("0") : load;
        }
        return std::string_view(arena).substr(r.At[tName], r.At[tName + 1] - r.At[tName]);
    };
    // Each name's first sixteen bytes, folded, in two words, and of a longer name
    // the rest folded side by side: the sort is most often settled by the words.
    // Where they are equal and either name is no longer than sixteen bytes, the
    // shorter is a prefix of the other and comes first.
    constexpr size_t headBytes = 16;
    std::string tails;
    struct TKey {
        uint64_t Head, Next;
        uint32_t At; // of the folded rest in `tails`
        uint32_t Size;
        uint32_t Index;
        bool File;
    };
    std::vector<TKey> keys(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const std::string_view name = sortName(records[i]);
        const size_t at = tails.size();
        if (name.size() > headBytes) {
            if (at + name.size() > UINT32_MAX)
                throw std::length_error("the folder is too large to list");
            for (size_t c = headBytes; c < name.size(); ++c)
                tails += static_cast<char>(FoldedByte(name[c]));
        }
        keys[i] = TKey{FoldedWord(name, 0), FoldedWord(name, 8), static_cast<uint32_t>(at), static_cast<uint32_t>(name.size()),
                       static_cast<uint32_t>(i), records[i].Type != 0};
    }
    const std::string_view tailsView(tails);
    std::sort(keys.begin(), keys.end(), [tailsView](const TKey &a, const TKey &b) {
        if (a.File != b.File)
            return b.File;
        if (a.Head != b.Head)
            return a.Head < b.Head;
        if (a.Next != b.Next)
            return a.Next < b.Next;
        if (a.Size != b.Size && (a.Size <= headBytes || b.Size <= headBytes))
            return a.Size < b.Size;
        if (a.Size > headBytes && b.Size > headBytes) {
            const std::string_view restA = tailsView.substr(a.At, a.Size - headBytes);
            if (const int c = restA.compare(tailsView.substr(b.At, b.Size - headBytes)); c != 0)
                return c < 0;
        }
        return a.Index < b.Index;
    });
    std::vector<uint32_t> order(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        order[i] = keys[i].Index;

    beginResetModel();
    Reset();
    arena_ = std::move(arena);
    records_ = std::move(records);
    order_ = std::move(order);
    iconSize_ = iconSize;
    endResetModel();
}

void TFileListModel::SetRows(std::vector<TFileRow> rows)
{
    beginResetModel();
    Reset();
    records_.resize(rows.size());
    order_.resize(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        records_[i].Built = static_cast<int32_t>(i);
        order_[i] = static_cast<uint32_t>(i);
        built_.push_back(std::move(rows[i]));
    }
    endResetModel();
}

void TFileListModel::Clear() { SetRows({}); }

void TFileListModel::Reset()
{
    arena_.clear();
    arena_.shrink_to_fit();
    records_.clear();
    records_.shrink_to_fit();
    order_.clear();
    order_.shrink_to_fit();
    built_.clear();
    // The icon theme may have changed since the last fill.
    shell_.clear();
}

const TFileRow *TFileListModel::Row(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    const TRecord &r = records_[order_[static_cast<size_t>(index)]];
    if (r.Built < 0) {
        built_.push_back(BuildRow(r));
        r.Built = static_cast<int32_t>(built_.size() - 1);
    }
    return &built_[static_cast<size_t>(r.Built)];
}

TFileRow TFileListModel::BuildRow(const TRecord &r) const
{
    TFileRow row;
    row.Name = Text(r, tName);
    row.Path = Text(r, tPath);
    row.Type = r.Type;
    row.FType = r.FType;
    row.Attrib = r.Attrib;
    const std::string_view loadName = Text(r, tLoadName);
    row.FullName = row.Path;
    row.FullName += row.FType == 2 ? loadName : std::string_view(row.Name);
    row.SizeTech = Text(r, tSize);
    row.SizeText = FormatSize(SizeValue(row.SizeTech));
    row.CreateDate = Text(r, tCreateDate);
    row.LastChange = Text(r, tLastChange);
    row.Namecd = Text(r, tNamecd);
    row.Number = Text(r, tNumber);
    row.LoadName = loadName.empty() ? std::string("0") : std::string(loadName);
    row.MusicOrder = r.MusicOrder;
    const std::string_view id = Text(r, tCdIdCode);
    row.CdIdCode = id.empty() ? std::string("0") : std::string(id);
    row.Note = Text(r, tNote);

    TShellAnswer look = Look(r, row.FullName);
    row.Icon = std::move(look.Icon);
    row.TypeName = std::move(look.TypeName);
    return row;
}

TFileListModel::TShellAnswer TFileListModel::Look(const TRecord &r, std::string_view fullName) const
{
    // Icons and type names by name and attributes only: the catalogued medium
    // is never touched.
    std::string key = PathExtractExtension(fullName);
    if (r.Type != 0)
        key.insert(0, 1, '*');
    key = LowerAZ(key);
    auto attributes = static_cast<uint32_t>(r.Attrib);
    if (r.Type == 0)
        attributes |= kFileAttributeDirectory;
    const std::string_view stream = Text(r, tIcon);
    const TShellAnswer &answer = ShellAnswer(key, attributes);
    if (key == "*.exe" && !stream.empty()) {
        // A program's own icon, kept with its record.
        const QByteArray bytes(stream.data(), static_cast<qsizetype>(stream.size()));
        if (IsIconStream(bytes)) {
            QIcon own = IconFromIconStream(bytes);
            if (!own.isNull())
                return TShellAnswer{std::move(own), answer.TypeName};
        }
    }
    return answer;
}

const TFileListModel::TShellAnswer &TFileListModel::ShellAnswer(const std::string &key, uint32_t attributes) const
{
    // The shell answers by the directory attribute and the extension alone,
    // so one answer serves every name with that extension.
    const bool folder = (attributes & kFileAttributeDirectory) != 0;
    const QString cacheKey =
        QLatin1Char(folder ? 'd' : 'f') + ToQString(std::string_view(key).substr(ShellExtensionStart(key)));
    auto it = shell_.find(cacheKey);
    if (it == shell_.end()) {
        ShellFileInfo info = ShellInfo::FileInfo(ToQString(key), attributes, iconSize_);
        it = shell_.insert(cacheKey, TShellAnswer{std::move(info.icon), std::move(info.typeName)});
    }
    return *it;
}

const TFileListModel::TRecord &TFileListModel::RecordAt(int row) const
{
    return records_[order_[static_cast<size_t>(row)]];
}

QString TFileListModel::RowCellText(int row, int column) const
{
    // The list and icon styles size every item by its name and icon: those
    // come without building the whole row.
    const TRecord &r = RecordAt(row);
    if (column == 0 && r.Built < 0)
        return ToQString(Text(r, tName));
    return ColumnText(*Row(row), column);
}

QIcon TFileListModel::RowIcon(int row) const
{
    const TRecord &r = RecordAt(row);
    // A program's own icon is read once, with its row.
    if (r.Built >= 0 || !Text(r, tIcon).empty())
        return Row(row)->Icon;
    std::string fullName(Text(r, tPath));
    fullName += r.FType == 2 ? Text(r, tLoadName) : Text(r, tName);
    return Look(r, fullName).Icon;
}

QString TFileListModel::RowDragText(int row) const { return ToQString(Row(row)->FullName); }
