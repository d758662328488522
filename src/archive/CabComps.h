#pragma once
// TSTCabReader: lists the file entries of a cabinet (".cab") file from its
// header and file records, after the cabinet library has confirmed the format.
//
// Usage (a disc scan):
//     TSTCabReader cab;
//     try {
//         bool isCab = cab.EnumFilesEntries("/media/cd/data1.cab",
//             [](TSTCabReader *, const std::string &name, uint64_t size, int folder,
//                uint16_t dosDate, uint16_t dosTime, uint16_t attrs, bool &abort) {
//                 // name is UTF-8 with '\' between folders;
//                 // DosDateTimeToDateTime(dosDate, dosTime) gives 0.0 for no date
//             });
//         // false: not a cabinet, nothing listed, nothing to report
//     } catch (const std::exception &e) {
//         // unopenable file (std::system_error) or a damaged cabinet (ECabinetError,
//         // std::runtime_error): an error of this archive only; the scan goes on
//     }
#include "archive/CabIntf.h"

#include <cstdint>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

// An error of the cabinet library or of a cabinet's records.
class ECabinetError : public std::runtime_error {
public:
    ECabinetError(const TERF &erf, bool fromCompression);
    const TERF &ErrorRecord() const { return FErf; }
    bool FromCompression() const { return FFromCompression; }
    // The message: the text of erfOper with its code, then the system's text of
    // erfType when there is one; "FDI error"/"FCI error" without fError.
    static std::string BuildMessage(const TERF &erf, bool fromCompression);

private:
    TERF FErf;
    bool FFromCompression;
};

// The system's last-error exception: "System Error. Code: N.\n<text>".
class EOSError : public std::runtime_error {
public:
    explicit EOSError(int code);
    int ErrorCode() const { return FCode; }

private:
    int FCode;
};

class TSTCabReader;

enum TSTCabReaderOption {
    // A member marked "run after extraction" (attribute 0x40) is opened once
    // written, with the desktop's opener for its type: never through a
    // command interpreter, and never run as a program unless the desktop
    // itself opens such files that way.
    croExecuteOnExtract,
    // An existing target that is read-only is left as it is and the member skipped.
    croDontOverwriteReadOnlyFiles,
};
using TSTCabReaderOptions = std::set<TSTCabReaderOption>;

// The notification codes of the extraction, as the events report them.
enum : int {
    fdintCABINET_INFO = 0,
    fdintPARTIAL_FILE = 1,
    fdintCOPY_FILE = 2,
    fdintCLOSE_FILE_INFO = 3,
    fdintNEXT_CABINET = 4,
    fdintENUMERATE = 5,
};

// Each cabinet opened by an extraction: its path, the next cabinet of its set
// and that one's disk label (empty for the last), the set id and its number in the set.
using TCabinetInfoEvent =
    std::function<void(TSTCabReader *Sender, const std::string &aCabinet, const std::string &aNextCabinet,
                       const std::string &aNextDisk, uint16_t aSetId, uint16_t aCabinetNumber)>;
// Before a member is written: the target path may be changed; aSkip (or an
// empty target) leaves the member out.
using TCopyFileEvent =
    std::function<void(TSTCabReader *Sender, const std::string &aFileName, uint64_t anUncompressedSize,
                       uint16_t aDate, uint16_t aTime, uint16_t anAttrs, std::string &aTargetName, bool &aSkip)>;
// A member that begins in an earlier cabinet of the set (named with its
// disk), or lies in a folder that does: it is extracted with that cabinet,
// not with this one.
using TCopyPartialFileEvent = std::function<void(TSTCabReader *Sender, const std::string &aFileName,
                                                 const std::string &aFirstCabinet, const std::string &aFirstDisk)>;
// A member written completely to aTargetName; anExecute says it is about to be opened.
using TCloseFileEvent = std::function<void(TSTCabReader *Sender, const std::string &aFileName,
                                           const std::string &aTargetName, bool anExecute)>;
// A member goes on in the next cabinet: aCabinetPath (proposed beside this
// one) may be changed; anAbort ends the extraction.
using TNextCabinetEvent = std::function<void(TSTCabReader *Sender, const std::string &aNextCabinet,
                                             const std::string &aNextDisk, std::string &aCabinetPath, bool &anAbort)>;
// Notifications without an event of their own: fdintENUMERATE after each folder.
using TUnrecognizedNotifyEvent = std::function<void(TSTCabReader *Sender, int aNotification)>;

using TReaderEnumFilesEntriesEvent =
    std::function<void(TSTCabReader *Sender, const std::string &aFileName, uint64_t anUncompressedSize, int aFlags,
                       uint16_t aDate, uint16_t aTime, uint16_t anAttrs, bool &anAbort)>;

class TSTCabReader {
public:
    TSTCabReader() = default;
    ~TSTCabReader(); // never throws; a failed context release is dropped
    TSTCabReader(const TSTCabReader &) = delete;
    TSTCabReader &operator=(const TSTCabReader &) = delete;

    // Lists the file entries: true when the file is a cabinet. The handler
    // (or OnReaderEnumFilesEntriesEvent when none is given) is called once per
    // entry until the last one or until it sets anAbort.
    // Throws EOSError when the file cannot be opened, ECabinetError when the
    // context cannot be created or the records are damaged, and
    // std::runtime_error for a wrong signature or an unreachable first entry.
    bool EnumFilesEntries(const std::string &aFileName, const TReaderEnumFilesEntriesEvent &aHandler = {});

    // Writes the members of a cabinet below aDestination: true when the file
    // is a cabinet. When a member goes on into the next cabinet of a set, that
    // cabinet is taken in (OnNextCabinet) and its members are written too.
    // Members are written whole under a temporary name and renamed,
    // with their time stamp and read-only attribute. A name's "." and ".."
    // steps are followed; names that would leave aDestination, or that end
    // without a file name, end the extraction with ECabinetError
    // (FDIERROR_TARGET_FILE), as do write failures; damage raises ECabinetError too.
    bool ExtractFiles(const std::string &aFileName, const std::string &aDestination);

    TReaderEnumFilesEntriesEvent OnReaderEnumFilesEntriesEvent;
    TSTCabReaderOptions Options;
    TCabinetInfoEvent OnCabinetInfo;
    TCopyFileEvent OnCopyFile;
    TCopyPartialFileEvent OnCopyPartialFile;
    TCloseFileEvent OnCloseFile;
    TNextCabinetEvent OnNextCabinet;
    TUnrecognizedNotifyEvent OnUnrecognizedNotify;
    // Members to write, by their listed names ("dir\\name"); empty for all.
    std::vector<std::string> FilesToExtract;
    // The paths the last ExtractFiles wrote, in order.
    std::vector<std::string> ExtractedFiles;

    const TERF &ErrorRecord() const { return FErf; }

private:
    TFdiContext *Context();
    // EnumFilesEntries with `handler` as given; the number of folders the
    // header declares goes to `aFolderCount` when it is not null.
    bool ListEntries(const std::string &aFileName, const TReaderEnumFilesEntriesEvent &handler, int *aFolderCount);

    TFdiContext *FContext = nullptr;
    TERF FErf;
};
