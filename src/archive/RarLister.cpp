#include "archive/RarLister.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "util/TextCodec.h"

std::function<bool(const std::string &, bool, std::string &)> TRarLister::InputDialog;

namespace {

constexpr unsigned kCommentBufferSize = 64 * 1024;

// The volume name buffer the library hands the callback holds at least this much.
constexpr size_t kVolumeNameRoom = 1024;

// Copies `text` into a library buffer of `size` bytes, always terminated.
void CopyToBuffer(char *buffer, size_t size, const std::string &text)
{
    if (!buffer || size == 0)
        return;
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
}

std::string FixedText(const char *text, size_t size)
{
    return std::string(text, strnlen(text, size));
}

// A member name in UTF-8. Our library decodes names itself; a library that
// hands over the stored bytes of a name from DOS, OS/2 or Windows gives them
// in the DOS code page, where a name from Unix stays as stored.
std::string MemberNameText(std::string name, unsigned hostOS)
{
    if (hostOS <= 2 && !IsValidUtf8(name))
        return OemToUtf8(name);
    return name;
}

} // namespace

// The extended header has grown between library versions by taking from its
// reserved tail; room past its end keeps a newer library's writes in bounds.
struct TRarLister::PaddedHeaderEx {
    RARHeaderDataEx h;
    unsigned char slack[1024];
};

std::string RarHostText(unsigned hostOS)
{
    switch (hostOS) {
    case 0:
        return "DOS";
    case 1:
        return "IBM OS/2";
    case 2:
        return "Windows";
    case 3:
        return "Unix";
    default:
        return std::string();
    }
}

std::string RarMethodText(unsigned method)
{
    static const char *const texts[] = {"speichern", "sehr schnell", "schnell", "normal", "gut", "sehr gut"};
    return method >= 48 && method <= 53 ? texts[method - 48] : std::string();
}

QDateTime RarDosTime(unsigned dosTime)
{
    const QDate date(int(dosTime >> 25) + 1980, int((dosTime >> 21) & 0x0F), int((dosTime >> 16) & 0x1F));
    const QTime time(int((dosTime >> 11) & 0x1F), int((dosTime >> 5) & 0x3F), int(dosTime & 0x1F) * 2);
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    // The stored wall-clock time, without any time-zone change.
    return QDateTime(date, time);
}

std::string RarErrorText(int code)
{
    switch (code) {
    case ERAR_NO_MEMORY:
        return "Kein Speicher";
    case ERAR_BAD_DATA:
        return "Fehlerhafte Daten";
    case ERAR_BAD_ARCHIVE:
        return "Fehlerhaftes Archiv";
    case ERAR_UNKNOWN_FORMAT:
        return "Unbekanntes Datenformat";
    case ERAR_EOPEN:
        return "Volumn-Fehler";
    case ERAR_ECREATE:
        return "Fehler beim Erstellen der Datei";
    case ERAR_ECLOSE:
        return "Fehler beim Schließen der Datei";
    case ERAR_EREAD:
        return "Lesefehler";
    case ERAR_EWRITE:
        return "Schreibfehler";
    case ERAR_SMALL_BUF:
        return "Buffer zu klein";
    case ERAR_MISSING_PASSWORD:
        return "Kein Passwort angegeben!";
    default:
        return "Unbekannter Fehler";
    }
}

TDFRARHeaderData MakeRarHeaderRecord(const RARHeaderDataEx &h, bool haveExtendedSizes)
{
    TDFRARHeaderData r;
    r.ArchiveName = FixedText(h.ArcName, sizeof h.ArcName);
    r.FileName = MemberNameText(FixedText(h.FileName, sizeof h.FileName), h.HostOS);
    r.ContinuedOnNext = h.Flags & RHDF_SPLITAFTER;
    r.ContinuedFromPrev = h.Flags & RHDF_SPLITBEFORE;
    r.Encrypted = h.Flags & RHDF_ENCRYPTED;
    const unsigned window = (h.Flags & RHDF_WINDOWMASK) >> 5;
    r.Directory = window == 7;
    if (!r.Directory) {
        // The extended header knows dictionaries beyond what the three flag bits hold.
        r.DictionarySize = haveExtendedSizes && h.DictSize > 0 ? uint64_t(h.DictSize) * 1024
                                                               : uint64_t(64 * 1024) << window;
    }
    r.PackedSize = h.PackSize;
    r.UnpackedSize = h.UnpSize;
    if (haveExtendedSizes) {
        r.PackedSize |= uint64_t(h.PackSizeHigh) << 32;
        r.UnpackedSize |= uint64_t(h.UnpSizeHigh) << 32;
    }
    r.HostOS = RarHostText(h.HostOS);
    char crc[16];
    std::snprintf(crc, sizeof crc, "%x", h.FileCRC);
    r.CRC = crc;
    r.FileTime = RarDosTime(h.FileTime);
    r.UnpackVersionMajor = int(h.UnpVer / 10);
    r.UnpackVersionMinor = int(h.UnpVer % 10);
    r.Method = RarMethodText(h.Method);
    r.AttrArchive = h.FileAttr & (1u << 5);
    r.AttrCompressed = h.FileAttr & (1u << 11);
    r.AttrDirectory = h.FileAttr & (1u << 4);
    r.AttrHidden = h.FileAttr & (1u << 1);
    r.AttrNormal = h.FileAttr & (1u << 7);
    r.AttrOffline = h.FileAttr & (1u << 12);
    r.AttrReadOnly = h.FileAttr & (1u << 0);
    r.AttrSystem = h.FileAttr & (1u << 2);
    r.AttrTemporary = h.FileAttr & (1u << 8);
    return r;
}

TRarLister::TRarLister()
{
    Api_ = UnRarAcquire();
    OwnsReference_ = Api_ != nullptr;
    if (Api_)
        DllVersion = Api_->RARGetDllVersion();
}

TRarLister::TRarLister(const TUnRarEntries *entries)
{
    Api_ = entries && entries->Complete() ? entries : nullptr;
    if (Api_)
        DllVersion = Api_->RARGetDllVersion();
}

TRarLister::~TRarLister()
{
    if (OwnsReference_)
        UnRarRelease();
}

void TRarLister::SetMode(TDFRarMode mode)
{
    Mode_ = mode;
    Operation_ = mode == DFRAR_LIST ? RAR_TEST : RAR_EXTRACT;
}

void TRarLister::Error(const std::string &message, int code)
{
    if (OnError)
        OnError(this, message, code);
}

void TRarLister::Status(const std::string &message, int status)
{
    if (OnRarStatus)
        OnRarStatus(this, message, status);
}

int TRarLister::ReadHeader(HANDLE h, PaddedHeaderEx &padded)
{
    // A header is always read into a cleared record, so nothing of an earlier
    // member, and no stack garbage, can pass for a member.
    std::memset(&padded, 0, sizeof padded);
    RARHeaderDataEx &hdr = padded.h;
    if (Api_->RARReadHeaderEx)
        return Api_->RARReadHeaderEx(h, &hdr);
    auto plain = std::make_unique<RARHeaderData>();
    std::memset(plain.get(), 0, sizeof *plain);
    const int r = Api_->RARReadHeader(h, plain.get());
    if (r == ERAR_SUCCESS) {
        std::memcpy(hdr.ArcName, plain->ArcName, sizeof plain->ArcName);
        std::memcpy(hdr.FileName, plain->FileName, sizeof plain->FileName);
        hdr.ArcName[sizeof plain->ArcName - 1] = 0;
        hdr.FileName[sizeof plain->FileName - 1] = 0;
        hdr.Flags = plain->Flags;
        hdr.PackSize = plain->PackSize;
        hdr.UnpSize = plain->UnpSize;
        hdr.HostOS = plain->HostOS;
        hdr.FileCRC = plain->FileCRC;
        hdr.FileTime = plain->FileTime;
        hdr.UnpVer = plain->UnpVer;
        hdr.Method = plain->Method;
        hdr.FileAttr = plain->FileAttr;
    }
    return r;
}

void TRarLister::CountMembers()
{
    std::vector<char> name(FileName.begin(), FileName.end());
    name.push_back(0);
    RAROpenArchiveData open{};
    open.ArcName = name.data();
    open.OpenMode = RAR_OM_EXTRACT;
    HANDLE h = Api_->RAROpenArchive(&open);
    if (!h)
        return;
    if (open.OpenResult == ERAR_SUCCESS) {
        auto hdr = std::make_unique<PaddedHeaderEx>();
        while (ReadHeader(h, *hdr) == ERAR_SUCCESS) {
            const TDFRARHeaderData rec = MakeRarHeaderRecord(hdr->h, Api_->RARReadHeaderEx != nullptr);
            if (!rec.ContinuedFromPrev) {
                ++FileCount_;
                SizeCount_ += rec.UnpackedSize;
            }
            if (Api_->RARProcessFile(h, RAR_SKIP, nullptr, nullptr) != ERAR_SUCCESS)
                break;
        }
    }
    Api_->RARCloseArchive(h);
}

int TRarLister::ProcessMember(HANDLE h, const TDFRARHeaderData &rec)
{
    std::vector<char> dir(Directory.begin(), Directory.end());
    dir.push_back(0);
    char *destPath = Directory.empty() ? nullptr : dir.data();
    if (OverrideEvent == OR_ALWAYS)
        return Api_->RARProcessFile(h, Operation_, destPath, nullptr);

    const std::string target = Directory.empty() ? rec.FileName : Directory + "/" + rec.FileName;
    if (!FileList.empty() && std::find(FileList.begin(), FileList.end(), target) == FileList.end())
        return Api_->RARProcessFile(h, RAR_SKIP, nullptr, nullptr);
    std::error_code ec;
    if (rec.Directory || Operation_ != RAR_EXTRACT || !std::filesystem::exists(target, ec))
        return Api_->RARProcessFile(h, Operation_, destPath, nullptr);
    bool canOverride = false;
    if (OverrideEvent == OR_EVENT && OnOverride)
        OnOverride(this, target, canOverride);
    return Api_->RARProcessFile(h, canOverride ? Operation_ : RAR_SKIP, destPath, nullptr);
}

void TRarLister::Extract()
{
    StopProcessing = false;
    HeaderUnreadable_ = true;
    if (!Api_) {
        Error("UnRar.Dll nicht geladen", 0);
        return;
    }
    FilesProcessed_ = FileCount_ = SizeProcessed_ = SizeCount_ = 0;
    // The library opens the archive by name, and a library's open of a named
    // pipe may wait for a writer forever: a name that is there but is no
    // regular file never reaches it. (A missing file is the library's to report.)
    if (struct stat st; ::stat(FileName.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        Error(RarErrorText(ERAR_EOPEN), ERAR_EOPEN);
        Status(FileName, 2);
        return;
    }
    if (CanProgress)
        CountMembers();

    std::vector<char> name(FileName.begin(), FileName.end());
    name.push_back(0);
    std::vector<char> comment(kCommentBufferSize, 0);
    RAROpenArchiveData open{};
    open.ArcName = name.data();
    open.OpenMode = Mode_ == DFRAR_LIST ? RAR_OM_LIST : RAR_OM_EXTRACT;
    open.CmtBuf = comment.data();
    open.CmtBufSize = kCommentBufferSize;
    if (StopProcessing)
        return;

    Status(FileName, 1);
    HANDLE h = Api_->RAROpenArchive(&open);
    Status(FileName, 0);
    if (!h || open.OpenResult != ERAR_SUCCESS) {
        // A failed open has no handle to read from: report it and end the pass.
        const int code = open.OpenResult != ERAR_SUCCESS ? int(open.OpenResult) : ERAR_EOPEN;
        if (h)
            Api_->RARCloseArchive(h);
        Error(RarErrorText(code), code);
        Status(FileName, 2);
        return;
    }

    HeaderUnreadable_ = false;
    ArchivComment.clear();
    CommentSize = 0;
    switch (open.CmtState) {
    case 0:
        break;
    case 1: {
        const size_t size = std::min<size_t>(open.CmtSize, kCommentBufferSize);
        ArchivComment = FixedText(comment.data(), size);
        CommentSize = int(ArchivComment.size());
        if (OnComment)
            OnComment(this, ArchivComment);
        break;
    }
    case ERAR_NO_MEMORY:
    case ERAR_BAD_DATA:
    case ERAR_UNKNOWN_FORMAT:
    case ERAR_SMALL_BUF:
        Error(RarErrorText(int(open.CmtState)), int(open.CmtState));
        break;
    default:
        break;
    }

    if (!StopProcessing) {
        Api_->RARSetCallback(h, &TRarLister::Callback, LPARAM(this));
        if (!Password.empty()) {
            std::vector<char> pwd(Password.begin(), Password.end());
            pwd.push_back(0);
            Api_->RARSetPassword(h, pwd.data());
        }
    }

    auto hdr = std::make_unique<PaddedHeaderEx>();
    bool firstHeader = true;
    while (!StopProcessing) {
        const int r = ReadHeader(h, *hdr);
        if (firstHeader) {
            // The archive's headers could be read as far as the first member
            // (or to the end of an archive that has none).
            HeaderUnreadable_ = r != ERAR_SUCCESS && r != ERAR_END_ARCHIVE;
            firstHeader = false;
        }
        if (r == ERAR_END_ARCHIVE)
            break;
        if (r == ERAR_BAD_DATA) {
            Error("Datei-Header defekt", ERAR_BAD_DATA);
            break;
        }
        if (r != ERAR_SUCCESS) {
            // Only a header read with success is a member.
            Error(RarErrorText(r), r);
            break;
        }
        const TDFRARHeaderData rec = MakeRarHeaderRecord(hdr->h, Api_->RARReadHeaderEx != nullptr);
        if (OnFileProcessing || OnProgress) {
            ++FilesProcessed_;
            if (!rec.ContinuedFromPrev)
                SizeProcessed_ += rec.UnpackedSize;
            if (OnFileProcessing)
                OnFileProcessing(this, rec, r);
            if (OnProgress)
                OnProgress(this, FilesProcessed_, FileCount_, SizeProcessed_, SizeCount_);
        }
        if (StopProcessing)
            break;
        const int p = ProcessMember(h, rec);
        if (p >= ERAR_BAD_DATA && p <= ERAR_EWRITE)
            Error(RarErrorText(p), p);
        if (p != ERAR_SUCCESS)
            break;
    }

    if (Api_->RARCloseArchive(h) == ERAR_ECLOSE)
        Error("Fehler beim Schließen", ERAR_ECLOSE);
    Status(FileName, 2);
}

int TRarLister::Callback(UINT msg, LPARAM userData, LPARAM p1, LPARAM p2)
{
    auto *self = reinterpret_cast<TRarLister *>(userData);
    if (!self || self->StopProcessing)
        return -1;
    switch (msg) {
    case UCM_CHANGEVOLUME: {
        char *volume = reinterpret_cast<char *>(p1);
        if (p2 != RAR_VOL_ASK)
            return 0;
        std::string next = volume ? FixedText(volume, kVolumeNameRoom) : std::string();
        if (self->OnVolChange)
            self->OnVolChange(self, next, int(p2));
        else if (self->PromptForVolumn && InputDialog)
            next = InputDialog("Nächstes Archiv: ...", false, next) ? next : std::string();
        else
            next.clear();
        if (next.empty() || !volume)
            return -1;
        CopyToBuffer(volume, kVolumeNameRoom, next);
        return 0;
    }
    case UCM_NEEDPASSWORD: {
        std::string password = self->Password;
        bool given = false;
        if (self->OnPassword) {
            self->OnPassword(self, password);
            given = true;
        } else if (self->PromptForPass && InputDialog) {
            given = InputDialog("Passwort: ...", true, password);
        } else {
            self->Error("Kein Passwort angegeben!", 0);
        }
        if (!given || password.empty() || p2 <= 0)
            return -1;
        self->Password = password;
        // Room is left for the terminator the library expects.
        CopyToBuffer(reinterpret_cast<char *>(p1), size_t(p2), password);
        self->Status("Verwendetes Passwort: " + self->Password, 3);
        return 1;
    }
    case UCM_PROCESSDATA:
        return 1;
    default:
        // Wide-character variants and questions we do not know: decline, so a
        // library falls back to the messages above.
        return 0;
    }
}
