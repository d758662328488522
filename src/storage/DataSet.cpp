// The data set: its errors, state, opening and closing, moving, editing, bookmarks and events.
#include "storage/DataSet.h"

#include "storage/DBUtils.h"

#include <algorithm>

// ---------------------------------------------------------------- errors

void DatabaseError(const std::string &message) { throw EDatabaseError(message); }

std::string EFlatFileError::Detail() const {
    return "The file \"" + FileName + "\" cannot be read: " + Reason;
}
void Abort() { throw EAbort(); }

// ---------------------------------------------------------------- TDataSet: lifetime and state

TDataSet::TDataSet() = default;

TDataSet::~TDataSet() {
    const auto sources = sources_;
    sources_.clear();
    for (TDataSource *s : sources) {
        s->dataSet_ = nullptr;
        s->NotifyActive();
    }
}

void TDataSet::DestroyClose() noexcept {
    if (state_ == dsInactive) return;
    try {
        Close();
    } catch (...) {
    }
    if (state_ != dsInactive) {
        // The descendant refused to close; let go of our side regardless.
        active_.reset();
        scratch_.reset();
        hasRecord_ = false;
        bof_ = eof_ = true;
        state_ = dsInactive;
    }
}

void TDataSet::CheckActive() const {
    if (state_ == dsInactive || state_ == dsOpening)
        DatabaseError("Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckInactive() const {
    if (state_ != dsInactive) DatabaseError("Cannot perform this operation on an open dataset");
}

void TDataSet::SetState(TDataSetState state) {
    if (state_ == state) return;
    state_ = state;
    modified_ = false;
    DataEvent(deUpdateState);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
    const TDataSetState previous = state_;
    state_ = state;
    ++tempDepth_;
    return previous;
}

void TDataSet::RestoreState(TDataSetState previous) {
    state_ = previous;
    if (tempDepth_ > 0) --tempDepth_;
}

void TDataSet::SetActive(bool value) {
    if (value) {
        if (state_ != dsInactive) return;
        DoBeforeOpen();
        defaultFields_ = fields_.empty();
        state_ = dsOpening;
        try {
            OpenCursor(false);
            active_ = AllocRecordBuffer();
            scratch_ = AllocRecordBuffer();
            state_ = dsBrowse;
            FetchFirst();
        } catch (...) {
            try {
                if (IsCursorOpen()) CloseCursor();
            } catch (...) {
            }
            active_.reset();
            scratch_.reset();
            hasRecord_ = false;
            bof_ = eof_ = true;
            BindFields(false);
            if (defaultFields_) {
                fields_.clear();
                fieldIndex_.Clear();
            }
            calcFieldCount_ = -1;
            state_ = dsInactive;
            throw;
        }
        state_ = dsInactive;  // so that SetState reports the change
        SetState(dsBrowse);
        DoAfterOpen();
    } else {
        if (state_ == dsInactive) return;
        DoBeforeClose();
        closing_ = true;
        try {
            CloseCursor();
        } catch (...) {
            closing_ = false;
            throw;
        }
        closing_ = false;
        BindFields(false);
        if (defaultFields_) {
            fields_.clear();
            fieldIndex_.Clear();
        }
        calcFieldCount_ = -1;
        active_.reset();
        scratch_.reset();
        hasRecord_ = false;
        bof_ = eof_ = true;
        SetState(dsInactive);
        DoAfterClose();
    }
}

void TDataSet::OpenCursor(bool infoQuery) {
    if (infoQuery)
        InternalInitFieldDefs();
    else
        InternalOpen();
}

void TDataSet::CloseCursor() { InternalClose(); }

bool TDataSet::IsEmpty() const {
    return state_ != dsInactive && state_ != dsOpening && state_ != dsInsert && !hasRecord_;
}

void TDataSet::InitRecord(TRecordBuffer &buffer) {
    InternalInitRecord(buffer);
    ClearCalcFields(buffer);
    SetBookmarkFlag(buffer, bfInserted);
    SetBookmarkData(buffer, TBookmark{});
}

// ---------------------------------------------------------------- navigation

void TDataSet::ClearBuffers() {
    hasRecord_ = false;
    bof_ = eof_ = true;
    if (active_) InternalInitRecord(*active_);
}

void TDataSet::FetchFirst() {
    InternalFirst();
    if (GetRecord(*active_, gmNext, true) == grOK) {
        hasRecord_ = true;
        bof_ = true;
        eof_ = false;
    } else {
        ClearBuffers();
    }
}

void TDataSet::First() {
    CheckBrowseMode();
    DoBeforeScroll();
    FetchFirst();
    DataEvent(deDataSetChange);
    DoAfterScroll();
}

void TDataSet::Last() {
    CheckBrowseMode();
    DoBeforeScroll();
    InternalLast();
    if (GetRecord(*active_, gmPrior, true) == grOK) {
        hasRecord_ = true;
        eof_ = true;
        bof_ = false;
    } else {
        ClearBuffers();
    }
    DataEvent(deDataSetChange);
    DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
    CheckBrowseMode();
    int moved = 0;
    DoBeforeScroll();
    if (hasRecord_ && ((distance > 0 && !eof_) || (distance < 0 && !bof_))) {
        bof_ = eof_ = false;
        while (distance != 0) {
            InternalSetToRecord(*active_);
            if (GetRecord(*scratch_, distance > 0 ? gmNext : gmPrior, true) != grOK) {
                (distance > 0 ? eof_ : bof_) = true;
                break;
            }
            std::swap(active_, scratch_);
            if (distance > 0) { --distance; ++moved; } else { ++distance; --moved; }
        }
        if (moved != 0) DataEvent(deDataSetScroll, nullptr, moved);
    }
    DoAfterScroll();
    return moved;
}

void TDataSet::Next() { MoveBy(1); }
void TDataSet::Prior() { MoveBy(-1); }

void TDataSet::Resync() {
    CheckActive();
    if (GetRecord(*active_, gmCurrent, false) == grOK || GetRecord(*active_, gmNext, false) == grOK ||
        GetRecord(*active_, gmPrior, false) == grOK) {
        hasRecord_ = true;
        bof_ = eof_ = false;
    } else {
        ClearBuffers();
    }
    DataEvent(deDataSetChange);
}

void TDataSet::Refresh() {
    CheckBrowseMode();
    if (hasRecord_) InternalSetToRecord(*active_);
    InternalRefresh();
    Resync();
}

bool TDataSet::FindRecord(bool restart, bool goForward) {
    if (restart && goForward) { First(); return !IsEmpty(); }
    if (restart) { Last(); return !IsEmpty(); }
    return MoveBy(goForward ? 1 : -1) != 0;
}

// ---------------------------------------------------------------- editing

void TDataSet::CheckBrowseMode() {
    CheckActive();
    if (state_ == dsEdit || state_ == dsInsert) {
        UpdateRecord();
        if (modified_)
            Post();
        else
            Cancel();
    }
}

bool TDataSet::PostReachesListeners() const {
    for (const TDataSource *s : sources_)
        if (!s->links_.empty() || s->OnUpdateData) return true;
    return false;
}

void TDataSet::UpdateRecord() {
    if (state_ != dsEdit && state_ != dsInsert && state_ != dsSetKey)
        DatabaseError("Dataset not in edit or insert mode");
    DataEvent(deUpdateRecord);
}

void TDataSet::Edit() {
    CheckActive();
    if (state_ == dsEdit || state_ == dsInsert) return;
    if (!hasRecord_) {
        Insert();
        return;
    }
    CheckBrowseMode();
    if (!GetCanModify()) DatabaseError("Cannot modify a read-only dataset");
    DoBeforeEdit();
    InternalSetToRecord(*active_);
    InternalEdit();
    GetCalcFields(*active_);
    SetState(dsEdit);
    DataEvent(deRecordChange);
    DoAfterEdit();
}

void TDataSet::BeginInsertAppend(bool append) {
    CheckBrowseMode();
    if (!GetCanModify()) DatabaseError("Cannot modify a read-only dataset");
    DoBeforeInsert();
    DoBeforeScroll();
    if (append)
        InternalLast();
    else if (hasRecord_)
        InternalSetToRecord(*active_);
    InternalInsert();
    InitRecord(*active_);
    SetBookmarkFlag(*active_, append ? bfEOF : bfInserted);
    bof_ = eof_ = false;
    SetState(dsInsert);
    try {
        DoOnNewRecord();
    } catch (...) {
        // The new record is given up as if cancelled.
        try {
            InternalCancel();
        } catch (...) {
        }
        SetState(dsBrowse);
        Resync();
        throw;
    }
    modified_ = false;
    DataEvent(deDataSetChange);
    DoAfterInsert();
    DoAfterScroll();
}

void TDataSet::Insert() { BeginInsertAppend(false); }
void TDataSet::Append() { BeginInsertAppend(true); }

void TDataSet::Post() {
    UpdateRecord();
    if (state_ != dsEdit && state_ != dsInsert) return;
    DoBeforePost();
    if (state_ == dsEdit) InternalSetToRecord(*active_);
    InternalPost();
    SetState(dsBrowse);
    Resync();
    DoAfterPost();
}

void TDataSet::Cancel() {
    if (state_ != dsEdit && state_ != dsInsert) return;
    DoBeforeCancel();
    if (state_ == dsEdit) InternalSetToRecord(*active_);
    InternalCancel();
    SetState(dsBrowse);
    Resync();
    DoAfterCancel();
}

void TDataSet::Delete() {
    CheckActive();
    if (state_ == dsInsert) {
        Cancel();
        return;
    }
    if (!hasRecord_) DatabaseError("Cannot perform this operation on an empty dataset");
    if (!GetCanModify()) DatabaseError("Cannot modify a read-only dataset");
    DoBeforeDelete();
    DoBeforeScroll();
    InternalSetToRecord(*active_);
    InternalDelete();
    SetState(dsBrowse);
    Resync();
    DoAfterDelete();
    DoAfterScroll();
}

// ---------------------------------------------------------------- bookmarks

TBookmark TDataSet::GetBookmark() {
    if (!Active() || !hasRecord_ || state_ == dsInsert) return {};
    if (GetBookmarkFlag(*active_) != bfCurrent) return {};
    return GetBookmarkData(*active_);
}

void TDataSet::GotoBookmark(const TBookmark &bookmark) {
    if (bookmark.empty()) return;
    CheckBrowseMode();
    DoBeforeScroll();
    InternalGotoBookmark(bookmark);
    if (GetRecord(*active_, gmCurrent, false) != grOK) {
        Resync();
        DatabaseError("Record not found");
    }
    hasRecord_ = true;
    bof_ = eof_ = false;
    DataEvent(deDataSetChange);
    DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark &bookmark) {
    return Active() && !bookmark.empty() && static_cast<int>(bookmark.size()) == bookmarkSize_;
}

int TDataSet::CompareBookmarks(const TBookmark &a, const TBookmark &b) {
    if (a.empty() || b.empty()) return (a.empty() ? 0 : 1) - (b.empty() ? 0 : 1);
    if (a < b) return -1;
    return a == b ? 0 : 1;
}

// ---------------------------------------------------------------- filtering and searching

void TDataSet::SetFiltered(bool value) {
    if (Active()) CheckBrowseMode();
    filtered_ = value;
}

void TDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
    if (Active()) CheckBrowseMode();
    onFilterRecord_ = std::move(handler);
}

bool TDataSet::FilterAccepts() {
    bool accept = true;
    if (onFilterRecord_) onFilterRecord_(this, accept);
    return accept;
}

bool TDataSet::Locate(const std::string &keyFields, const std::vector<TVariant> &keyValues,
                      TLocateOptions options) {
    const bool found = DataSetLocateThrough(*this, keyFields, keyValues, options);
    if (found) {
        DataEvent(deDataSetChange);
        DoAfterScroll();
    }
    return found;
}

std::vector<TVariant> TDataSet::Lookup(const std::string &keyFields, const std::vector<TVariant> &keyValues,
                                       const std::string &resultFields) {
    CheckBrowseMode();
    const std::vector<TField *> results = GetFieldList(resultFields);
    std::vector<TVariant> answer(results.empty() ? 1 : results.size());
    if (IsEmpty()) return answer;
    const TBookmark here = GetBookmark();
    DisableControls();
    try {
        if (DataSetLocateThrough(*this, keyFields, keyValues, {}))
            for (size_t i = 0; i < results.size(); ++i) answer[i] = results[i]->Value();
        if (!here.empty() && BookmarkValid(here)) GotoBookmark(here);
    } catch (...) {
        EnableControls();
        throw;
    }
    EnableControls();
    return answer;
}

// ---------------------------------------------------------------- events to listeners

void TDataSet::DisableControls() { ++disableCount_; }

void TDataSet::EnableControls() {
    if (disableCount_ == 0) return;
    if (--disableCount_ > 0) return;
    const bool state = pendingState_, change = pendingChange_;
    pendingState_ = pendingChange_ = false;
    if (state) SendEvent(deUpdateState, nullptr, 0);
    if (change) SendEvent(deDataSetChange, nullptr, 0);
}

void TDataSet::DataEvent(TDataEvent event, TField *field, int info) {
    if (event == deFieldChange && field) {
        if (!field->Calculated()) modified_ = true;
        if ((state_ == dsEdit || state_ == dsInsert) && active_ && !field->Calculated())
            GetCalcFields(*active_);
        if (field->OnChange) field->OnChange(field);
    }
    if (tempDepth_ > 0) return;
    if (disableCount_ > 0) {
        if (event == deUpdateState)
            pendingState_ = true;
        else if (event != deUpdateRecord)
            pendingChange_ = true;
        if (event != deUpdateRecord) return;
    }
    SendEvent(event, field, info);
}

void TDataSet::SendEvent(TDataEvent event, TField *field, int info) {
    if (sources_.empty()) return;
    // A listener may detach others (or itself) while told: walk a copy, skip the gone.
    const auto sources = sources_;
    for (TDataSource *s : sources)
        if (std::find(sources_.begin(), sources_.end(), s) != sources_.end()) s->DataEvent(event, field, info);
}

void TDataSet::AddDataSource(TDataSource *source) { sources_.push_back(source); }

void TDataSet::RemoveDataSource(TDataSource *source) {
    sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}
