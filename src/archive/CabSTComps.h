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
//         // unopenable file (std::system_error) or a damaged cabinet (ESTCabinet,
//         // std::runtime_error): an error of this archive only; the scan goes on
//     }
#include "archive/CabIntf.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// An error of the cabinet library or of a cabinet's records.
class ESTCabinet : public std::runtime_error {
public:
    ESTCabinet(const TERF &erf, bool fromCompression);
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
    // Throws EOSError when the file cannot be opened, ESTCabinet when the
    // context cannot be created or the records are damaged, and
    // std::runtime_error for a wrong signature or an unreachable first entry.
    bool EnumFilesEntries(const std::string &aFileName, const TReaderEnumFilesEntriesEvent &aHandler = {});

    TReaderEnumFilesEntriesEvent OnReaderEnumFilesEntriesEvent;
    const TERF &ErrorRecord() const { return FErf; }

private:
    TFdiContext *Context();

    TFdiContext *FContext = nullptr;
    TERF FErf;
};
