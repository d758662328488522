// The file list's rows and model.
#include "app/browse/FileListModel.h"

#include <QByteArray>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
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

// A stored field's value as the list reads it from the bytes a reader gets of it:
// the program's text of a text field (decoded into `scratch` where it has to be),
// the bytes of a BLOB as they are.
std::string_view ListedValue(std::string_view bytes, const TFlatField &field, std::string &scratch)
{
    return IsFlatBlobType(field.TypeCode) ? bytes : StoredTextView(bytes, scratch);
}

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
        if (rec && stored_ && IsFlatVarHeldType(stored_->TypeCode))
            return ListedValue(FlatGetBytes(*rec, *stored_), *stored_, scratch);
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
        return ListedValue(FlatBytesOf(values[stored_->Index], *stored_), *stored_, scratch);
    }
    int32_t Int(const std::string_view *values) const { return Int32Of(FlatIntOf(values[stored_->Index], *stored_)); }
    // The field in the store (null when read through the field).
    const TFlatField *Stored() const { return stored_; }

private:
    bool IsBlob() const { return field_->DataType() == ftBlob || field_->DataType() == ftGraphic; }

    TField *field_;
    const TFlatField *stored_ = nullptr;
};

// The value of `field` (as TFieldReader reads it in the store) of the record
// read in place whose bytes are `bytes`.
std::string_view StoredFieldText(const uint8_t *bytes, const TFlatStoredLayout &layout, const TFlatField &field,
                                 std::string &scratch)
{
    return ListedValue(FlatGetBytes(TFlatRecord::Stored(bytes, layout), field), field, scratch);
}

int32_t StoredFieldNumber(const uint8_t *bytes, const TFlatStoredLayout &layout, const TFlatField &field)
{
    return Int32Of(FlatGetInt(TFlatRecord::Stored(bytes, layout), field));
}

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
    if (from < name.size())
        std::memcpy(&word, name.data() + from, std::min<size_t>(8, name.size() - from));
    // A to Z in all eight bytes at once: a byte below 0x80 whose low seven bits
    // lie in A..Z gains 0x20. No sum carries into the next byte.
    constexpr uint64_t ones = 0x0101010101010101u, high = ones * 0x80;
    const uint64_t low = word & ~high;
    const uint64_t upper = (low + ones * (0x80 - 'A')) & ~(low + ones * (0x80 - 'Z' - 1)) & ~word & high;
    word |= upper >> 2;
    if constexpr (std::endian::native == std::endian::little)
        word = __builtin_bswap64(word);
    return word;
}

// A name's place in the sort: its first sixteen folded bytes (FoldedWord), the
// record it names and its length.
struct TNameKey {
    uint64_t Head, Next;
    uint32_t Index;
    uint32_t Size;
};

// Sorts `n` keys by `less`, which orders them first by their sixteen bytes, from
// byte `depth` on (the bytes before it being the same in all of them): spread
// by one byte at a time into `buffer` (room for `n`) while many share a prefix,
// compared once few are left.
template <class Less>
void SortNameKeys(TNameKey *keys, size_t n, unsigned depth, TNameKey *buffer, const Less &less)
{
    constexpr size_t compareBelow = 96;
    for (;; ++depth) {
        if (n < compareBelow || depth == 16) {
            std::sort(keys, keys + n, less);
            return;
        }
        const auto byteAt = [depth](const TNameKey &k) {
            return static_cast<uint8_t>((depth < 8 ? k.Head : k.Next) >> (56 - 8 * (depth % 8)));
        };
        size_t count[256] = {};
        for (size_t i = 0; i < n; ++i)
            ++count[byteAt(keys[i])];
        if (count[byteAt(keys[0])] == n)
            continue; // one byte for all: the next decides
        size_t next[256];
        for (size_t b = 0, at = 0; b < 256; at += count[b++])
            next[b] = at;
        for (size_t i = 0; i < n; ++i)
            buffer[next[byteAt(keys[i])]++] = keys[i];
        std::copy(buffer, buffer + n, keys);
        for (size_t b = 0, at = 0; b < 256; at += count[b++])
            if (count[b] > 1)
                SortNameKeys(keys + at, count[b], depth + 1, buffer, less);
        return;
    }
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

TFileListModel::~TFileListModel() = default;

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
    static constexpr std::array<const char *, FieldCount> fieldNames = {
        "Path",     "Name",     "Namecd", "Number", "Size",  "CreateDate", "LastChange",
        "Note",     "LoadName", "CdIdCode", "Icon", "FType", "Attrib",     "MusicOrder"};
    // Every field is looked up before anything changes: a table without one
    // raises and leaves the list as it was.
    std::vector<TFieldReader> readers;
    readers.reserve(FieldCount);
    for (const char *name : fieldNames)
        readers.emplace_back(table, name);
    const TFieldReader type(table, "Type");
    auto *flat = dynamic_cast<TFlatDataset *>(&table);

    std::vector<TRecord> records;
    TValues kept;
    const int expected = table.RecordCount();
    if (expected > 0)
        records.reserve(static_cast<size_t>(expected));
    std::string scratch;
    // A record whose values are copied: the one under the cursor (`rec`, null
    // when not a flat table's) read through the fields, or one whose values
    // (FlatRecordValues) are given.
    const auto copy = [&](const TFlatRecord *rec, const std::string_view *values) {
        TRecord &r = records.emplace_back();
        r.Source = static_cast<uint32_t>(kept.Copied.size());
        TCopied &c = kept.Copied.emplace_back();
        r.Type = values ? type.Int(values) : type.Int(rec);
        for (int k = TextCount; k < FieldCount; ++k)
            c.Numbers[k - TextCount] = values ? readers[size_t(k)].Int(values) : readers[size_t(k)].Int(rec);
        for (int k = 0; k < TextCount; ++k) {
            const std::string_view text =
                values ? readers[size_t(k)].Text(values, scratch) : readers[size_t(k)].Text(rec, scratch);
            if (kept.Arena.size() + text.size() > UINT32_MAX)
                throw std::length_error("the folder is too large to list");
            c.At[k] = static_cast<uint32_t>(kept.Arena.size());
            kept.Arena.append(text);
        }
        c.At[TextCount] = static_cast<uint32_t>(kept.Arena.size());
    };
    // The records from the current one on are read straight from the store's view when
    // every field lies in the store; the table is left at its end as reading it record
    // by record leaves it.
    bool direct = flat && flat->State() == dsBrowse && !table.Eof() && flat->BrowseEntry() && !table.BeforeScroll &&
                  !table.AfterScroll && type.StoredNumber();
    for (int k = 0; k < FieldCount; ++k)
        direct = direct && (k < TextCount ? readers[size_t(k)].StoredText() : readers[size_t(k)].StoredNumber());
    const TFlatView *view = direct ? &flat->ShownRecords() : nullptr;
    const int at = direct ? table.RecNo() - 1 : -1;
    if (view && at >= 0 && size_t(at) < view->size() && (*view)[size_t(at)] == flat->BrowseEntry()) {
        const TFlatCursor &store = *flat->Cursor();
        kept.Fields.reserve(FieldCount);
        for (const TFieldReader &reader : readers)
            kept.Fields.push_back(*reader.Stored());
        std::vector<std::string_view> values(store.Fields.size());
        for (size_t i = size_t(at); i < view->size(); ++i) {
            const TFlatRecord &rec = (*view)[i]->Data;
            // A record read in place is referred to, its image held from the first such
            // record on; any other is copied.
            if (rec.IsStored()) {
                size_t source = kept.Layouts.size();
                if (source > 0 && kept.Layouts.back() == rec.StoredLayout())
                    source = kept.Layouts.size() - 1;
                else
                    source = size_t(std::find(kept.Layouts.begin(), kept.Layouts.end(), rec.StoredLayout()) -
                                    kept.Layouts.begin());
                if (source == kept.Layouts.size()) {
                    if (std::shared_ptr<const TFlatStoredImage> image = store.ImageOf(rec)) {
                        kept.Images.push_back(std::move(image));
                        kept.Layouts.push_back(rec.StoredLayout());
                    }
                }
                if (source < kept.Layouts.size()) {
                    records.push_back(TRecord{rec.StoredBytes(), static_cast<uint32_t>(source), type.Int(&rec)});
                    continue;
                }
            }
            FlatRecordValues(rec, store.Fields, values.data());
            copy(nullptr, values.data());
        }
        table.Last();
        table.Next();
    }
    for (; !table.Eof(); table.Next())
        copy(flat ? flat->BrowseRecord() : nullptr, nullptr);

    // Display order: an index sorted on the folded name (the load name of the
    // files of an audio disc, told by the last record); equal names keep the
    // table's order.
    const bool tracks = !records.empty() && kept.Number(records.back(), nFType) == 2;
    const auto sortName = [&](const TRecord &r) {
        if (tracks && r.Type != 0) {
            const std::string_view load = kept.Text(r, tLoadName, scratch);
            return load.empty() ? std::string_view("0") : load;
        }
        return kept.Text(r, tName, scratch);
    };
    // Each name's first sixteen bytes, folded, in two words, and of a longer name
    // the rest folded side by side: the sort is most often settled by the words.
    // Where they are equal and either name is no longer than sixteen bytes, the
    // shorter is a prefix of the other and comes first. Folders and files are
    // sorted apart, the folders' keys first.
    constexpr size_t headBytes = 16;
    std::string tails;
    std::vector<uint32_t> tailAt(records.size());
    size_t folders = 0;
    for (const TRecord &r : records)
        folders += r.Type == 0;
    std::vector<TNameKey> keys(records.size());
    size_t nextFolder = 0, nextFile = folders;
    for (size_t i = 0; i < records.size(); ++i) {
        const std::string_view name = sortName(records[i]);
        const size_t at = tails.size();
        if (name.size() > headBytes) {
            if (at + name.size() > UINT32_MAX)
                throw std::length_error("the folder is too large to list");
            tails.append(name.substr(headBytes));
            std::transform(tails.begin() + std::ptrdiff_t(at), tails.end(), tails.begin() + std::ptrdiff_t(at),
                           [](char c) { return static_cast<char>(FoldedByte(c)); });
        }
        tailAt[i] = static_cast<uint32_t>(at);
        keys[records[i].Type == 0 ? nextFolder++ : nextFile++] =
            TNameKey{FoldedWord(name, 0), FoldedWord(name, 8), static_cast<uint32_t>(i), static_cast<uint32_t>(name.size())};
    }
    const std::string_view tailsView(tails);
    const auto less = [&](const TNameKey &a, const TNameKey &b) {
        if (a.Head != b.Head)
            return a.Head < b.Head;
        if (a.Next != b.Next)
            return a.Next < b.Next;
        if (a.Size != b.Size && (a.Size <= headBytes || b.Size <= headBytes))
            return a.Size < b.Size;
        if (a.Size > headBytes && b.Size > headBytes) {
            const std::string_view restA = tailsView.substr(tailAt[a.Index], a.Size - headBytes);
            if (const int c = restA.compare(tailsView.substr(tailAt[b.Index], b.Size - headBytes)); c != 0)
                return c < 0;
        }
        return a.Index < b.Index;
    };
    std::vector<TNameKey> buffer(keys.size());
    SortNameKeys(keys.data(), folders, 0, buffer.data(), less);
    SortNameKeys(keys.data() + folders, keys.size() - folders, 0, buffer.data(), less);
    std::vector<uint32_t> order(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        order[i] = keys[i].Index;

    beginResetModel();
    Reset();
    records_ = std::move(records);
    values_ = std::move(kept);
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
    records_.clear();
    records_.shrink_to_fit();
    values_ = TValues();
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

std::string_view TFileListModel::TValues::Text(const TRecord &r, int k, std::string &scratch) const
{
    if (r.Stored)
        return StoredFieldText(r.Stored, *Layouts[r.Source], Fields[size_t(k)], scratch);
    const TCopied &c = Copied[r.Source];
    return std::string_view(Arena).substr(c.At[k], c.At[k + 1] - c.At[k]);
}

int32_t TFileListModel::TValues::Number(const TRecord &r, int k) const
{
    if (r.Stored)
        return StoredFieldNumber(r.Stored, *Layouts[r.Source], Fields[size_t(k)]);
    return Copied[r.Source].Numbers[k - TextCount];
}

TFileRow TFileListModel::BuildRow(const TRecord &r) const
{
    std::string scratch;
    const auto text = [&](int k) { return std::string(Text(r, k, scratch)); };
    TFileRow row;
    row.Name = text(tName);
    row.Path = text(tPath);
    row.Type = r.Type;
    row.FType = Number(r, nFType);
    row.Attrib = Number(r, nAttrib);
    const std::string loadName = text(tLoadName);
    row.FullName = row.Path;
    row.FullName += row.FType == 2 ? loadName : row.Name;
    row.SizeTech = text(tSize);
    row.SizeText = FormatSize(SizeValue(row.SizeTech));
    row.CreateDate = text(tCreateDate);
    row.LastChange = text(tLastChange);
    row.Namecd = text(tNamecd);
    row.Number = text(tNumber);
    row.LoadName = loadName.empty() ? std::string("0") : loadName;
    row.MusicOrder = Number(r, nMusicOrder);
    const std::string id = text(tCdIdCode);
    row.CdIdCode = id.empty() ? std::string("0") : id;
    row.Note = text(tNote);

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
    auto attributes = static_cast<uint32_t>(Number(r, nAttrib));
    if (r.Type == 0)
        attributes |= kFileAttributeDirectory;
    std::string scratch;
    const std::string_view stream = Text(r, tIcon, scratch);
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
    std::string scratch;
    if (column == 0 && r.Built < 0)
        return ToQString(Text(r, tName, scratch));
    return ColumnText(*Row(row), column);
}

QIcon TFileListModel::RowIcon(int row) const
{
    const TRecord &r = RecordAt(row);
    std::string scratch;
    // A program's own icon is read once, with its row.
    if (r.Built >= 0 || !Text(r, tIcon, scratch).empty())
        return Row(row)->Icon;
    std::string fullName(Text(r, tPath, scratch));
    fullName += Number(r, nFType) == 2 ? Text(r, tLoadName, scratch) : Text(r, tName, scratch);
    return Look(r, fullName).Icon;
}

QString TFileListModel::RowDragText(int row) const { return ToQString(Row(row)->FullName); }
