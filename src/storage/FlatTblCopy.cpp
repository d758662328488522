// Copying another data set's records into a table, a whole record at a time where layouts match.
#include "storage/FlatTbl.h"

#include <algorithm>

#include "storage/FlatTblInternal.h"
#include "util/BaseDateTime.h"
#include "util/BaseFileUtils.h"
#include "util/TextCodec.h"

using namespace FlatTblInternal;

namespace {

std::string Blank2Underscore(std::string s)
{
    std::replace(s.begin(), s.end(), ' ', '_');
    return s;
}

} // namespace

// Copies a source record into a new record of this table in one step, where that gives
// exactly what copying field by field gives: both tables lay their records out alike,
// each field is copied to its own twin, and nothing watches single fields (no handlers,
// defaults, calculated or read-only fields, and the controls disabled, so no change
// event reaches anyone). A record whose values the field setters would change (a text
// longer than its width or holding a NUL, a short text that is not plain ASCII) is left
// to the field-by-field copy.
struct TFlatTable::TRecordCopier {
    bool Ready = false;
    TFlatDataset *From = nullptr;
    TField *AnyTarget = nullptr;
    struct Slot {
        const TFlatField *Field;
        size_t Width; // String and SmallStr: the narrower of the two widths
    };
    std::vector<Slot> Slots;

    template <typename Pair> void Prepare(TFlatTable &to, TDataSet *source, const std::vector<Pair> &pairs)
    {
        From = dynamic_cast<TFlatDataset *>(source);
        if (!From || !From->Cursor() || !to.Cursor() || !to.ControlsDisabled() || to.OnNewRecord ||
            to.AfterInsert || to.OnCalcFields || !to.masterFields_.empty())
            return;
        const TFlatCursor &a = *From->Cursor(), &b = *to.Cursor();
        if (a.RecordSize != b.RecordSize || a.Fields.size() != b.Fields.size() || pairs.size() != b.Fields.size() ||
            size_t(to.FieldCount()) != b.Fields.size())
            return;
        for (size_t i = 0; i < b.Fields.size(); ++i) {
            const TFlatField &x = a.Fields[i], &y = b.Fields[i];
            if (x.TypeCode != y.TypeCode || x.Size != y.Size || x.Offset != y.Offset || x.MaxLength != y.MaxLength ||
                x.VarIndex != y.VarIndex)
                return;
        }
        std::vector<bool> seen(b.Fields.size(), false);
        for (const Pair &p : pairs) {
            TField &f = *p.from, &t = *p.to;
            if (f.Offset < 0 || t.Offset != f.Offset || size_t(t.Offset) >= b.Fields.size() || seen[size_t(t.Offset)] ||
                f.DataType() != t.DataType() || t.ReadOnly || t.OnValidate || t.OnChange ||
                !t.DefaultExpression.empty() || t.Calculated())
                return;
            seen[size_t(t.Offset)] = true;
            const TFlatField &sf = b.Fields[size_t(t.Offset)];
            switch (sf.TypeCode) {
            case fftSmallInt:
            case fftInteger:
            case fftInt64:
            case fftSmallStr:
            case fftString:
            case fftBlob:
            case fftMemo:
            case fftFmtMemo:
            case fftGraphic:
                break;
            default: // conversions through a value may change these bytes
                return;
            }
            if (IsBlobType(t.DataType()) != IsFlatBlobType(sf.TypeCode))
                return;
            const size_t width = t.DataType() == ftString ? size_t(t.Size()) : SIZE_MAX;
            Slots.push_back({&sf, std::min<size_t>(width, sf.MaxLength)});
        }
        AnyTarget = pairs.empty() ? nullptr : pairs.front().to;
        Ready = AnyTarget != nullptr;
    }

    // Copyable for a record read in place: its values found in one pass.
    bool CopyableStored(const TFlatRecord &src, bool &anyValue) const
    {
        anyValue = false;
        thread_local std::vector<std::string_view> values;
        values.resize(src.StoredLayout()->Fields.size());
        src.StoredFields(values.data());
        for (const Slot &s : Slots) {
            const TFlatField &f = *s.Field;
            const std::string_view v = values[f.Index];
            switch (f.TypeCode) {
            case fftSmallStr:
                // Ends at its first NUL already; the reader kept no more than the width.
                // Only plain ASCII goes over as it stands: the setter converts anything else.
                if (v.size() > s.Width || v.size() > f.MaxLength || !IsAscii(v))
                    return false;
                anyValue = anyValue || !v.empty();
                break;
            case fftString:
                if (v.size() > s.Width)
                    return false;
                anyValue = anyValue || !v.empty();
                break;
            case fftInt64:
                anyValue = anyValue || v.find_first_not_of('\0') != std::string_view::npos;
                break;
            case fftSmallInt:
            case fftInteger:
                anyValue = true;
                break;
            default: // the BLOB types
                anyValue = anyValue || !v.empty();
                break;
            }
        }
        return true;
    }

    // Whether `src` can go over as its bytes stand; `anyValue`: whether it holds a value.
    bool Copyable(const TFlatRecord *src, bool &anyValue) const
    {
        if (src->IsStored())
            return CopyableStored(*src, anyValue);
        anyValue = false;
        for (const Slot &s : Slots) {
            const TFlatField &f = *s.Field;
            switch (f.TypeCode) {
            case fftSmallStr: {
                // The bytes held are the text as a setter keeps it (the reader and the
                // setters cut at the first NUL); anything else goes field by field.
                const std::string_view v = FlatGetSmallStr(*src, f);
                if (v.size() > s.Width || v.size() != src->Var(f).size() || !IsAscii(v))
                    return false;
                anyValue = anyValue || !v.empty();
                break;
            }
            case fftString: {
                const std::string_view v = src->Var(f);
                if (v.size() > s.Width || v.find('\0') != std::string_view::npos)
                    return false;
                anyValue = anyValue || !v.empty();
                break;
            }
            case fftInt64:
                anyValue = anyValue || FlatGetInt(*src, f) != 0;
                break;
            case fftSmallInt:
            case fftInteger:
                anyValue = true;
                break;
            default: // the BLOB types
                anyValue = anyValue || !src->Var(f).empty();
                break;
            }
        }
        return true;
    }

    // False (and nothing done) when the current record needs the field-by-field copy.
    bool CopyCurrent(TFlatTable &to)
    {
        const TFlatRecord *src = From->BrowseRecord();
        bool anyValue = false;
        if (!src || !Copyable(src, anyValue))
            return false;
        to.Append();
        TFlatBuffer *owner = nullptr;
        auto *rec = const_cast<TFlatRecord *>(to.RecordForState(owner));
        if (!rec) {
            to.Cancel();
            return false;
        }
        // Every field is copied or, being empty in the source, is empty in a new record
        // too: the record is the source's, packed once.
        *rec = *src;
        if (anyValue)
            to.DataEvent(deFieldChange, AnyTarget);
        to.Post();
        return true;
    }

    // The same straight into the store (AppendsInBulk); false when the record needs the
    // field-by-field copy.
    bool AppendCurrent(TFlatTable &to)
    {
        // A record still as it was read is taken from the store, where it lies as read,
        // rather than from its unpacked copy in the buffer: the two read the same.
        const TFlatRecEntry *entry = From->BrowseEntry();
        if (entry && entry->Data.IsStored()) {
            bool anyValue = false;
            if (!Copyable(&entry->Data, anyValue))
                return false;
            to.AppendShared(*entry, *From->Cursor());
            return true;
        }
        const TFlatRecord *src = From->BrowseRecord();
        bool anyValue = false;
        if (!src || !Copyable(src, anyValue))
            return false;
        to.AppendStored(*src);
        return true;
    }
};

bool FlatCopyInBulk = true;

bool TFlatTable::AppendsInBulk() const
{
    return FlatCopyInBulk && State() == dsBrowse && ControlsDisabled() && !ReadOnly && !BeforeInsert &&
           !AfterInsert && !BeforePost && !AfterPost && !BeforeScroll && !AfterScroll && !OnNewRecord &&
           !(CheckKeyViolation && !UniqueFieldNames.empty()) && !PostReachesListeners();
}

bool TFlatTable::AppendSharedRun(TRecordCopier &copier, int &copied)
{
    // The source's records from its current one to its end, taken straight from its
    // view while each is still as read and goes over as it stands: no record is
    // fetched into the source's buffer on the way. Anything else (a changed record, one
    // to copy field by field) leaves it all to the record-by-record copy.
    TFlatDataset &from = *copier.From;
    if (from.BeforeScroll || from.AfterScroll) // each would be told of every record
        return false;
    const TFlatRecEntry *current = from.BrowseEntry();
    const int at = from.RecNo() - 1;
    if (!current || at < 0 || size_t(at) >= from.view_.size() || from.view_[size_t(at)] != current)
        return false;
    bool anyValue = false;
    for (size_t i = size_t(at); i < from.view_.size(); ++i) {
        const TFlatRecEntry *e = from.view_[i];
        if (!e->Data.IsStored() || !copier.CopyableStored(e->Data, anyValue))
            return false;
    }
    const TFlatCursor &store = *from.Cursor();
    for (size_t i = size_t(at); i < from.view_.size(); ++i) {
        AppendShared(*from.view_[i], store);
        ++copied;
    }
    from.Last();
    from.Next();
    return true;
}

void TFlatTable::AppendShared(const TFlatRecEntry &entry, const TFlatCursor &from)
{
    CountChange(); // as the insert does, before the record goes in
    TFlatRecEntry *added = shared_->Cursor.AppendShared(entry, from);
    view_.push_back(added);
    pos_ = int(view_.size()) - 1;
    sorted_ = false;
}

bool TFlatTable::AppendValues(const std::vector<TField *> &fields, const std::vector<TVariant> &values)
{
    if (fields.size() != values.size() || !Active() || !shared_ || !AppendsInBulk() || !CanSetFieldValues(fields) ||
        !masterFields_.empty())
        return false;
    for (int i = 0; i < FieldCount(); ++i)
        if (!Fields(i).DefaultExpression.empty())
            return false;
    TFlatRecord record = TFlatRecord::Make(shared_->Cursor.RecordSize);
    TField *changed = nullptr;
    try {
        WriteFieldValues(record, fields, values, changed);
    } catch (...) {
        return false; // the steps one at a time give the error in its place
    }
    // Stored as the post stores it: a block of its own rather than in the store's
    // arena, so the memory a caller frees as it hands records over (a scan moving
    // out of its table) serves the next ones instead of lying beside a new arena.
    CountChange();
    std::string error;
    TFlatRecEntry *added = nullptr;
    if (!shared_->Cursor.PutRecord(record, nullptr, error, &added)) {
        UncountChange();
        return false;
    }
    view_.push_back(added);
    pos_ = int(view_.size()) - 1;
    sorted_ = false;
    return true;
}

void TFlatTable::EndAppends()
{
    DataEvent(deUpdateState);
    DataEvent(deDataSetChange);
    Resync();
}

void TFlatTable::AppendStored(const TFlatRecord &record)
{
    CountChange(); // as the insert does, before the record goes in
    TFlatRecEntry *added = shared_->Cursor.AppendCopy(record);
    view_.push_back(added);
    pos_ = int(view_.size()) - 1;
    sorted_ = false;
}

int TFlatTable::CopyFromDataSet(TDataSet *source, int mode)
{
    if (!source || source == this)
        DatabaseError(SCopySourceInvalid);
    const bool openedHere = !source->Active();
    if (openedHere) {
        try {
            source->Open();
        } catch (...) {
            DatabaseError(SCopySourceOpenError);
        }
    }
    int copied = 0;
    source->DisableControls();
    try {
        source->First();
        if (mode == 2 || mode == 3) {
            Close();
            FieldDefs().Clear();
            for (const TFieldDef &def : source->FieldDefs())
                FieldDefs().Add(Blank2Underscore(def.Name), def.DataType, def.Size, def.Required);
            if (auto *flat = dynamic_cast<TFlatDataset *>(source)) {
                SetDatabase(flat->Database());
                UniqueFieldNames = flat->UniqueFieldNames;
                RangeFieldNames = flat->RangeFieldNames;
                SetIndexFieldNames(flat->IndexFieldNames());
                SetMasterFields(flat->MasterFields());
            }
        }
        Open();
        if (mode != 3) {
            struct Pair {
                TField *from, *to;
            };
            std::vector<Pair> copy, keys;
            std::vector<TField *> keyTargets;
            std::string keyNames;
            const std::vector<TField *> uniques =
                mode == 1 && !UniqueFieldNames.empty() ? GetFieldList(UniqueFieldNames) : std::vector<TField *>{};
            for (int i = 0; i < source->FieldCount(); ++i) {
                TField &from = source->Fields(i);
                if (from.Calculated())
                    continue;
                TField *to = FindField(Blank2Underscore(from.FieldName()));
                if (!to || to->Calculated())
                    continue;
                if (std::find(uniques.begin(), uniques.end(), to) != uniques.end()) {
                    keys.push_back({&from, to});
                    if (!keyNames.empty())
                        keyNames += ';';
                    keyNames += to->FieldName();
                } else
                    copy.push_back({&from, to});
            }
            const bool byKey = !keys.empty();
            TRecordCopier copier;
            if (!byKey)
                copier.Prepare(*this, source, copy);
            // Records taken straight into the store leave what their inserts and posts
            // would: the held-back state and change events, the cursor on the last one.
            bool bulk = copier.Ready && AppendsInBulk();
            bool appended = false;
            const auto endBulk = [&] {
                if (appended) {
                    DataEvent(deUpdateState);
                    DataEvent(deDataSetChange);
                    Resync();
                }
                bulk = appended = false;
            };
            while (!source->Eof()) {
                if (bulk && AppendSharedRun(copier, copied)) {
                    appended = true;
                    break;
                }
                if (bulk) {
                    if (copier.AppendCurrent(*this)) {
                        appended = true;
                        ++copied;
                        source->Next();
                        continue;
                    }
                    endBulk();
                }
                if (copier.Ready && copier.CopyCurrent(*this)) {
                    ++copied;
                    source->Next();
                    continue;
                }
                if (byKey) {
                    std::string values;
                    for (size_t i = 0; i < keys.size(); ++i)
                    {
                        if (i)
                            values += '\t';
                        values += keys[i].from->AsString();
                    }
                    if (FindKey(keyNames, values))
                        Edit();
                    else {
                        Append();
                        for (const Pair &k : keys)
                            k.to->SetAsString(k.from->AsString());
                    }
                } else
                    Append();
                for (const Pair &p : copy) {
                    if (p.from->IsNull())
                        continue;
                    if (IsBlobType(p.to->DataType()))
                        p.to->SetAsBytes(p.from->AsBytes());
                    else if (p.from->DataType() == p.to->DataType())
                        p.to->SetValue(p.from->Value());
                    else
                        p.to->SetAsString(p.from->AsString());
                }
                Post();
                ++copied;
                source->Next();
            }
            endBulk();
            First();
        }
    } catch (...) {
        source->EnableControls();
        if (openedHere) {
            try {
                source->Close();
            } catch (...) {
            }
        }
        throw;
    }
    source->EnableControls();
    if (openedHere)
        source->Close();
    return copied;
}
