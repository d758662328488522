#include "archive/ZipLstr.h"

#include "util/BaseDateTime.h"
#include "util/BaseFileUtils.h"
#include "util/TextCodec.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::function<ZipDriveInfo(const std::string &)> TZipLister::DriveQuery;
std::function<void(const std::string &)> TZipLister::ShowMessageBox;
std::function<int(const std::string &)> TZipLister::AskOkCancel;
std::function<void(bool)> TZipLister::BusyCursor;

// ---------------------------------------------------------------------------
// Dates

double DosDateTimeToDateTime(uint16_t dosDate, uint16_t dosTime)
{
    const int year = 1980 + (dosDate >> 9);
    const int month = (dosDate >> 5) & 0x0F;
    const int day = dosDate & 0x1F;
    const int hour = dosTime >> 11;
    const int minute = (dosTime >> 5) & 0x3F;
    const int second = (dosTime & 0x1F) * 2;
    if (!IsValidDate(year, month, day) || hour > 23 || minute > 59 || second > 59)
        return 0.0;
    return EncodeDate(year, month, day) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

double DosDateTimeToDateTime(uint32_t dosDateTime)
{
    return DosDateTimeToDateTime(static_cast<uint16_t>(dosDateTime >> 16),
                                 static_cast<uint16_t>(dosDateTime & 0xFFFF));
}

// ---------------------------------------------------------------------------
// Messages

std::string ZipMessageText(int msgNo)
{
    using namespace ZipMsg;
    switch (msgNo) {
    case GE_OldDllZip:
    case GE_OldDllUnz: return "Old Dll from ";
    case SF_NoSFXSupport: return "SFX not supported";
    case CF_NoSpanSupport: return "Span not supported";
    case GE_NoMem: return "Not enough memory to list the archive";
    case DS_SeekError: return "Error while reading the archive: %s";
    case DS_ErrorUnknown: return "Unknown error while listing the archive: %s";
    case LI_WrongZipStruct: return "Warning - the central directory is not where the end record puts it (%s)";
    case LI_GarbageAtEOF: return "Warning - there is garbage at the end of the zip archive";
    case DS_FileOpen: return "The zip file could not be opened: %s";
    case DS_NotFound: return "The zip file was not found: %s";
    case DS_NoInFile: return "Invalid drive: %s";
    case DS_NoDrive: return "Drive %s does not exist";
    case DS_NoVolume: return "The volume could not be requested";
    case DS_Canceled: return "User cancelled the operation";
    case DS_CEHBadRead: return "Error while reading a central directory header";
    case DS_CEHWrongSig: return "A central directory header has a wrong signature";
    case DS_CENameLen: return "Error while reading a file name in the central directory";
    case DS_CECommentLen: return "Error while reading a file comment in the central directory";
    case DS_NoUnattSpan: return "Unattended listing of a spanned archive is not possible";
    case DS_NoValidZip: return "This archive is not a valid zip archive";
    case DS_FirstInSet: return "This is the first disk in a backup set, please insert the last disk of this set";
    case DS_NotLastInSet: return "This is disk %s of a backup set, please insert the last disk of this set";
    case DS_FirstFileOnHD: return "This is the first file of a spanned set, please choose the last file of the set";
    default:
        return "ZipMsgs.res is probably not linked to the executable\nMissing String ID is: " +
               std::to_string(msgNo);
    }
}

namespace {

std::string FormatMsg(int msgNo, const std::string &arg)
{
    std::string t = ZipMessageText(msgNo);
    const size_t p = t.find("%s");
    if (p != std::string::npos)
        t.replace(p, 2, arg);
    return t;
}

// Where the central directory lies against where the end record says it
// does. The stored offset may be a zip64 placeholder (0xFFFFFFFF) far beyond
// the real one, so both are given as unsigned numbers, never their signed
// difference.
std::string OffsetMismatchText(int64_t found, int64_t stored)
{
    const auto f = static_cast<uint64_t>(found), s = static_cast<uint64_t>(stored);
    std::string text = "found at byte " + std::to_string(f) + ", recorded at byte " + std::to_string(s);
    if (f > s)
        text += ": " + std::to_string(f - s) + " bytes of data in front of the archive";
    return text;
}

// An error raised inside the listing; it ends the listing.
struct EZipError {
    int Code;
    std::string Text;
    bool Display;
};

[[noreturn]] void Raise(int code, const std::string &arg = {}, bool display = true)
{
    throw EZipError{code, FormatMsg(code, arg), display};
}

uint16_t U16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t U64(const uint8_t *p) { return U32(p) | (static_cast<uint64_t>(U32(p + 4)) << 32); }

constexpr uint32_t kEndSig = 0x06054B50;
constexpr uint32_t kCentralSig = 0x02014B50;
constexpr uint32_t kLocalSig = 0x04034B50;
constexpr uint32_t kSpanSig = 0x08074B50;
constexpr uint32_t kZip64LocatorSig = 0x07064B50;
constexpr uint32_t kZip64EndSig = 0x06064B50;
constexpr int64_t kEndSize = 22;
constexpr int64_t kZip64LocatorSize = 20;
constexpr int64_t kZip64EndSize = 56;
constexpr int64_t kMaxSearch = 65557; // end record + the longest comment

// A read-only file with 64-bit positions.
class ZipFile {
public:
    ZipFile() = default;
    ~ZipFile() { Close(); }
    ZipFile(const ZipFile &) = delete;
    ZipFile &operator=(const ZipFile &) = delete;

    bool Open(const std::string &path)
    {
        Close();
        // A named pipe or device carrying the name is never opened for reading.
        fd_ = OpenRegularFile(path);
        if (fd_ < 0)
            return false;
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            Close();
            return false;
        }
        size_ = st.st_size;
        pos_ = 0;
        return true;
    }
    void Close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    bool IsOpen() const { return fd_ >= 0; }
    int64_t Size() const { return size_; }
    bool Seek(int64_t pos)
    {
        if (pos < 0 || pos > size_)
            return false;
        pos_ = pos;
        return true;
    }
    // Reads up to n bytes at the current position; returns how many arrived.
    size_t Read(void *buf, size_t n)
    {
        size_t got = 0;
        auto *p = static_cast<uint8_t *>(buf);
        while (got < n) {
            const ssize_t r = ::pread(fd_, p + got, n - got, pos_);
            if (r <= 0)
                break;
            got += static_cast<size_t>(r);
            pos_ += r;
        }
        return got;
    }
    bool ReadAt(int64_t pos, void *buf, size_t n) { return Seek(pos) && Read(buf, n) == n; }

private:
    int fd_ = -1;
    int64_t size_ = 0;
    int64_t pos_ = 0;
};

// The name of disk `disk` (0-based) of the set whose last file is `lastFile`.
// First the numbered form (last three characters before the extension replaced
// by the 1-based disk number, name001.zip), then the split form name.z01 that
// current zip tools write (the last disk keeps the .zip name).
std::string DiskFileName(const std::string &lastFile, int disk, int lastDisk)
{
    namespace fs = std::filesystem;
    if (disk == lastDisk)
        return lastFile;
    const fs::path p(lastFile);
    const std::string stem = p.stem().string();
    const std::string ext = p.extension().string();
    char num[16];
    std::snprintf(num, sizeof num, "%03d", (disk + 1) % 1000);
    const std::string head = stem.size() >= 3 ? stem.substr(0, stem.size() - 3) : std::string();
    const std::string numbered = (p.parent_path() / (head + num + ext)).string();
    std::error_code ec;
    if (fs::exists(numbered, ec))
        return numbered;
    std::snprintf(num, sizeof num, ".z%02d", (disk + 1) % 100);
    const std::string split = (p.parent_path() / (stem + num)).string();
    return fs::exists(split, ec) ? split : numbered;
}

} // namespace

// ---------------------------------------------------------------------------
// The listing

struct TZipLister::Impl {
    TZipLister &z;
    ZipFile file;
    std::string path;       // the file being listed (the last disk of a set)
    std::string diskPath;   // the file open now
    ZipDriveInfo drive;
    // From the end record search.
    int thisDisk = 0;       // number of this disk
    int cdDisk = 0;         // disk holding the start of the central directory
    uint64_t totalEntries = 0;
    int64_t cdSize = 0;
    int64_t cdOffset = 0;   // as stored
    int64_t endPos = 0;     // position of the end record
    int64_t logicalEof = 0; // end of the comment
    int64_t zip64Bytes = 0; // zip64 end record and locator in front of the end record
    bool labelDisk = false; // the volume label named a disk
    bool spanStart = false; // the file starts with the spanning signature

    explicit Impl(TZipLister &owner) : z(owner) {}

    ZipDriveInfo QueryDrive(const std::string &p) const
    {
        return DriveQuery ? DriveQuery(p) : ZipDriveInfo{};
    }

    bool OpenDisk(const std::string &p, bool prompts)
    {
        diskPath = p;
        if (file.Open(p))
            return true;
        if (prompts)
            Raise(ZipMsg::DS_FileOpen, p);
        z.ReportMessage(ZipMsg::DS_NotFound, FormatMsg(ZipMsg::DS_NotFound, p), false);
        return false;
    }

    // Finds the end record of the open file. False when there is none and the
    // listing just ends empty.
    bool FindEndRecord(bool prompts)
    {
        if (!OpenDisk(diskPath, prompts))
            return false;
        labelDisk = false;
        if (drive.VolumeLabel.rfind("PKBACK# ", 0) == 0 && drive.VolumeLabel.size() >= 11) {
            const std::string digits = drive.VolumeLabel.substr(8, 3);
            if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
                z.FDiskNr = std::stoi(digits);
                labelDisk = true;
            }
        }
        uint8_t head[8];
        spanStart = file.ReadAt(0, head, 8) && U32(head) == kSpanSig && U32(head + 4) == kLocalSig;
        if (spanStart)
            z.FIsSpanned = true;

        const int64_t size = file.Size();
        uint8_t rec[kEndSize];
        if (size >= kEndSize && file.ReadAt(size - kEndSize, rec, kEndSize) && U32(rec) == kEndSig) {
            TakeEndRecord(rec, size - kEndSize, size, {});
            return true;
        }
        const int64_t n = std::min(kMaxSearch, size);
        if (n >= kEndSize + 1) {
            std::vector<uint8_t> tail(static_cast<size_t>(n));
            if (!file.ReadAt(size - n, tail.data(), tail.size()))
                Raise(ZipMsg::DS_SeekError, "end of file");
            for (int64_t i = n - kEndSize - 1; i >= 0; --i) {
                const uint8_t *p = tail.data() + i;
                if (p[0] == 'P' && p[1] == 'K' && p[2] == 5 && p[3] == 6) {
                    const int64_t recPos = size - n + i;
                    const uint8_t *after = p + kEndSize;
                    const int64_t present = n - i - kEndSize;
                    TakeEndRecord(p, recPos, size,
                                  std::string_view(reinterpret_cast<const char *>(after),
                                                   static_cast<size_t>(present)));
                    const int64_t trailing = size - logicalEof;
                    if (trailing > 0) {
                        const uint8_t *t = tail.data() + (n - trailing);
                        const bool zeroPad = size % 512 == 0 && trailing < 512 &&
                                             std::all_of(t, t + trailing, [](uint8_t b) { return b == 0; });
                        if (!zeroPad)
                            z.ReportMessage(ZipMsg::LI_GarbageAtEOF, ZipMessageText(ZipMsg::LI_GarbageAtEOF),
                                            false);
                    }
                    return true;
                }
            }
        }
        if (prompts && z.ShowErrMsg) {
            if (labelDisk && !spanStart)
                Raise(ZipMsg::DS_NotLastInSet, std::to_string(z.FDiskNr));
            if (!z.FIsSpanned)
                Raise(ZipMsg::DS_NoValidZip);
            if (z.FDiskNr == 1)
                Raise(ZipMsg::DS_FirstInSet);
            Raise(ZipMsg::DS_FirstFileOnHD);
        }
        return false;
    }

    // Takes the end record at recPos; `after` holds the bytes that follow it
    // in the file (the comment, perhaps garbage), for the backward search.
    void TakeEndRecord(const uint8_t *rec, int64_t recPos, int64_t size, std::string_view after)
    {
        endPos = recPos;
        thisDisk = U16(rec + 4);
        cdDisk = U16(rec + 6);
        totalEntries = U16(rec + 10);
        cdSize = U32(rec + 12);
        cdOffset = U32(rec + 16);
        // The stored comment length is trusted only as far as the file goes.
        const int64_t avail = size - recPos - kEndSize;
        const int64_t commentLen = std::min<int64_t>(U16(rec + 20), avail);
        if (after.size() >= static_cast<size_t>(commentLen))
            z.FZipComment = DecodeStoredText(after.substr(0, static_cast<size_t>(commentLen)));
        else
            z.FZipComment.clear();
        logicalEof = recPos + kEndSize + commentLen;
        zip64Bytes = 0;
        TakeZip64Records();
    }

    // A zip64 archive keeps its real counts, sizes and offsets in a zip64 end
    // record, found through the locator right in front of the end record.
    // Whenever the locator stands there the zip64 record is the one to use:
    // archivers also write it while leaving true values in the normal record
    // (an archive written from a pipe, one holding a member over 4 GiB), and
    // the central directory then ends before the zip64 records, not before
    // the end record.
    void TakeZip64Records()
    {
        if (endPos < kZip64LocatorSize + kZip64EndSize)
            return;
        uint8_t loc[kZip64LocatorSize];
        if (!file.ReadAt(endPos - kZip64LocatorSize, loc, sizeof loc) || U32(loc) != kZip64LocatorSig)
            return;
        const int64_t locPos = endPos - kZip64LocatorSize;
        // The zip64 end record ends right at the locator. Its stored position
        // may be shifted by a stub in front of the archive, so the record is
        // looked for where the locator says, then where a record without
        // extensible data must lie.
        uint8_t e64[kZip64EndSize];
        int64_t recPos = -1;
        const uint64_t stored = U64(loc + 8);
        if (stored <= static_cast<uint64_t>(locPos - kZip64EndSize) &&
            file.ReadAt(static_cast<int64_t>(stored), e64, sizeof e64) && U32(e64) == kZip64EndSig &&
            U64(e64 + 4) + 12 == static_cast<uint64_t>(locPos) - stored)
            recPos = static_cast<int64_t>(stored);
        if (recPos < 0) {
            recPos = locPos - kZip64EndSize;
            if (!file.ReadAt(recPos, e64, sizeof e64) || U32(e64) != kZip64EndSig)
                return;
        }
        const uint64_t tdisk = U32(e64 + 16), cddisk = U32(e64 + 20), total = U64(e64 + 32), size = U64(e64 + 40),
                       off = U64(e64 + 48);
        if (tdisk > 0xFFFF || cddisk > 0xFFFF || size > static_cast<uint64_t>(INT64_MAX) ||
            off > static_cast<uint64_t>(INT64_MAX))
            return;
        thisDisk = static_cast<int>(tdisk);
        cdDisk = static_cast<int>(cddisk);
        totalEntries = total;
        cdSize = static_cast<int64_t>(size);
        cdOffset = static_cast<int64_t>(off);
        zip64Bytes = endPos - recPos;
    }

    // Makes disk `disk` of a spanned set the open file.
    void GetDisk(int disk)
    {
        const bool last = disk == thisDisk;
        if (!drive.Removable) {
            const std::string name = DiskFileName(path, disk, thisDisk);
            file.Close();
            OpenDisk(name, true);
            z.FDiskNr = disk;
            return;
        }
        for (;;) {
            drive = QueryDrive(path);
            char want[32];
            std::snprintf(want, sizeof want, "PKBACK# %03d", disk + 1);
            if (drive.VolumeLabel == want) {
                file.Close();
                OpenDisk(path, true);
                z.FDiskNr = disk;
                return;
            }
            file.Close();
            if (z.Unattended)
                Raise(ZipMsg::DS_NoUnattSpan);
            char text[128];
            if (last)
                std::snprintf(text, sizeof text, "Please insert last disk in set");
            else if (thisDisk > 0)
                std::snprintf(text, sizeof text, "Please insert disk volume %.1d of %.1d", disk + 1, thisDisk + 1);
            else
                std::snprintf(text, sizeof text, "Please insert disk volume %.1d", disk + 1);
            const std::string prompt = std::string(text) + "\r\nin drive: " + z.FDrive;
            if (z.OnGetNextDisk) {
                bool abort = false;
                z.OnGetNextDisk(&z, disk + 1, thisDisk + 1, z.FDrive, abort);
                if (abort)
                    Raise(ZipMsg::DS_Canceled);
            } else {
                const int answer = AskOkCancel ? AskOkCancel(prompt) : -1;
                if (answer < 0)
                    Raise(ZipMsg::DS_NoVolume);
                if (answer == 0)
                    Raise(ZipMsg::DS_Canceled);
            }
        }
    }

    void ReadEntries(int64_t computedOffset)
    {
        if (!file.Seek(cdOffsetInFile))
            Raise(ZipMsg::DS_SeekError, "central directory");
        int64_t lowest = file.Size();
        const uint64_t plausible = static_cast<uint64_t>(file.Size() / 46 + 1);
        z.FZipContents.reserve(static_cast<size_t>(std::min<uint64_t>(totalEntries, plausible)));
        for (uint64_t i = 0; i < totalEntries; ++i) {
            uint8_t h[46];
            size_t got = file.Read(h, sizeof h);
            while (got < sizeof h) {
                if (z.FDiskNr >= thisDisk)
                    Raise(ZipMsg::DS_CEHBadRead);
                GetDisk(z.FDiskNr + 1);
                got = file.Read(h, sizeof h);
            }
            if (U32(h) != kCentralSig)
                Raise(ZipMsg::DS_CEHWrongSig);
            auto e = std::make_unique<ZipDirEntry>();
            e->MadeByVersion = h[4];
            e->HostVersionNo = h[5];
            e->Version = U16(h + 6);
            e->Flag = U16(h + 8);
            e->CompressionMethod = U16(h + 10);
            e->DateTime = U32(h + 12);
            e->CRC32 = U32(h + 16);
            e->CompressedSize = U32(h + 20);
            e->UncompressedSize = U32(h + 24);
            e->FileNameLength = U16(h + 28);
            e->ExtraFieldLength = U16(h + 30);
            e->FileCommentLen = U16(h + 32);
            e->StartOnDisk = U16(h + 34);
            e->IntFileAttrib = U16(h + 36);
            e->ExtFileAttrib = U32(h + 38);
            e->RelOffLocalHdr = U32(h + 42);

            std::string raw(e->FileNameLength, '\0');
            if (file.Read(raw.data(), raw.size()) != raw.size())
                Raise(ZipMsg::DS_CENameLen);
            e->FileName = ConvertName(raw, *e);
            std::replace(e->FileName.begin(), e->FileName.end(), '/', '\\');
            e->Encrypted = (e->Flag & 1) != 0;
            if (e->ExtraFieldLength > 0) {
                e->ExtraData.resize(e->ExtraFieldLength);
                if (file.Read(e->ExtraData.data(), e->ExtraData.size()) != e->ExtraData.size())
                    Raise(ZipMsg::DS_SeekError, "extra field");
                TakeZip64Extra(*e);
            }
            if (e->FileCommentLen > 0) {
                std::string comment(e->FileCommentLen, '\0');
                if (file.Read(comment.data(), comment.size()) != comment.size())
                    Raise(ZipMsg::DS_CECommentLen);
                e->FileComment = ConvertName(comment, *e);
            }
            lowest = std::min<int64_t>(lowest, static_cast<int64_t>(
                                                   std::min<uint64_t>(e->RelOffLocalHdr, INT64_MAX)));
            if (!z.UseDirOnlyEntries && e->IsDirectory()) {
                ++z.FDirOnlyCount;
                continue;
            }
            z.FZipContents.push_back(std::move(e));
            if (z.OnNewName)
                z.OnNewName(&z, static_cast<int>(z.FZipContents.size()), *z.FZipContents.back());
        }
        z.FSFXOffset = lowest + (computedOffset - cdOffset);
        if (z.FSFXOffset < 0)
            z.FSFXOffset = 0;
    }

    // Sizes and the local header offset of a zip64 member: the fields that
    // hold 0xFFFFFFFF are in the zip64 extra block, in this order.
    static void TakeZip64Extra(ZipDirEntry &e)
    {
        const auto &x = e.ExtraData;
        size_t p = 0;
        while (p + 4 <= x.size()) {
            const uint16_t id = U16(x.data() + p);
            const size_t len = U16(x.data() + p + 2);
            if (p + 4 + len > x.size())
                return;
            if (id == 0x0001) {
                const uint8_t *d = x.data() + p + 4;
                size_t q = 0;
                auto take = [&](uint64_t &field) {
                    if (field == 0xFFFFFFFF && q + 8 <= len) {
                        field = U64(d + q);
                        q += 8;
                    }
                };
                take(e.UncompressedSize);
                take(e.CompressedSize);
                take(e.RelOffLocalHdr);
                return;
            }
            p += 4 + len;
        }
    }

    std::string ConvertName(const std::string &raw, const ZipDirEntry &e) const
    {
        if (e.Flag & 0x0800) // the name is UTF-8 by the archive's own word
            return DecodeStoredText(raw);
        const bool oem = (z.CodePage == TZipCodePage::cpAuto && e.HostVersionNo == 0) ||
                         e.HostVersionNo == 6 || (e.HostVersionNo == 11 && e.MadeByVersion == 50) ||
                         z.CodePage == TZipCodePage::cpOEM;
        return oem ? OemToUtf8(raw) : DecodeStoredText(raw);
    }

    int64_t cdOffsetInFile = 0;

    void Run()
    {
        drive = QueryDrive(path);
        if (!drive.Exists)
            Raise(ZipMsg::DS_NoDrive, z.FDrive);
        z.FVolumeName = drive.VolumeLabel;
        diskPath = path;
        if (!FindEndRecord(true))
            return;
        if (thisDisk != 0)
            z.FIsSpanned = true;
        z.FTotalDisks = thisDisk + 1;
        z.FDiskNr = thisDisk;
        int64_t computed;
        if (cdDisk != thisDisk) {
            GetDisk(cdDisk);
            computed = cdOffset;
            if (cdOffset > file.Size())
                Raise(ZipMsg::DS_SeekError, "central directory");
        } else {
            computed = endPos - zip64Bytes - cdSize;
            if (computed < 0)
                Raise(ZipMsg::DS_SeekError, "central directory");
            if (computed != cdOffset)
                z.ReportMessage(ZipMsg::LI_WrongZipStruct,
                                FormatMsg(ZipMsg::LI_WrongZipStruct, OffsetMismatchText(computed, cdOffset)), false);
        }
        cdOffsetInFile = computed;
        ReadEntries(computed);
        z.FDirectoryRead = true;
    }
};

TZipLister::TZipLister() = default;
TZipLister::~TZipLister() = default;

void TZipLister::SetDLLDirectory(const std::string &v)
{
    FDLLDirectory = v;
    if (!FDLLDirectory.empty() && (FDLLDirectory.back() == '\\' || FDLLDirectory.back() == '/'))
        FDLLDirectory.pop_back();
}

void TZipLister::SetZipFileName(const std::string &name)
{
    FZipFileName = name;
    if (!Designing)
        List();
}

void TZipLister::ClearContents()
{
    FZipContents.clear();
    FSFXOffset = 0;
    FZipComment.clear();
    FIsSpanned = false;
    FDirOnlyCount = 0;
}

void TZipLister::ReportMessage(int errCode, const std::string &text, bool display)
{
    FErrCode = errCode;
    FMessage = text;
    if (display && ShowErrMsg && !Unattended && ShowMessageBox)
        ShowMessageBox(text);
    if (OnMessage)
        OnMessage(this, errCode, text);
}

void TZipLister::List()
{
    ClearContents();
    FDirectoryRead = false;
    FErrCode = 0;
    FMessage.clear();
    std::error_code ec;
    if (FZipFileName.empty() || !std::filesystem::is_regular_file(FZipFileName, ec)) {
        if (OnDirUpdate)
            OnDirUpdate(this);
        return;
    }
    if (++FBusy == 1 && BusyCursor)
        BusyCursor(true);
    Impl impl(*this);
    impl.path = std::filesystem::absolute(FZipFileName, ec).string();
    if (ec)
        impl.path = FZipFileName;
    FDrive = "/";
    bool failed = false;
    try {
        impl.Run();
    } catch (const EZipError &e) {
        ReportMessage(e.Code, e.Text, e.Display);
        failed = true;
    } catch (const std::bad_alloc &) {
        ReportMessage(ZipMsg::GE_NoMem, ZipMessageText(ZipMsg::GE_NoMem), true);
        failed = true;
    } catch (const std::exception &e) {
        ReportMessage(ZipMsg::DS_ErrorUnknown, FormatMsg(ZipMsg::DS_ErrorUnknown, e.what()), true);
        failed = true;
    }
    if (failed) {
        // A listing that failed part-way lists nothing: Count() is 0 once the
        // name is cleared, and the entries read so far go with it.
        FZipContents.clear();
        FZipFileName.clear();
        FSFXOffset = 0;
        FDirectoryRead = false;
    }
    impl.file.Close();
    if (--FBusy == 0 && BusyCursor)
        BusyCursor(false);
    if (OnDirUpdate)
        OnDirUpdate(this);
}
