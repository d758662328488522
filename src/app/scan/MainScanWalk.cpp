// The disc reader and its folder lister, and the text rules of a scan.
#include "app/scan/MainScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QString>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "app/LangUnit.h"
#include "platform/QtText.h"
#include "platform/VolumeService.h"
#include "storage/DataSet.h"
#include "storage/ExMemDS.h"
#include "util/TextCodec.h"

namespace {

constexpr size_t kNameWidth = 50; // CdName / Namecd field width in characters
const char *const kNoName = "Bez n\xc3\xa1zvu";

// Deeper than any real tree; only a file system that lies about identities
// could lead a walk this far.
constexpr int kMaxDepth = 4096;

FileTime ToFileTime(const struct statx_timestamp &t)
{
    return UnixTimeToFileTime(t.tv_sec, t.tv_nsec);
}

std::string Lower(std::string_view ext)
{
    std::string s(ext);
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string_view Extension(std::string_view name)
{
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

bool ParseNumber(const std::string &text, long long &value)
{
    if (text.empty())
        return false;
    const char *end = text.data() + text.size();
    auto r = std::from_chars(text.data(), end, value);
    return r.ec == std::errc() && r.ptr == end;
}

} // namespace

bool TScanLister::Identity(const std::string &, uint64_t &device, uint64_t &inode)
{
    device = inode = 0;
    return false;
}

bool TDiskLister::Identity(const std::string &localFolder, uint64_t &device, uint64_t &inode)
{
    struct stat st;
    if (localFolder.empty() || ::stat(localFolder.c_str(), &st) != 0) {
        device = inode = 0;
        return false;
    }
    device = st.st_dev;
    inode = st.st_ino;
    return true;
}

bool TDiskLister::List(const std::string &storedFolder, const std::string &localFolder,
                       std::vector<TScanEntry> &entries)
{
    entries.clear();
    if (audio_) {
        // The audio CD has its track files in the root and nothing below.
        const size_t colon = storedFolder.find(':');
        const std::string rest = colon == std::string::npos ? storedFolder : storedFolder.substr(colon + 1);
        if (rest.find_first_not_of('\\') != std::string::npos)
            return false;
        entries = virtualRoot_;
        return true;
    }
    if (localFolder.empty())
        return false;
    DIR *dir = ::opendir(localFolder.c_str());
    if (!dir)
        return false;
    const int fd = ::dirfd(dir);
    struct stat self;
    if (::fstat(fd, &self) != 0) {
        ::closedir(dir);
        return false;
    }
    while (struct dirent *de = ::readdir(dir)) {
        const char *n = de->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        struct statx sx;
        if (::statx(fd, n, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
            if (errno != EACCES && errno != EPERM)
                continue; // gone meanwhile
            // Names listed but not to be looked at: a folder that may be
            // listed but not entered. Its contents cannot be read, which is
            // not the same as having none.
            ::closedir(dir);
            entries.clear();
            return false;
        }
        TScanEntry e;
        e.name = n;
        // The own name is kept apart only when storing changes it: most names
        // are not copied twice.
        if (e.name.find('\\') != std::string::npos) {
            e.localName = e.name;
            std::replace(e.name.begin(), e.name.end(), '\\', '/');
        }
        const mode_t mode = sx.stx_mode;
        uint32_t a = 0;
        if (S_ISLNK(mode)) {
            a |= FILE_ATTR_REPARSE_POINT;
            struct stat target;
            if (::fstatat(fd, n, &target, 0) == 0 && S_ISDIR(target.st_mode))
                a |= FILE_ATTR_DIRECTORY;
            else
                a |= FILE_ATTR_ARCHIVE;
        } else if (S_ISDIR(mode)) {
            a |= FILE_ATTR_DIRECTORY;
            e.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
            e.inode = sx.stx_ino;
            // Another file system mounted here is a volume of its own.
            if (e.device != self.st_dev || (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT &&
                                            sx.stx_attributes & STATX_ATTR_MOUNT_ROOT))
                a |= FILE_ATTR_REPARSE_POINT;
        } else if (S_ISREG(mode)) {
            a |= FILE_ATTR_ARCHIVE;
            e.size = sx.stx_size;
        } else {
            a |= FILE_ATTR_SYSTEM;
        }
        if (!(mode & S_IWUSR))
            a |= FILE_ATTR_READONLY;
        if (n[0] == '.')
            a |= FILE_ATTR_HIDDEN;
        e.attributes = a;
        e.lastWriteTime = ToFileTime(sx.stx_mtime);
        // A birth time of exactly 1970-01-01 00:00 is a file system that
        // keeps none (images unpacked without it): the last write stands in.
        const bool birth = (sx.stx_mask & STATX_BTIME) && (sx.stx_btime.tv_sec != 0 || sx.stx_btime.tv_nsec != 0);
        e.creationTime = birth ? ToFileTime(sx.stx_btime) : e.lastWriteTime;
        entries.push_back(std::move(e));
    }
    ::closedir(dir);
    return true;
}

bool WalkedFolderAttributes(uint32_t attributes, bool *recorded)
{
    switch (attributes) {
    case 16: case 17: case 18: case 19: case 20: case 48:
        if (recorded)
            *recorded = true;
        return true;
    case 22: // hidden system folders are read for their contents only
        if (recorded)
            *recorded = false;
        return true;
    default:
        if (recorded)
            *recorded = true;
        return false;
    }
}

TDiskReader::TDiskReader(TDataSet &scanTable, TScanLister &lister) : table_(scanTable), lister_(lister)
{
    // The fields each entry sets, in the order Record gives their values.
    for (const char *name : {"Path", "Name", "Size", "Type", "Namecd", "Number", "Attrib", "CreateDate", "LastChange",
                             "FType", "CdIdCode"})
        fields_.push_back(&table_.FieldByName(name));
    created_ = fields_[7];
    icon_ = &table_.FieldByName("Icon");
    PathWidth = size_t(fields_[0]->Size());
}

void TDiskReader::Read(const std::string &storedFolder, const std::string &localFolder)
{
    root_ = storedFolder;
    if (root_.empty() || root_.back() != '\\')
        root_ += '\\';
    std::string local = localFolder;
    if (!local.empty() && local.back() != '/')
        local += '/';
    walked_.clear();
    uint64_t dev = 0, ino = 0;
    if (lister_.Identity(local, dev, ino))
        walked_.insert({dev, ino});
    // Nothing shows the scan table while it fills, so its controls are off and
    // each record's fields are set in one go.
    table_.DisableControls();
    memory_ = dynamic_cast<TExMemoryData *>(&table_);
    if (memory_ && !memory_->CanSetFieldValues(fields_))
        memory_ = nullptr;
    unsettled_ = false;
    try {
        Walk(root_, local, 0);
        Settle();
    } catch (...) {
        try {
            Settle();
        } catch (...) {
        }
        memory_ = nullptr;
        table_.EnableControls();
        throw;
    }
    memory_ = nullptr;
    table_.EnableControls();
}

void TDiskReader::Settle()
{
    if (!unsettled_)
        return;
    unsettled_ = false;
    table_.Resync();
}

void TDiskReader::Walk(const std::string &storedFolder, const std::string &localFolder, int depth)
{
    std::vector<TScanEntry> entries;
    // An unreadable folder ends only its own walk; it is counted.
    if (!lister_.List(storedFolder, localFolder, entries)) {
        ++Tally.unreadableFolders;
        Tally.Name(storedFolder);
        return;
    }
    for (const TScanEntry &e : entries) {
        if (e.name == "." || e.name == "..")
            continue;
        bool recorded = true;
        if (WalkedFolderAttributes(e.attributes, &recorded)) {
            bool fresh = true;
            if (e.device != 0 || e.inode != 0)
                fresh = walked_.insert({e.device, e.inode}).second;
            // A folder whose path would not fit the Path field is recorded but
            // not opened: its contents would be stored under a cut, wrong path.
            // It is counted, so the end of the scan can say so.
            const std::string inner = storedFolder + e.name + '\\';
            const bool fits = StoredTextLength(inner) <= PathWidth;
            if (fresh && !fits) {
                ++Tally.tooDeepPaths;
                Tally.Name(inner);
            }
            if (fresh && depth < kMaxDepth && fits) {
                const std::string local =
                    localFolder.empty() ? std::string() : localFolder + (e.localName.empty() ? e.name : e.localName) + '/';
                Walk(inner, local, depth + 1);
            }
        }
        if (recorded)
            Record(storedFolder, localFolder, e);
    }
}

void TDiskReader::Record(const std::string &storedFolder, const std::string &localFolder, const TScanEntry &e)
{
    const bool folder = (e.attributes & FILE_ATTR_DIRECTORY) != 0;
    if (!folder)
        FileBytes += e.size;
    const std::string_view ext = Extension(e.name);
    std::string icon;
    if (ExeIcons && !folder && (ext == ".exe" || ext == ".EXE") && IconOf)
        icon = IconOf(localFolder.empty() ? std::string()
                                          : localFolder + (e.localName.empty() ? e.name : e.localName));
    // Path, Name, Size, Type, Namecd, Number, Attrib, CreateDate, LastChange, FType, CdIdCode.
    char sizeText[24];
    const auto sizeEnd = std::to_chars(sizeText, sizeText + sizeof sizeText, folder ? uint64_t(0) : e.size).ptr;
    values_.resize(fields_.size());
    AssignText(values_[0], storedFolder);
    AssignText(values_[1], e.name);
    AssignText(values_[2], std::string_view(sizeText, size_t(sizeEnd - sizeText)));
    values_[3] = std::int64_t(folder ? 0 : 1);
    AssignText(values_[4], DiscName);
    AssignText(values_[5], DiscNumber);
    values_[6] = std::int64_t(static_cast<int32_t>(e.attributes));
    AssignText(values_[7], TimeText(e.creationTime));
    AssignText(values_[8], TimeText(e.lastWriteTime));
    values_[9] = std::int64_t(0);
    AssignText(values_[10], Serial);
    // The record goes straight into the table where nothing would see the steps
    // of an insert; a record with an icon (rare) takes them.
    if (icon.empty() && memory_ && memory_->AppendValues(fields_, values_)) {
        unsettled_ = true;
    } else {
        table_.Append();
        if (memory_ && memory_->CanSetFieldValues(fields_)) {
            memory_->SetFieldValues(fields_, values_);
        } else {
            for (size_t i = 0; i < fields_.size(); ++i)
                fields_[i]->SetValue(values_[i]);
        }
        if (!icon.empty())
            icon_->SetAsBytes(icon);
        table_.Post();
        unsettled_ = false;
    }
    ++records_;
    if (folder && storedFolder == root_ && OnRootFolder) {
        Settle();
        OnRootFolder();
    }
    if (!OnArchive || folder)
        return;
    const std::string lower = Lower(ext);
    char kind = 0;
    if (lower == ".zip" && ListZip)
        kind = 'z';
    else if (lower == ".rar" && ListRar)
        kind = 'r';
    else if (lower == ".cab" && ListCab)
        kind = 'c';
    if (!kind)
        return;
    Settle();
    OnArchive(kind, storedFolder, localFolder, e);
}

const std::string &TDiskReader::TimeText(FileTime t)
{
    static const std::string none;
    if (t == 0)
        return none;
    // The text must fit the date field whole (a cut "PM" would be a wrong time).
    if (!times_)
        times_ = std::make_unique<TFileTimeTexts>(size_t(std::max(created_->Size(), 1)));
    return times_->Text(t);
}

int DiscKindOf(int driveType, const std::string &label, uint32_t serial, std::string &serialText)
{
    serialText.clear();
    switch (driveType) {
    case DRIVE_CDROM:
        serialText = std::to_string(serial);
        return label == "Audio CD" ? 2 : 0;
    case DRIVE_FIXED:
        return 1;
    case DRIVE_REMOVABLE:
        return 3;
    default:
        return 0;
    }
}

TScanVolume TakeScanVolume(char letter, const std::string &driveText)
{
    TScanVolume v;
    v.letter = static_cast<char>(letter >= 'A' && letter <= 'Z' ? letter - 'A' + 'a' : letter);
    v.driveText = driveText;
    VolumeService &volumes = VolumeService::Current();
    const auto info = volumes.Drive(v.letter);
    if (!info)
        return v;
    v.exists = true;
    v.cdrom = info->type == DRIVE_CDROM;
    v.label = info->ready ? info->label : std::string();
    v.kind = DiscKindOf(info->type, v.label, info->serial, v.serialText);
    v.totalBytes = info->totalBytes;
    v.boundFolder = info->boundFolder;
    if (info->audioCd()) {
        for (const VolumeEntry &t : info->virtualRoot) {
            TScanEntry e;
            e.name = t.name;
            e.attributes = t.attributes;
            e.size = t.size;
            e.creationTime = t.creationTime;
            e.lastWriteTime = t.lastWriteTime;
            v.audioRoot.push_back(std::move(e));
        }
    } else if (info->ready) {
        const std::string root = std::string(1, v.letter) + ":\\";
        if (auto local = volumes.LocalPath(root))
            v.localRoot = *local;
    }
    return v;
}

std::string NameFromDriveText(const std::string &text, std::string *drive)
{
    std::string s = text;
    if (drive)
        *drive = s.substr(0, std::min<size_t>(2, s.size()));
    const bool bracket = s.find('[') != std::string::npos;
    s.erase(0, std::min<size_t>(4, s.size()));
    if (bracket) {
        const size_t close = s.rfind(']');
        if (close != std::string::npos)
            s.erase(close, 2);
    }
    return s.empty() ? std::string(kNoName) : s;
}

bool SameDiscName(const std::string &a, const std::string &b)
{
    return a == b || ToQString(a).compare(ToQString(b), Qt::CaseInsensitive) == 0;
}

std::string MakeUniqueCdName(const std::string &base, const std::vector<std::string> &names)
{
    // Widths count characters. A name cut to make room keeps its closing bracket:
    // the text inside the brackets gives way.
    auto cutTo = [&](size_t width) {
        if (StoredTextLength(base) <= width)
            return base;
        if (base.size() >= 2 && base.back() == ']' && width >= 1)
            return std::string(CutToCharWidth(std::string_view(base).substr(0, base.size() - 1), width - 1)) + ']';
        return std::string(CutToCharWidth(base, width));
    };
    auto candidateFor = [&](int counter) {
        if (counter == 0)
            return cutTo(kNameWidth);
        const std::string suffix = std::to_string(counter);
        return cutTo(kNameWidth - suffix.size()) + suffix;
    };
    int counter = 0;
    std::string candidate = candidateFor(0);
    bool hit = true;
    while (hit) {
        hit = false;
        for (const std::string &n : names) {
            if (SameDiscName(n, candidate)) {
                hit = true;
                candidate = candidateFor(++counter);
            }
        }
    }
    return candidate;
}

std::string NextFreeCdNumber(const std::vector<std::string> &numbers)
{
    long long candidate = 1;
    for (const std::string &n : numbers) {
        long long v;
        if (ParseNumber(n, v)) {
            candidate = v;
            break;
        }
    }
    bool hit = true;
    while (hit) {
        hit = false;
        for (const std::string &n : numbers) {
            long long v;
            if (ParseNumber(n, v) && v == candidate && v < INT64_MAX) {
                candidate = v + 1;
                hit = true;
            }
        }
    }
    return std::to_string(candidate);
}

namespace {

// A value with at most two decimals, the decimals printed only when present.
std::string TwoDecimals(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", std::round(v * 100.0) / 100.0);
    std::string s = buf;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    return s;
}

} // namespace

uint64_t ScanDiscBytes(const TScanVolume &volume, uint64_t fileBytes)
{
    return volume.boundFolder ? fileBytes : volume.totalBytes;
}

std::string ScanSizeText(uint64_t size)
{
    // 2000 and 200000 bytes fall to the smaller unit.
    if (size > 200000)
        return TwoDecimals(double(size) / 1024.0 / 1024.0) + " mb";
    if (size > 2000)
        return TwoDecimals(double(size) / 1024.0) + " kb";
    return std::to_string(size) + " b";
}

std::string ScanTallyNotice(const TScanTally &tally)
{
    if (tally.Total() == 0)
        return {};
    const auto line = [](int count, const std::string &text) {
        return count > 0 ? "\n- " + std::to_string(count) + " " + text : std::string();
    };
    const int lang = langunit::CurrentLanguage();
    const auto pick = [lang](const char *en, const char *sk, const char *cz) {
        return std::string(lang == langunit::LangEnglish ? en : lang == langunit::LangCzech ? cz : sk);
    };
    std::string text =
        pick("The disc could not be read whole; what was read is kept as it is.",
             "Disk sa nedal prečítať celý; čo sa prečítalo, zostáva, ako je.",
             "Disk nešlo přečíst celý; co se přečetlo, zůstává, jak je.") +
        line(tally.unreadableFolders, pick("folder(s) could not be read (stored as empty folders)",
                                           "priečinok(-ov) sa nedal prečítať (uložené ako prázdne)",
                                           "složka(-ek) nešla přečíst (uloženo jako prázdné)")) +
        line(tally.unreadableArchives, pick("archive(s) could not be read (stored without their members)",
                                            "archív(-ov) sa nedal prečítať (uložené bez obsahu)",
                                            "archiv(-ů) nešel přečíst (uloženo bez obsahu)")) +
        line(tally.tooDeepPaths, pick("folder(s) lie too deep for the catalogue's path field (stored without their "
                                      "contents)",
                                      "priečinok(-ov) leží príliš hlboko pre pole cesty katalógu (uložené bez obsahu)",
                                      "složka(-ek) leží příliš hluboko pro pole cesty katalogu (uloženo bez obsahu)"));
    if (!tally.named.empty()) {
        text += "\n\n" + pick("The first of them:", "Prvé z nich:", "První z nich:");
        for (const std::string &p : tally.named) {
            // A very deep path is shown by its beginning and its end.
            const QString shown = ToQString(p);
            text += "\n  " + (shown.size() <= 90 ? p
                                                  : FromQString(shown.left(30) + QStringLiteral(" ... ") +
                                                                shown.right(55)));
        }
        const int more = tally.Total() - static_cast<int>(tally.named.size());
        if (more > 0)
            text += "\n  " + pick("... and ", "... a ďalších ", "... a dalších ") + std::to_string(more);
    }
    return text;
}
