#pragma once
// TRarLister lists, tests or extracts a RAR archive through the RAR listing
// library (see untUnRar.h) and reports each member through events.
//
// Use during a disc scan (one component kept for the whole session):
//
//     TRarLister rar;                       // binds the library, if there is one
//     rar.SetMode(DFRAR_LIST);            // list only: members are not decoded
//     rar.OnFileProcessing = [&](TRarLister *, const TDFRARHeaderData &h, int) {
//         // one call per member: h.FileName, h.UnpackedSize, h.FileTime, ...
//     };
//     rar.FileName = "/media/cd/setup.rar";
//     rar.Extract();                      // runs the whole pass, never throws
//
// Without a library Extract() reports "UnRar.Dll nicht geladen" through
// OnError and lists nothing; failures go to OnError with their German texts
// and end the pass, so a scan simply goes on with the next file.
// Member names are UTF-8: a name without a Unicode form made on DOS, OS/2 or
// Windows is read in the DOS code page, one from another system is kept as
// stored. Messages are the library's bytes.
#include "archive/untUnRar.h"

#include <QDateTime>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum TDFRarMode { DFRAR_EXTRACT, DFRAR_LIST };
enum TOverrideOptions { OR_ALWAYS, OR_NEVER, OR_EVENT };

// One member as OnFileProcessing sees it.
struct TDFRARHeaderData {
    std::string ArchiveName;
    std::string FileName;
    bool ContinuedOnNext = false;   // header flag 0x02
    bool ContinuedFromPrev = false; // header flag 0x01
    bool Encrypted = false;         // header flag 0x04
    bool Directory = false;         // dictionary bits 5 to 7 all set
    uint64_t DictionarySize = 0;    // bytes; 0 for a directory
    uint64_t PackedSize = 0;
    uint64_t UnpackedSize = 0;
    std::string HostOS;    // "DOS", "IBM OS/2", "Windows", "Unix" or empty
    std::string CRC;       // lower-case hexadecimal without leading zeros
    QDateTime FileTime;    // the MS-DOS date and time as stored; invalid if impossible
    int UnpackVersionMajor = 0;
    int UnpackVersionMinor = 0;
    std::string Method;    // "speichern" ... "sehr gut", or empty
    bool AttrArchive = false, AttrCompressed = false, AttrDirectory = false, AttrHidden = false;
    bool AttrNormal = false, AttrOffline = false, AttrReadOnly = false, AttrSystem = false;
    bool AttrTemporary = false;
};

// Turns a header as the library reports it into the record above.
TDFRARHeaderData MakeRarHeaderRecord(const RARHeaderDataEx &h, bool haveExtendedSizes);
// The texts of the record's fields.
std::string RarHostText(unsigned hostOS);
std::string RarMethodText(unsigned method);
QDateTime RarDosTime(unsigned dosTime);
// The German message for a library result code.
std::string RarErrorText(int code);

class TRarLister {
public:
    using TCommentEvent = std::function<void(TRarLister *Sender, const std::string &Comment)>;
    using TErrorEvent = std::function<void(TRarLister *Sender, const std::string &Message, int MessageID)>;
    using TFileProcessingEvent =
        std::function<void(TRarLister *Sender, const TDFRARHeaderData &hdrData, int status)>;
    using TOverrideEvent = std::function<void(TRarLister *Sender, const std::string &FileName, bool &CanOverride)>;
    using TPasswordEvent = std::function<void(TRarLister *Sender, std::string &Password)>;
    using TProgressEvent = std::function<void(TRarLister *Sender, uint64_t FilesProcessed, uint64_t FileCount,
                                              uint64_t SizeProcessed, uint64_t SizeCount)>;
    using TRarStatusEvent = std::function<void(TRarLister *Sender, const std::string &Message, int status)>;
    // Gets the missing volume's name (may be changed); an empty name declines.
    using TVolChangeEvent = std::function<void(TRarLister *Sender, std::string &ArcName, int Mode)>;

    // Binds the process-wide library (loading it on first use).
    TRarLister();
    // Works through the given entries instead (not owned; nullptr: as if no
    // library were found). For tests and for callers with their own binding.
    explicit TRarLister(const TUnRarEntries *entries);
    ~TRarLister();
    TRarLister(const TRarLister &) = delete;
    TRarLister &operator=(const TRarLister &) = delete;

    // Runs the whole pass over FileName.
    void Extract();

    TDFRarMode Mode() const { return Mode_; }
    void SetMode(TDFRarMode mode);
    bool Loaded() const { return Api_ != nullptr; }
    // True when the last Extract could read nothing of the archive: no
    // library, an archive that does not open, or an error before the first
    // member header. Members reported before a later error were read, and an
    // archive without members is no failure.
    bool HeaderUnreadable() const { return HeaderUnreadable_; }

    std::string ArchivComment;
    bool CanProgress = false;
    int CommentSize = 0;
    std::string Directory;
    int DllVersion = 0;
    std::vector<std::string> FileList;
    std::string FileName;
    TOverrideOptions OverrideEvent = OR_ALWAYS;
    std::string Password;
    bool PromptForPass = false;
    bool PromptForVolumn = false;
    bool StopProcessing = false;

    TCommentEvent OnComment;
    TErrorEvent OnError;
    TFileProcessingEvent OnFileProcessing;
    TOverrideEvent OnOverride;
    TPasswordEvent OnPassword;
    TProgressEvent OnProgress;
    TRarStatusEvent OnRarStatus;
    TVolChangeEvent OnVolChange;

    // The small input dialog the component shows itself with PromptForPass or
    // PromptForVolumn (caption, typed as "*" when `secret`, an edit of at most
    // 120 characters, "Ok" and "Abbrechen"); true for Ok. This layer has no
    // widgets, so the application installs it; without one nothing is asked.
    static std::function<bool(const std::string &caption, bool secret, std::string &text)> InputDialog;

private:
    static int Callback(UINT msg, LPARAM userData, LPARAM p1, LPARAM p2);
    struct PaddedHeaderEx;
    int ReadHeader(HANDLE h, PaddedHeaderEx &padded);
    void CountMembers();
    int ProcessMember(HANDLE h, const TDFRARHeaderData &rec);
    void Error(const std::string &message, int code);
    void Status(const std::string &message, int status);

    const TUnRarEntries *Api_ = nullptr;
    bool OwnsReference_ = false;
    TDFRarMode Mode_ = DFRAR_EXTRACT;
    int Operation_ = RAR_EXTRACT;
    uint64_t FilesProcessed_ = 0, FileCount_ = 0, SizeProcessed_ = 0, SizeCount_ = 0;
    bool HeaderUnreadable_ = false;
};
