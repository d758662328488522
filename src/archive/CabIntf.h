#pragma once
// The cabinet library layer: the format test that the cabinet reader asks
// before it reads a file's header and file records itself. libmspack does the
// test through file callbacks of ours, so that a failing system call leaves its
// error code in the caller's error record.
//
// Usage:
//     TERF erf;
//     TFdiContext *ctx = FDICreate(erf);      // nullptr on failure, erf tells why
//     bool cab = FDIIsCabinet(ctx, "/x/setup.cab");
//     FDIDestroy(ctx);
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The library's error record.
struct TERF {
    int erfOper = 0;   // FDIERROR_* / FCIERR_* code
    int erfType = 0;   // system error code (errno) behind it, 0 when none
    bool fError = false;
};

enum : int {
    FDIERROR_NONE = 0,
    FDIERROR_CABINET_NOT_FOUND = 1,
    FDIERROR_NOT_A_CABINET = 2,
    FDIERROR_UNKNOWN_CABINET_VERSION = 3,
    FDIERROR_CORRUPT_CABINET = 4,
    FDIERROR_ALLOC_FAIL = 5,
    FDIERROR_BAD_COMPR_TYPE = 6,
    FDIERROR_MDI_FAIL = 7,
    FDIERROR_TARGET_FILE = 8,
    FDIERROR_RESERVE_MISMATCH = 9,
    FDIERROR_WRONG_CABINET = 10,
    FDIERROR_USER_ABORT = 11,
};

// Cabinet header as the reader takes it: the first 36 bytes of the file.
struct TCabHeader {
    static constexpr int Size = 36;
    uint32_t Signature = 0;       // "MSCF"
    uint32_t CabinetSize = 0;
    uint32_t FirstFileOffset = 0; // at byte 16
    uint8_t VersionMinor = 0;
    uint8_t VersionMajor = 0;
    uint16_t FolderCount = 0;
    uint16_t FileCount = 0;       // at byte 28
    uint16_t Flags = 0;
    uint16_t SetId = 0;
    uint16_t CabinetNumber = 0;

    static constexpr uint32_t MSCF = 0x4643534D;
    // Takes the fields from 36 bytes.
    static TCabHeader Parse(const uint8_t *bytes);
};

// File record (16 bytes, then the name up to a zero byte).
struct TCabFileRecord {
    static constexpr int Size = 16;
    static constexpr int MaxName = 256; // longest name the format allows, in bytes
    uint32_t UncompressedSize = 0;
    uint32_t FolderOffset = 0;
    uint16_t FolderIndex = 0;
    uint16_t Date = 0;
    uint16_t Time = 0;
    uint16_t Attribs = 0;
    static constexpr uint16_t NameIsUtf8 = 0x80;
    static TCabFileRecord Parse(const uint8_t *bytes);
};

struct TFdiContext;

// Creates a decompression context; nullptr with `erf` filled on failure.
// `erf` must outlive the context: the file callbacks write to it.
TFdiContext *FDICreate(TERF &erf);
// True when the file is a cabinet. Our own header test decides: the signature
// "MSCF" and a major version of 1. libmspack gives a second opinion that can
// only refuse a file whose signature it rejects; its other refusals (a cabinet
// without files, damage in the records) leave the file a cabinet, whose damage
// the reader then reports as an error of that archive.
bool FDIIsCabinet(TFdiContext *ctx, const std::string &path);
// Frees the context; false (with the error record set) when that failed.
bool FDIDestroy(TFdiContext *ctx);

// A cabinet opened for extraction, with the next cabinets of its set
// appended as they are needed. Failures fill the context's error record.
class TFdiCabinet {
public:
    // nullptr when the file cannot be opened or read as a cabinet.
    static std::unique_ptr<TFdiCabinet> Open(TFdiContext *ctx, const std::string &path);
    ~TFdiCabinet();
    TFdiCabinet(const TFdiCabinet &) = delete;
    TFdiCabinet &operator=(const TFdiCabinet &) = delete;

    // The last cabinet appended (this one at first): its neighbours' file
    // names and disk labels, empty when there are none.
    std::string NextName() const;
    std::string NextDisk() const;
    std::string PrevName() const;
    std::string PrevDisk() const;
    uint16_t SetId() const;
    uint16_t CabinetNumber() const;
    // Appends the next cabinet of the set; false when it is not that one.
    bool AppendNext(const std::string &path);
    // Files of the whole set as merged so far, in order.
    size_t FileCount() const;
    // Writes file `index` to `target` (created or truncated): FDIERROR_NONE
    // or the failure's code (the error record is filled too).
    int Extract(size_t index, const std::string &target);

private:
    TFdiCabinet() = default;
    TFdiContext *ctx_ = nullptr;
    struct mscabd_cabinet *first_ = nullptr, *last_ = nullptr;
    std::vector<std::unique_ptr<std::string>> names_;
    std::vector<struct mscabd_file *> files_;
};
