#pragma once
// TZipLister: lists the members of a zip archive from its end record and
// central directory alone (no decompression).
//
// Usage (a disc scan):
//     TZipLister zip;
//     zip.ShowErrMsg = false;                 // the scan wants no message boxes
//     zip.SetZipFileName("/media/cd/a.zip");  // lists at once; never throws
//     for (int i = 0; i < zip.Count(); ++i) {
//         const ZipDirEntry &e = zip.ZipContents(i);
//         // e.FileName (UTF-8, folders separated by '\'), e.UncompressedSize (64-bit),
//         // DosDateTimeToDateTime(e.DateTime) (0.0 = no date), e.ExternalAttr, e.IsDirectory()
//     }
// A file that is not a zip, or a damaged one, simply gives Count() == 0;
// ErrCode()/Message() tell why, and OnMessage fires for every message.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// MS-DOS date and time words as a date-time (days since 30 December 1899,
// the fraction being the time of day). An impossible date or time (date 0,
// month 13, 31 February, second 60) gives 0.0, "no date": one odd member
// must not end a whole disc scan.
double DosDateTimeToDateTime(uint16_t dosDate, uint16_t dosTime);
// The combined form kept by zip entries: date in the high word, time in the low.
double DosDateTimeToDateTime(uint32_t dosDateTime);

// One listed member. The first group is the central directory header as
// stored (sizes and the local header offset widened to 64 bits, taken from
// the zip64 extra field where the 32-bit field holds 0xFFFFFFFF).
struct ZipDirEntry {
    uint8_t MadeByVersion = 0;
    uint8_t HostVersionNo = 0;   // host system: 0 FAT, 3 Unix, 6 HPFS, 11 NTFS ...
    uint16_t Version = 0;        // version needed to extract
    uint16_t Flag = 0;           // general-purpose flags
    uint16_t CompressionMethod = 0;
    uint32_t DateTime = 0;       // MS-DOS date (high word) and time (low word)
    uint32_t CRC32 = 0;
    uint64_t CompressedSize = 0;
    uint64_t UncompressedSize = 0;
    uint16_t FileNameLength = 0;
    uint16_t ExtraFieldLength = 0;
    uint16_t FileCommentLen = 0;
    uint16_t StartOnDisk = 0;
    uint16_t IntFileAttrib = 0;
    uint32_t ExtFileAttrib = 0;
    uint64_t RelOffLocalHdr = 0;

    std::string FileName;        // UTF-8, '/' replaced by '\'
    std::string FileComment;     // UTF-8
    bool Encrypted = false;      // flag bit 0
    std::vector<uint8_t> ExtraData; // copy of the extra field; empty when none

    // A directory-only entry: its name has no file part.
    bool IsDirectory() const { return !FileName.empty() && FileName.back() == '\\'; }
    uint16_t DosDate() const { return static_cast<uint16_t>(DateTime >> 16); }
    uint16_t DosTime() const { return static_cast<uint16_t>(DateTime & 0xFFFF); }
};

enum class TZipCodePage { cpAuto, cpNone, cpOEM };

class TZipLister;

using TNewNameEvent = std::function<void(TZipLister *Sender, int SeqNo, const ZipDirEntry &ZipEntry)>;
using TNotifyEvent = std::function<void(TZipLister *Sender)>;
using TMessageEvent = std::function<void(TZipLister *Sender, int ErrCode, const std::string &Message)>;
using TGetNextDiskEvent = std::function<void(TZipLister *Sender, int DiskSeqNo, int DiskTotal,
                                             const std::string &Drive, bool &AbortAction)>;

// What the listing needs to know about the drive holding an archive. The
// application binds TZipLister::DriveQuery to its volume service; without a
// binding every path is taken to lie on an existing fixed drive without label.
struct ZipDriveInfo {
    bool Exists = true;
    bool Removable = false;      // removable media: spanned disks are asked for by label
    std::string VolumeLabel;
};

// Message numbers of the listing.
namespace ZipMsg {
constexpr int GE_NoMem = 10103;          // out of memory
constexpr int DS_SeekError = 10201;      // cannot seek / read the extra field
constexpr int DS_ErrorUnknown = 10202;   // any other failure
constexpr int LI_WrongZipStruct = 10203; // data in front of the archive
constexpr int LI_GarbageAtEOF = 10204;   // garbage at the end of the archive
constexpr int GE_OldDllZip = 10605;
constexpr int GE_OldDllUnz = 10705;
constexpr int SF_NoSFXSupport = 10804;
constexpr int DS_FileOpen = 11001;
constexpr int DS_NotFound = 11002;
constexpr int DS_NoInFile = 11003;       // drive character not acceptable
constexpr int DS_NoDrive = 11004;        // no such drive
constexpr int DS_NoVolume = 11006;       // the disk prompt could not be shown
constexpr int DS_Canceled = 11007;
constexpr int DS_CEHBadRead = 11013;     // central header short read
constexpr int DS_CEHWrongSig = 11015;    // central header wrong signature
constexpr int DS_CENameLen = 11017;      // file name short read
constexpr int DS_CECommentLen = 11022;   // file comment short read
constexpr int DS_NoUnattSpan = 11025;    // a disk is needed but nobody may be asked
constexpr int DS_NoValidZip = 11036;
constexpr int DS_FirstInSet = 11037;
constexpr int DS_NotLastInSet = 11038;
constexpr int DS_FirstFileOnHD = 11045;
constexpr int CF_NoSpanSupport = 11048;
} // namespace ZipMsg

// The text of a message number ("%s" in it stands for the argument).
std::string ZipMessageText(int msgNo);

class TZipLister {
public:
    TZipLister();
    ~TZipLister();
    TZipLister(const TZipLister &) = delete;
    TZipLister &operator=(const TZipLister &) = delete;

    // Stores the name and lists the archive at once (unless designing).
    void SetZipFileName(const std::string &name);
    const std::string &ZipFileName() const { return FZipFileName; }
    // Lists the current ZipFileName again.
    void List();

    int Count() const { return FZipFileName.empty() ? 0 : static_cast<int>(FZipContents.size()); }
    const ZipDirEntry &ZipContents(int i) const { return *FZipContents.at(static_cast<size_t>(i)); }

    const std::string &ZipComment() const { return FZipComment; }
    int DirOnlyCount() const { return FDirOnlyCount; }
    int64_t SFXOffset() const { return FSFXOffset; }
    bool IsSpanned() const { return FIsSpanned; }
    int DiskNr() const { return FDiskNr; }
    int TotalDisks() const { return FTotalDisks; }
    const std::string &Drive() const { return FDrive; }
    const std::string &VolumeName() const { return FVolumeName; }
    // True when the last listing found the end record and read the whole
    // central directory (an archive without members included); false for a
    // file that is no zip or whose directory could not be read.
    bool DirectoryRead() const { return FDirectoryRead; }
    int ErrCode() const { return FErrCode; }
    const std::string &Message() const { return FMessage; }
    bool Busy() const { return FBusy > 0; }

    // Options read by the listing.
    bool ShowErrMsg = true;
    bool Unattended = false;
    bool UseDirOnlyEntries = false;
    TZipCodePage CodePage = TZipCodePage::cpAuto;
    bool Designing = false;

    // Kept for the archive-writing and extraction side; not used by the listing.
    int AddCompLevel = 9;
    std::string VersionInfo = "1.70";
    int MinZipDllVers() const { return FMinZipDllVers; }
    void SetMinZipDllVers(int v) { if (v >= 170) FMinZipDllVers = v; }
    int MinUnzDllVers() const { return FMinUnzDllVers; }
    void SetMinUnzDllVers(int v) { if (v >= 170) FMinUnzDllVers = v; }
    int PasswordReqCount() const { return FPasswordReqCount; }
    void SetPasswordReqCount(int v) { FPasswordReqCount = v > 15 ? 15 : (v < 0 ? 0 : v); }
    const std::string &DLLDirectory() const { return FDLLDirectory; }
    void SetDLLDirectory(const std::string &v);
    std::string SFXCaption = "Self-extracting Archive";
    std::string SFXPath = "ZipSFX.bin";

    // Events.
    TNewNameEvent OnNewName;
    TNotifyEvent OnDirUpdate;
    TMessageEvent OnMessage;
    TGetNextDiskEvent OnGetNextDisk;

    // Process-wide bindings to the platform layers (see ZipDriveInfo). ShowMessageBox
    // shows an error text; AskOkCancel shows a disk request and returns 1 for OK,
    // 0 for Cancel, -1 when no box could be shown. Unbound: no box.
    static std::function<ZipDriveInfo(const std::string &path)> DriveQuery;
    static std::function<void(const std::string &text)> ShowMessageBox;
    static std::function<int(const std::string &text)> AskOkCancel;
    // Shows (true) and takes back (false) the busy cursor around a listing, at
    // its first busy level only. Unbound: the cursor stays as it is.
    static std::function<void(bool busy)> BusyCursor;

private:
    struct Impl;
    friend struct Impl;

    void ReportMessage(int errCode, const std::string &text, bool display);
    void ClearContents();

    std::string FZipFileName;
    std::vector<std::unique_ptr<ZipDirEntry>> FZipContents;
    std::string FZipComment;
    int FDirOnlyCount = 0;
    int64_t FSFXOffset = 0;
    bool FIsSpanned = false;
    int FDiskNr = 0;
    int FTotalDisks = 0;
    std::string FDrive;
    std::string FVolumeName;
    int FBusy = 0;
    int FErrCode = 0;
    bool FDirectoryRead = false;
    std::string FMessage;
    int FMinZipDllVers = 170;
    int FMinUnzDllVers = 170;
    int FPasswordReqCount = 1;
    std::string FDLLDirectory;
};
