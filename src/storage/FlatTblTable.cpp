// A table kept in a file: name, password, opening and saving, and the database that gives its folder.
#include "storage/FlatTbl.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "storage/FlatFmt.h"
#include "storage/FlatTblInternal.h"
#include "util/BaseFileUtils.h"

using namespace FlatTblInternal;

// ---------------------------------------------------------------------------------------
// TFlatTable

TFlatTable::TFlatTable() = default;

TFlatTable::~TFlatTable()
{
    // Tables that clone us are closed first and forget us; the store stays alive for as
    // long as anyone holds it, so nothing is freed under a clone.
    for (TFlatTable *ref : std::vector<TFlatTable *>(cloneRefs_)) {
        try {
            ref->Close();
        } catch (...) {
        }
        ref->DetachNoThrow();
        ref->cloneDS_ = nullptr;
        ref->loadMode_ = lmClear;
    }
    cloneRefs_.clear();
    CloseClonesNoThrow();
    DestroyClose();
    DetachNoThrow();
    if (cloneDS_) {
        auto &r = cloneDS_->cloneRefs_;
        r.erase(std::remove(r.begin(), r.end(), this), r.end());
    }
}

void TFlatTable::SetTableName(const std::string &name)
{
    if (name == tableName_)
        return;
    Close();
    tableName_ = name;
    loadMode_ = name.empty() ? lmClear : lmFile;
}

void TFlatTable::SetLoadMode(TFlatLoadMode mode)
{
    if (mode == loadMode_)
        return;
    Close();
    loadMode_ = mode;
}

void TFlatTable::SetCloneDS(TFlatTable *source)
{
    if (source == cloneDS_)
        return;
    Close();
    if (cloneDS_) {
        auto &r = cloneDS_->cloneRefs_;
        r.erase(std::remove(r.begin(), r.end(), this), r.end());
    }
    cloneDS_ = source == this ? nullptr : source;
    if (cloneDS_)
        cloneDS_->cloneRefs_.push_back(this);
    loadMode_ = cloneDS_ ? lmClone : lmClear;
}

std::string TFlatTable::Password()
{
    if (shared_)
        password_ = shared_->Cursor.Password;
    return password_;
}

void TFlatTable::SetPassword(const std::string &password)
{
    if (!password.empty())
        FlatSession().AddPassword(password);
    else if (!password_.empty())
        FlatSession().RemovePassword(password_);
    password_ = password;
    if (shared_) {
        shared_->Cursor.Password = password;
        CountChange();
    }
}

void TFlatTable::SetDatabase(TFlatDatabase *database)
{
    TFlatDataset::SetDatabase(database);
    if (database && !database->DatabasePath().empty() && !tableName_.empty())
        tableName_ = std::filesystem::path(tableName_).filename().string();
}

std::string TFlatTable::FullFileName() const
{
    if (Database() && tableName_.find('/') == std::string::npos)
        return Database()->DatabasePath() + tableName_;
    return tableName_;
}

void TFlatTable::OpenTable(const std::string &name)
{
    Close();
    SetTableName(name);
    Open();
}

void TFlatTable::OpenData()
{
    switch (loadMode_) {
    case lmClear: {
        if (FieldDefs().Count() == 0)
            DatabaseError(SNoFieldDescriptions);
        std::string description;
        for (const TFieldDef &def : FieldDefs()) {
            uint8_t code = fftUnknown;
            uint32_t size = 0;
            switch (def.DataType) {
            case ftSmallint: code = fftSmallInt; break;
            case ftInteger: code = fftInteger; break;
            case ftLargeint: code = fftInt64; break;
            case ftBoolean: code = fftBoolean; break;
            case ftFloat: code = fftDouble; break;
            case ftCurrency: code = fftCurrency; break;
            case ftDate: code = fftDate; break;
            case ftTime: code = fftTime; break;
            case ftDateTime: code = fftDateTime; break;
            case ftAutoInc: code = fftAutoInc; break;
            case ftString:
                code = def.Size <= 35 ? fftSmallStr : fftString;
                size = uint32_t(std::min(def.Size, 65535));
                break;
            case ftBlob: code = fftBlob; break;
            case ftMemo: code = fftMemo; break;
            case ftFmtMemo: code = fftFmtMemo; break;
            case ftGraphic: code = fftGraphic; break;
            default: break;
            }
            description += FlatDescribeField(def.Name, code, size);
        }
        description += '\x14';
        AttachStore(ReadStore(TFlatCursor::BuildEmptyImage(description, uint32_t(FieldDefs().Count()))));
        break;
    }
    case lmFile: {
        const std::string name = FullFileName();
        const auto fileError = [&](const std::string &reason) {
            throw EFlatFileError(Fmt(SErrorOpeningFile, name.c_str()), name, reason);
        };
        std::error_code ec;
        if (!std::filesystem::is_regular_file(name, ec))
            fileError(std::filesystem::exists(name, ec) ? "it is not a file" : "it does not exist");
        // The file is parsed as it is read, through one reused buffer.
        TFlatFileSource source;
        std::string reason;
        if (!source.Open(name, reason))
            fileError(reason);
        fileSize_ = size_t(source.Size());
        try {
            AttachStore(ReadStore(source));
        } catch (const EFlatFileError &) {
            throw;
        } catch (const EFlatReadFailure &e) {
            fileError(e.what());
        } catch (const EDatabaseError &e) {
            // The engine's message stays; the file and the bare reason go with it.
            std::string reason = e.what();
            if (reason.rfind(SErrorOpeningTable, 0) == 0)
                reason.erase(0, std::strlen(SErrorOpeningTable));
            throw EFlatFileError(e.what(), name, reason);
        }
        // Temporary files of a save that was cut off (the program killed, the machine
        // stopped) are of no use once the table reads: drop them. A table opened
        // read-only changes nothing beside it either.
        if (!ReadOnly && TidyOnOpen) {
            RemoveStaleTempFiles(name);
            RemoveStaleTempFiles(FlatBackupName(name));
        }
        break;
    }
    case lmClone: {
        if (!cloneDS_ || !cloneDS_->Active() || !cloneDS_->shared_)
            DatabaseError(SCloneNotActive);
        AttachStore(cloneDS_->shared_);
        cloneSource_ = cloneDS_;
        cloneDS_->clones_.push_back(this);
        break;
    }
    case lmStream: {
        if (!LoadingStream)
            DatabaseError(SNoLoadingStream);
        std::string image((std::istreambuf_iterator<char>(*LoadingStream)), std::istreambuf_iterator<char>());
        AttachStore(ReadStore(image));
        break;
    }
    }
}

void TFlatTable::Save()
{
    if (ChangeCount() == 0 || !shared_)
        return;
    switch (loadMode_) {
    case lmFile:
        SaveToFile(FullFileName());
        break;
    case lmClone:
        if (cloneDS_) {
            cloneDS_->SaveToFile(cloneDS_->FullFileName());
            if (cloneDS_->Active())
                cloneDS_->RefreshView();
        }
        break;
    default:
        break;
    }
}

void TFlatTable::CloseData() {}

void TFlatTable::InternalClose()
{
    if (cloneSource_) {
        auto &list = cloneSource_->clones_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        cloneSource_ = nullptr;
    }
    TFlatDataset::InternalClose();
}

void TFlatTable::CancelChanges()
{
    TFlatDataset::CancelChanges();
    if (cloneDS_ && cloneDS_->Database())
        cloneDS_->Database()->Leave(cloneDS_->Database()->changed_, cloneDS_);
}

void TFlatTable::CommitChanges()
{
    TFlatDataset::CommitChanges();
    if (cloneDS_ && cloneDS_->Database())
        cloneDS_->Database()->Leave(cloneDS_->Database()->changed_, cloneDS_);
}

// ---------------------------------------------------------------------------------------
// TFlatDatabase

TFlatDatabase::TFlatDatabase() { FlatSession().Databases.push_back(this); }

TFlatDatabase::~TFlatDatabase()
{
    for (TFlatDataset *ds : std::vector<TFlatDataset *>(members_)) {
        if (auto *table = dynamic_cast<TFlatTable *>(ds))
            table->CloseClonesNoThrow();
        try {
            ds->Close();
        } catch (...) {
        }
        ds->database_ = nullptr;
    }
    auto &list = FlatSession().Databases;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TFlatDatabase::SetDatabasePath(const std::string &path)
{
    path_ = path;
    if (!path_.empty() && path_.back() != '/')
        path_ += '/';
}

void TFlatDatabase::Join(std::vector<TFlatDataset *> &list, TFlatDataset *ds)
{
    if (std::find(list.begin(), list.end(), ds) == list.end())
        list.push_back(ds);
}

void TFlatDatabase::Leave(std::vector<TFlatDataset *> &list, TFlatDataset *ds)
{
    list.erase(std::remove(list.begin(), list.end(), ds), list.end());
}
