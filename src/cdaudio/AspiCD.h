#pragma once
// Inventory of the CD drives and the table of contents of an audio CD.
//
// Three access paths reach a drive, all through the drive layer of
// platform/CdDevice.h:
//  - the SCSI generic path: commands through SG_IO on the drive's node of
//    the SCSI generic driver (/dev/sg*), drives found by their SCSI address;
//  - the pass-through path: the same commands through SG_IO on the drive's
//    block device (/dev/sr*), drives found by the volume service's letters;
//  - the CD-ROM ioctls (CDROMREADTOCHDR / CDROMREADTOCENTRY), the fallback of
//    the pass-through path for the table of contents.
// Every answer of a drive is checked before use: a short or malformed reply
// counts as no disc.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum TCDInterface { cdiAutoDetect = 0, cdiASPI = 1, cdiNTSCSI = 2 };

struct CdDriveInfo {
    uint8_t HaId = 0, Target = 0, Lun = 0;
    std::string Vendor, ProductId, Revision, VendorSpec, Description;
    char DriveLetter = 0;
};

inline constexpr int MaxCdDrives = 26;

struct CdDriveList {
    uint8_t CurrentDrive = 0;
    uint8_t Count = 0;
    CdDriveInfo Drives[MaxCdDrives];
};

struct TocEntry {
    uint8_t Minute = 0, Second = 0, Frame = 0;
    int32_t IsAudio = 0; // -1 audio track, 0 otherwise
};

inline constexpr int MaxTocTracks = 100;

struct CdToc {
    int32_t TrackCount = 0;
    TocEntry LeadOut;
    TocEntry Tracks[MaxTocTracks];
};

// The data of READ TOC (MSF, format 0): a 4-byte header and 100 descriptors.
inline constexpr size_t RawTocSize = 804;

// Whether the SCSI generic driver answers (the generic path's "library").
extern bool AspiAvailable;
// Set once CdInterfaceAvailable found the pass-through path; never cleared.
extern bool UseSpti;

// Asks the drive layer whether the SCSI generic driver is there.
void LoadAspiLibrary();
void FreeAspiLibrary();
// SCSI host adapters reachable through the generic driver; -1 without it.
int AspiAdapterCount();
// This system has the device pass-through with drives opened for reading and
// writing: the class of the newest systems (5).
int GetOsClass();
bool CdInterfaceAvailable();

// Fills the drive list; false when no drive could be listed or identified.
// Raises std::runtime_error when no access path fits the interface.
bool GetCDList(CdDriveList &list, TCDInterface iface);
bool GetDriveInfo(int index, CdDriveList &list, TCDInterface iface);
// Pass-through path: the letters of every CD-ROM drive of the volume service.
int ListCdDrivesByType(CdDriveList &list);
// INQUIRY and SCSI address of one drive through its block device.
bool InquirySpti(int index, CdDriveList &list);
// The volume service's letter (upper case) of a drive's block device; 0 when none.
char DriveLetterOfDevice(const std::string &blockDevice);

// Reads the table of contents of drive `index`: true when there is no disc
// (or the reply cannot be used), false when a table of contents was read.
bool ReadTOC(CdDriveList list, int index, CdToc &toc, TCDInterface iface);
// 0 read, -1 failed; `raw` gets the reply (MSF form) or is zeroed.
int ReadTocSpti(const CdDriveList &list, int index, std::vector<uint8_t> &raw);
// 0 read, -1 failed; `raw` gets the reply in the same MSF form as READ TOC.
int ReadTocIoctl(const CdDriveList &list, int index, std::vector<uint8_t> &raw);
// Converts a raw reply; false (and an empty table) when it does not hold a
// whole, ordered table of contents. An all-zero header gives one track at 0.
bool RawTocToCdToc(const std::vector<uint8_t> &raw, CdToc &toc);
bool IsBufferZero(const uint8_t *buffer, size_t length);

// Messages the drive code shows the user: the permission notice and the
// input/output errors. Message boxes unless replaced (tests).
extern std::function<void(const std::string &text, const std::string &caption)> CdUserMessage;

// The SCSI commands.
std::vector<uint8_t> InquiryCommand();
std::vector<uint8_t> ReadTocCommand();
// The identification fields of a 100-byte INQUIRY reply.
void TakeInquiry(const std::vector<uint8_t> &reply, CdDriveInfo &info);
