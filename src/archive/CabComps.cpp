#include "archive/CabComps.h"

#include "archive/CabConsts.h"
#include "platform/ShellOpen.h"
#include "util/BaseFileUtils.h"
#include "util/TextCodec.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Hex4(int v)
{
    char b[16];
    std::snprintf(b, sizeof b, "%04X", static_cast<unsigned>(v) & 0xFFFFu);
    return b;
}

// A read-only file closed on every way out.
class CabStream {
public:
    // Only a regular file is opened, so that a pipe given for a file cannot
    // stall the scan; for anything else errno is EINVAL.
    explicit CabStream(const std::string &path) : fd_(OpenRegularFile(path)) {}
    ~CabStream()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    CabStream(const CabStream &) = delete;
    CabStream &operator=(const CabStream &) = delete;
    bool IsOpen() const { return fd_ >= 0; }
    int64_t Size() const
    {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? st.st_size : -1;
    }
    bool Seek(int64_t pos)
    {
        if (pos < 0 || pos > Size())
            return false;
        return ::lseek(fd_, pos, SEEK_SET) == pos;
    }
    int64_t Tell() const { return ::lseek(fd_, 0, SEEK_CUR); }
    size_t Read(void *buf, size_t n)
    {
        size_t got = 0;
        while (got < n) {
            const ssize_t r = ::read(fd_, static_cast<char *>(buf) + got, n - got);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            got += static_cast<size_t>(r);
        }
        return got;
    }

private:
    int fd_;
};

[[noreturn]] void Corrupt()
{
    throw ECabinetError(TERF{FDIERROR_CORRUPT_CABINET, 0, true}, false);
}

} // namespace

std::string ECabinetError::BuildMessage(const TERF &erf, bool fromCompression)
{
    if (!erf.fError)
        return fromCompression ? SFciError : SFdiError;
    std::string m = (fromCompression ? FciErrorText(erf.erfOper) : FdiErrorText(erf.erfOper)) + " [0x" +
                    Hex4(erf.erfOper) + "]";
    if (erf.erfType != 0)
        m += ".\r\n" + std::string(std::strerror(erf.erfType)) + " [0x" + Hex4(erf.erfType) + "].";
    return m;
}

ECabinetError::ECabinetError(const TERF &erf, bool fromCompression)
    : std::runtime_error(BuildMessage(erf, fromCompression)), FErf(erf), FFromCompression(fromCompression)
{
}

EOSError::EOSError(int code)
    : std::runtime_error("System Error. Code: " + std::to_string(code) + ".\n" + std::strerror(code)), FCode(code)
{
}

TSTCabReader::~TSTCabReader()
{
    FDIDestroy(FContext);
}

TFdiContext *TSTCabReader::Context()
{
    if (!FContext) {
        FContext = FDICreate(FErf);
        if (!FContext)
            throw ECabinetError(FErf, false);
    }
    return FContext;
}

bool TSTCabReader::EnumFilesEntries(const std::string &aFileName, const TReaderEnumFilesEntriesEvent &aHandler)
{
    return ListEntries(aFileName, aHandler ? aHandler : OnReaderEnumFilesEntriesEvent, nullptr);
}

bool TSTCabReader::ListEntries(const std::string &aFileName, const TReaderEnumFilesEntriesEvent &handler,
                               int *aFolderCount)
{
    // The cabinet test.
    {
        CabStream probe(aFileName);
        if (!probe.IsOpen() && errno == EINVAL) // a folder, a pipe or a device is no cabinet
            return false;
        if (!probe.IsOpen())
            throw EOSError(errno);
    }
    if (!FDIIsCabinet(Context(), aFileName))
        return false;

    CabStream s(aFileName);
    if (!s.IsOpen())
        throw EOSError(errno);
    uint8_t hb[TCabHeader::Size];
    const size_t got = s.Read(hb, sizeof hb);
    if (got >= 4 && TCabHeader::Parse(hb).Signature != TCabHeader::MSCF)
        throw std::runtime_error(SCabWrongFormat);
    if (got < sizeof hb)
        Corrupt();
    const TCabHeader h = TCabHeader::Parse(hb);
    if (h.Signature != TCabHeader::MSCF)
        throw std::runtime_error(SCabWrongFormat);
    if (!s.Seek(h.FirstFileOffset))
        throw std::runtime_error(SCabStreamPosition);
    if (aFolderCount)
        *aFolderCount = h.FolderCount;

    for (unsigned i = 0; i < h.FileCount; ++i) {
        uint8_t rb[TCabFileRecord::Size];
        if (s.Read(rb, sizeof rb) != sizeof rb)
            Corrupt();
        const TCabFileRecord r = TCabFileRecord::Parse(rb);
        // The name ends at its zero byte, at most MaxName bytes on.
        const int64_t namePos = s.Tell();
        char nb[TCabFileRecord::MaxName + 1];
        const size_t n = s.Read(nb, sizeof nb);
        const void *zero = std::memchr(nb, 0, n);
        if (!zero || !s.Seek(namePos + (static_cast<const char *>(zero) - nb) + 1))
            Corrupt();
        const std::string name(nb, static_cast<size_t>(static_cast<const char *>(zero) - nb));
        bool abort = false;
        if (handler)
            handler(this, DecodeStoredText(name), r.UncompressedSize, r.FolderIndex, r.Date, r.Time, r.Attribs,
                    abort);
        if (abort)
            break;
    }
    return true;
}

namespace {

constexpr uint16_t kContinuedFromPrev = 0xFFFD;
constexpr uint16_t kContinuedToNext = 0xFFFE;
constexpr uint16_t kContinuedPrevAndNext = 0xFFFF;
constexpr uint16_t kAttrReadOnly = 0x01;
constexpr uint16_t kAttrRunAfterExtract = 0x40;

struct Member {
    std::string Name;
    uint64_t Size;
    uint16_t Folder, Date, Time, Attrs;
    int SetFolder;
};

[[noreturn]] void TargetFailure(int err)
{
    throw ECabinetError(TERF{FDIERROR_TARGET_FILE, err, true}, false);
}

// The member's path below the destination. Its steps are followed as a
// path's are: "." and doubled separators stay where they are, ".." goes back
// a step. Empty when the name would leave the destination (an absolute name,
// a ".." above it) or ends without a file name ("\\", "." or "..").
std::filesystem::path SafeTarget(const std::string &destination, const std::string &name)
{
    if (name.empty() || name[0] == '\\' || name[0] == '/')
        return {};
    std::vector<std::string> steps;
    size_t start = 0;
    std::string step;
    while (start <= name.size()) {
        size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = name.size();
        step = name.substr(start, end - start);
        if (step == "..") {
            if (steps.empty())
                return {};
            steps.pop_back();
        } else if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
        start = end + 1;
    }
    if (steps.empty() || step.empty() || step == "." || step == "..")
        return {};
    std::filesystem::path target(destination);
    for (const std::string &s : steps)
        target /= s;
    return target;
}

// The member's MS-DOS date and time (local time) on the written file.
void SetTime(const std::string &path, uint16_t date, uint16_t time)
{
    struct tm t {};
    t.tm_year = (date >> 9) + 80;
    t.tm_mon = ((date >> 5) & 0x0F) - 1;
    t.tm_mday = date & 0x1F;
    t.tm_hour = time >> 11;
    t.tm_min = (time >> 5) & 0x3F;
    t.tm_sec = (time & 0x1F) * 2;
    t.tm_isdst = -1;
    if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1)
        return; // no date: the file keeps the time it was written
    const time_t when = mktime(&t);
    if (when == time_t(-1))
        return;
    struct timespec ts[2] = {{when, 0}, {when, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), ts, 0);
}

} // namespace

bool TSTCabReader::ExtractFiles(const std::string &aFileName, const std::string &aDestination)
{
    ExtractedFiles.clear();
    // The members from the cabinets' own records, in the order of the set's
    // merged list: a member that goes on into the next cabinet is listed
    // again there as continued, and counted once. Each gets the set-wide
    // number of its folder; a folder that goes on into the next cabinet is
    // that cabinet's first.
    std::vector<Member> members;
    int folderBase = 0;
    bool fromPrev = false; // the first cabinet's first folder began earlier
    bool goesOn = false;
    auto take = [&](const std::string &path, bool first) {
        int folders = 0;
        std::vector<Member> these;
        bool continuedFromPrev = false;
        if (!ListEntries(
                path,
                [&](TSTCabReader *, const std::string &name, uint64_t size, int folder, uint16_t date, uint16_t time,
                    uint16_t attrs, bool &) { these.push_back({name, size, uint16_t(folder), date, time, attrs, 0}); },
                &folders))
            return false;
        goesOn = false;
        for (Member &m : these) {
            const bool prev = m.Folder == kContinuedFromPrev || m.Folder == kContinuedPrevAndNext;
            const bool next = m.Folder == kContinuedToNext || m.Folder == kContinuedPrevAndNext;
            continuedFromPrev = continuedFromPrev || prev;
            goesOn = goesOn || next;
            m.SetFolder = folderBase + (prev ? 0 : next ? std::max(folders - 1, 0) : m.Folder);
            if (!prev || first)
                members.push_back(m);
        }
        if (first)
            fromPrev = continuedFromPrev;
        folderBase += std::max(folders - 1, 0);
        return true;
    };
    if (!take(aFileName, true))
        return false;
    std::unique_ptr<TFdiCabinet> cab = TFdiCabinet::Open(Context(), aFileName);
    if (!cab)
        throw ECabinetError(FErf, false);
    if (OnCabinetInfo)
        OnCabinetInfo(this, aFileName, cab->NextName(), cab->NextDisk(), cab->SetId(), cab->CabinetNumber());

    // The set's next cabinets, for as long as a member goes on into them.
    while (goesOn && !cab->NextName().empty()) {
        std::string path = (std::filesystem::path(aFileName).parent_path() / cab->NextName()).string();
        bool abort = false;
        if (OnNextCabinet)
            OnNextCabinet(this, cab->NextName(), cab->NextDisk(), path, abort);
        if (abort)
            throw ECabinetError(TERF{FDIERROR_USER_ABORT, 0, true}, false);
        if (!take(path, false))
            throw ECabinetError(TERF{FDIERROR_NOT_A_CABINET, 0, true}, false);
        if (!cab->AppendNext(path))
            throw ECabinetError(FErf, false);
        if (OnCabinetInfo)
            OnCabinetInfo(this, path, cab->NextName(), cab->NextDisk(), cab->SetId(), cab->CabinetNumber());
    }
    if (cab->FileCount() != members.size())
        throw ECabinetError(TERF{FDIERROR_CORRUPT_CABINET, 0, true}, false);

    for (size_t i = 0; i <= members.size(); ++i) {
        // Each folder ends with the notification that has no event of its own.
        if (i > 0 && OnUnrecognizedNotify &&
            (i == members.size() || members[i].SetFolder != members[i - 1].SetFolder))
            OnUnrecognizedNotify(this, fdintENUMERATE);
        if (i == members.size())
            break;
        const Member &m = members[i];
        // The folder that began in an earlier cabinet is decoded from there:
        // its members are extracted with that cabinet.
        if (fromPrev && m.SetFolder == 0) {
            if (OnCopyPartialFile)
                OnCopyPartialFile(this, m.Name, cab->PrevName(), cab->PrevDisk());
            continue;
        }
        if (!FilesToExtract.empty() &&
            std::find(FilesToExtract.begin(), FilesToExtract.end(), m.Name) == FilesToExtract.end())
            continue;
        const std::filesystem::path safe = SafeTarget(aDestination, m.Name);
        if (safe.empty())
            throw ECabinetError(TERF{FDIERROR_TARGET_FILE, 0, true}, false);
        std::string target = safe.string();
        bool skip = false;
        if (OnCopyFile)
            OnCopyFile(this, m.Name, m.Size, m.Date, m.Time, m.Attrs, target, skip);
        if (skip || target.empty())
            continue;
        struct stat st {};
        if (Options.count(croDontOverwriteReadOnlyFiles) && ::stat(target.c_str(), &st) == 0 &&
            !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)))
            continue;
        std::error_code ec;
        const std::filesystem::path parent = std::filesystem::path(target).parent_path();
        if (!parent.empty())
            std::filesystem::create_directories(parent, ec);
        if (ec)
            TargetFailure(ec.value());
        // Written whole under a temporary name beside the target, then renamed
        // over it: a failure never leaves a half-written member behind.
        std::string temp = target + ".partXXXXXX";
        const int fd = mkstemp(temp.data());
        if (fd < 0)
            TargetFailure(errno);
        ::close(fd);
        if (cab->Extract(i, temp) != FDIERROR_NONE) {
            ::unlink(temp.c_str());
            throw ECabinetError(FErf, false);
        }
        SetTime(temp, m.Date, m.Time);
        // A new file's permissions, not the private ones of the temporary file.
        ::chmod(temp.c_str(), NewFileMode() & ((m.Attrs & kAttrReadOnly) ? 0444 : 0666));
        if (std::rename(temp.c_str(), target.c_str()) != 0) {
            const int err = errno;
            ::unlink(temp.c_str());
            TargetFailure(err);
        }
        ExtractedFiles.push_back(target);
        const bool execute = Options.count(croExecuteOnExtract) && (m.Attrs & kAttrRunAfterExtract);
        if (OnCloseFile)
            OnCloseFile(this, m.Name, target, execute);
        if (execute) {
            const ShellOpenResult opened = ShellOpen(QString::fromStdString(target));
            if (!opened.ok)
                throw std::runtime_error(opened.error.toStdString());
        }
    }
    return true;
}
