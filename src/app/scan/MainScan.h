#pragma once
// The drive scan: the folder lister, the recursive disc reader that fills the
// scan table, the volume snapshot a scan works from, and the small text rules
// of a scan (unique disc names and numbers, the size text, the name taken
// from the drive chooser's text).
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "storage/DataSet.h"
#include "util/BaseDateTime.h"

class TDataSet;
class TExMemoryData;
class TField;

// Attribute bits a scan records beyond those the volume service names.
inline constexpr uint32_t ScanAttrCompressed = 0x800;

// One entry of a listed folder.
struct TScanEntry {
    std::string name;        // as stored: a "\" of the file system's name appears as "/"
    std::string localName;   // the file system's own name where it differs from `name`, else empty
    uint32_t attributes = 0; // Windows attribute bits
    uint64_t size = 0;
    FileTime creationTime = 0;
    FileTime lastWriteTime = 0;
    // Identity of a folder (device and inode), so no folder is walked twice;
    // both 0 when the lister cannot tell.
    uint64_t device = 0;
    uint64_t inode = 0;
};

// Lists one folder of the drive being scanned.
class TScanLister {
public:
    virtual ~TScanLister() = default;
    // `storedFolder` is the catalogue's form ("e:\docs\"), `localFolder` the
    // folder on this machine ("/media/x/docs/"; may be empty for listers that
    // have no files). Entries come without "." and "..", in the order the file
    // system gives them. False when the folder cannot be read.
    virtual bool List(const std::string &storedFolder, const std::string &localFolder,
                      std::vector<TScanEntry> &entries) = 0;
    // Identity of the folder itself; false when unknown.
    virtual bool Identity(const std::string &localFolder, uint64_t &device, uint64_t &inode);
};

// Lists real folders below a local root: attributes built from the Linux
// file (directory; read-only when the owner cannot write; hidden for dot
// names; archive for regular files; system for devices, pipes and sockets;
// reparse point for symbolic links and for folders on which another file
// system is mounted, so neither is walked). An audio CD's root is its
// virtual track list.
class TDiskLister : public TScanLister {
public:
    TDiskLister() = default;
    explicit TDiskLister(std::vector<TScanEntry> virtualRoot) : virtualRoot_(std::move(virtualRoot)), audio_(true) {}
    bool List(const std::string &storedFolder, const std::string &localFolder,
              std::vector<TScanEntry> &entries) override;
    bool Identity(const std::string &localFolder, uint64_t &device, uint64_t &inode) override;

private:
    std::vector<TScanEntry> virtualRoot_;
    bool audio_ = false;
};

// What a scan could not read. The records stay as they are (an unreadable
// folder is recorded as an empty one, a broken archive without members); the
// user is told at the end of the reading, never told it all went well.
struct TScanTally {
    static constexpr size_t NamedMax = 5; // paths kept for the message
    int unreadableFolders = 0;
    int unreadableArchives = 0;
    // Folders whose path does not fit the catalogue's Path field: recorded,
    // but their contents are not read.
    int tooDeepPaths = 0;
    std::vector<std::string> named; // the first few paths of all three kinds

    int Total() const { return unreadableFolders + unreadableArchives + tooDeepPaths; }
    void Name(const std::string &path)
    {
        if (named.size() < NamedMax)
            named.push_back(path);
    }
    void Add(const TScanTally &other)
    {
        unreadableFolders += other.unreadableFolders;
        unreadableArchives += other.unreadableArchives;
        tooDeepPaths += other.tooDeepPaths;
        for (const std::string &p : other.named)
            Name(p);
    }
};

// The notice at the end of a scan that could not read everything, in the
// current language; empty when everything was read.
std::string ScanTallyNotice(const TScanTally &tally);

// Walks a folder and everything below it into the scan table: a folder's
// contents first, then its own record.
class TDiskReader {
public:
    TDiskReader(TDataSet &scanTable, TScanLister &lister);

    std::string DiscName;
    std::string DiscNumber;
    std::string Serial;        // CdIdCode of every record
    bool ExeIcons = false;     // setting 2: store the icons of ".exe"/".EXE" files
    bool ListZip = false, ListRar = false, ListCab = false; // settings 3, 4, 5

    // A folder of the root was recorded (the progress step).
    std::function<void()> OnRootFolder;
    // The icon stream of a program file (by its local path); empty for none.
    std::function<std::string(const std::string &localPath)> IconOf;
    // An archive whose listing is on was recorded: kind 'z', 'r' or 'c'. The
    // handler appends its member records.
    std::function<void(char kind, const std::string &storedFolder, const std::string &localFolder,
                       const TScanEntry &entry)>
        OnArchive;

    // Reads `storedFolder` (with or without its trailing "\") whose files lie
    // in `localFolder`.
    void Read(const std::string &storedFolder, const std::string &localFolder);
    // The records appended so far.
    int Records() const { return records_; }
    // Widest stored folder path, in characters, that the walk opens: the narrower
    // of the scan table's Path field (the default) and the target table's.
    size_t PathWidth = 0;
    // What could not be read (folders, paths too deep for the Path field).
    TScanTally Tally;
    // Bytes of the files recorded (archive members not counted).
    uint64_t FileBytes = 0;

private:
    void Walk(const std::string &storedFolder, const std::string &localFolder, int depth);
    void Record(const std::string &storedFolder, const std::string &localFolder, const TScanEntry &e);
    // The text of a file time; files unpacked or copied together share their
    // times, so recent texts are kept.
    const std::string &TimeText(FileTime t);
    // Reads the last record appended straight into the scan table back as the
    // current one, before anyone may look at the table.
    void Settle();

    TDataSet &table_;
    TScanLister &lister_;
    std::string root_;
    std::set<std::pair<uint64_t, uint64_t>> walked_;
    int records_ = 0;
    std::unique_ptr<TFileTimeTexts> times_; // made on first use
    // The scan table itself when its fields can be set in one go (see Record).
    TExMemoryData *memory_ = nullptr;
    bool unsettled_ = false; // records appended straight in since the last Settle
    std::vector<TField *> fields_; // the fields an entry sets, in Record's order
    std::vector<TVariant> values_;
    TField *created_ = nullptr, *icon_ = nullptr;
};

// True when a folder with exactly these attributes is walked; `recorded`
// tells whether it gets a record of its own.
bool WalkedFolderAttributes(uint32_t attributes, bool *recorded);

// What a scan knows of its drive, taken once when the wizard opens.
struct TScanVolume {
    char letter = 0;
    bool exists = false;
    int kind = 0;               // disc kind: 0 data CD/other, 1 fixed, 2 audio CD, 3 removable
    bool cdrom = false;
    std::string serialText;     // unsigned decimal; empty for drives that are not CD-ROM drives
    std::string label;
    uint64_t totalBytes = 0;
    bool boundFolder = false;   // a folder bound to the letter, not a volume of its own
    std::string localRoot;      // folder of the drive's root on this machine; empty for an audio CD
    std::vector<TScanEntry> audioRoot; // the track files of an audio CD
    std::string driveText;      // the drive chooser's text when the snapshot was taken
};

// Reads the drive `letter` from the volume service.
TScanVolume TakeScanVolume(char letter, const std::string &driveText = std::string());

// The disc kind of a drive type and label; `serialText` gets the serial for
// CD-ROM drives and is emptied for all others.
int DiscKindOf(int driveType, const std::string &label, uint32_t serial, std::string &serialText);

// The name the chooser's text gives ("e: [data]" -> "data"); "Bez názvu"
// when none. `drive` gets the first two characters.
std::string NameFromDriveText(const std::string &text, std::string *drive);

// Whether two disc names are the same ignoring letter case, as a name is made
// unique among a catalogue's discs.
bool SameDiscName(const std::string &a, const std::string &b);

// `base` made unique among `names` (ignoring case): base, else base + 1,
// base + 2 ... Every candidate fits the 50-character name field: a counter
// never gets cut away, the base gives way to it (inside its brackets).
std::string MakeUniqueCdName(const std::string &base, const std::vector<std::string> &names);

// The next disc number after the stored ones (in table order): the first
// numeric one (or "1"), moved past every number a pass finds equal to it.
// Stored numbers that are not numbers are passed over.
std::string NextFreeCdNumber(const std::vector<std::string> &numbers);

// "1.5 mb", "12.25 kb", "700 b".
std::string ScanSizeText(uint64_t size);

// The size a scanned disc is catalogued with: its volume's total bytes, or
// for a folder bound to a letter the bytes of the files read in it (the file
// system it lives on is not the disc).
uint64_t ScanDiscBytes(const TScanVolume &volume, uint64_t fileBytes);

// The settings and state of the scan in progress that the wizard and the
// writer share beyond TScanState.
struct TScanSession {
    int Mode = 0;                 // 0 new disc, 1 update of the selected disc
    int Step = 0;                 // 0 before reading, 1 after
    int WaitAfterRead = 1000;     // setting 6, milliseconds
    std::string SelectedDisc;     // update: the disc being updated
    std::vector<std::string> TopFolders;
    int ProgressStep = 0;         // 400 div the number of top folders; kept when there are none
    TScanVolume Volume;           // the drive, as the wizard found it
    TScanTally Tally;             // what the reading could not read
    uint64_t FileBytes = 0;       // bytes of the files read (a bound folder's disc size)
    std::function<void()> OnRootFolder; // the wizard's progress step

    void Clear()
    {
        const int step = ProgressStep;
        *this = TScanSession();
        ProgressStep = step;
    }
};

// The archive readers of the main window, kept for the whole session.
struct TScanReaders;

// Binds the zip reader's drive question and message boxes to the volume
// service and the prompt (process-wide; idempotent).
void BindArchiveReaderHooks();

// The member date texts of each archive kind; "" for "no date" (0.0).
std::string ZipMemberDateText(double dateTime);
std::string ShortDateLongTimeText(double dateTime);
