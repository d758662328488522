// The RAR listing library's exported C entries, and the session's open and member-by-member listing.
#include "RarLibInternal.h"

#include <algorithm>
#include <cstring>
#include <new>

#define RAR_EXPORT extern "C" __attribute__((visibility("default")))

using namespace rarlib;

namespace {

constexpr size_t kPasswordSize = 128;

} // namespace

namespace rarlib {

void CopyText(char *dst, size_t size, const std::string &text)
{
    size_t n = std::min(text.size(), size - 1);
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    std::memcpy(dst, text.data(), n);
    dst[n] = 0;
}

} // namespace rarlib

namespace {

std::wstring Widen(const std::string &text)
{
    const std::u32string chars = Utf8ToUtf32(text);
    return std::wstring(chars.begin(), chars.end());
}

void CopyWide(wchar_t *dst, size_t size, const std::wstring &text)
{
    const size_t n = std::min(text.size(), size - 1);
    std::wmemcpy(dst, text.data(), n);
    dst[n] = 0;
}

} // namespace

int Session::Open(const char *name, unsigned mode, char *cmtBuf, unsigned cmtBufSize, unsigned &cmtSize,
                  unsigned &cmtState, unsigned &arcFlags)
{
    cmtSize = 0;
    cmtState = 0;
    arcFlags = 0;
    if (!name || !*name)
        return ERAR_EOPEN;
    if (mode > RAR_OM_LIST_INCSPLIT)
        return ERAR_UNKNOWN;
    mode_ = mode;
    firstVolume_ = name;
    int r = OpenVolume(firstVolume_, true);
    if (r != ERAR_SUCCESS)
        return r;
    if (!mainPending_) {
        const Block &main = main_;
        arcFlags |= main.volume ? ROADF_VOLUME : 0;
        arcFlags |= main.locked ? ROADF_LOCK : 0;
        arcFlags |= main.solid ? ROADF_SOLID : 0;
        arcFlags |= main.newNumbering && format_ == 4 ? ROADF_NEWNUMBERING : 0;
        arcFlags |= main.recovery ? ROADF_RECOVERY : 0;
        arcFlags |= main.firstVolume ? ROADF_FIRSTVOLUME : 0;
        if (main.oldComment) {
            arcFlags |= ROADF_COMMENT;
            if (cmtBuf && cmtBufSize > 0)
                cmtState = unsigned(ReadOldComment(cmtBuf, cmtBufSize, cmtSize));
        }
    }
    if (encryptedHeaders_) {
        // The comment lies among the encrypted headers, which the password
        // opens only once the caller's callback is in place.
        arcFlags |= ROADF_ENCHEADERS;
        return ERAR_SUCCESS;
    }
    // The archive comment, when there is one, is the service block that
    // follows the main header.
    Block next;
    if (ReadBlock(pos_, next) == ERAR_SUCCESS && next.kind == BlockKind::Service && next.name == "CMT") {
        arcFlags |= ROADF_COMMENT;
        if (cmtBuf && cmtBufSize > 0) {
            const int c = ReadComment(next, pos_, cmtBuf, cmtBufSize, cmtSize);
            cmtState = unsigned(c);
        }
    }
    return ERAR_SUCCESS;
}

int Session::AskPassword()
{
    if (!password.empty())
        return ERAR_SUCCESS;
    char buf[kPasswordSize] = {};
    int answer = -1;
    if (callback)
        answer = callback(UCM_NEEDPASSWORD, userData, LPARAM(buf), LPARAM(sizeof buf));
    buf[sizeof buf - 1] = 0;
    if (answer < 0 || buf[0] == 0)
        return ERAR_MISSING_PASSWORD;
    password = buf;
    return ERAR_SUCCESS;
}

int Session::ReadHeader(Block &out, std::string &volumeName)
{
    haveCurrent_ = false;
    if (fd_ < 0)
        return ERAR_BAD_ARCHIVE;
    if (encryptedHeaders_ && !headerKeyReady_) {
        const int r = AskPassword();
        if (r != ERAR_SUCCESS)
            return r;
        headerKeyReady_ = true;
    }
    if (mainPending_) {
        const int r = ReadSealedMain(true);
        if (r != ERAR_SUCCESS)
            return r;
    }
    for (;;) {
        const int r = NextBlock(out);
        if (r != ERAR_SUCCESS)
            return r;
        if (out.splitBefore && mode_ != RAR_OM_LIST_INCSPLIT)
            continue; // continuation of a member reported in an earlier volume
        break;
    }
    current_ = out;
    haveCurrent_ = true;
    currentOccurrence_ = seenNames_[out.name]++;
    volumeName = volumeName_;
    return ERAR_SUCCESS;
}

namespace {

void FillCommon(const Block &b, unsigned &flags, unsigned &hostOS, unsigned &crc, unsigned &fileTime,
                unsigned &unpVer, unsigned &method, unsigned &attr)
{
    flags = (b.splitBefore ? RHDF_SPLITBEFORE : 0) | (b.splitAfter ? RHDF_SPLITAFTER : 0) |
            (b.encrypted ? RHDF_ENCRYPTED : 0) | (b.fileSolid ? RHDF_SOLID : 0);
    flags |= b.directory ? RHDF_WINDOWMASK : (b.windowCode & 7) << 5;
    hostOS = b.hostOS;
    crc = b.crc;
    fileTime = b.dosTime;
    unpVer = b.unpVer;
    method = b.method;
    attr = b.attr;
}

template <typename F> int Guard(F &&f)
{
    try {
        return f();
    } catch (const std::bad_alloc &) {
        return ERAR_NO_MEMORY;
    } catch (...) {
        return ERAR_UNKNOWN;
    }
}

HANDLE OpenCommon(char *arcName, unsigned openMode, unsigned &openResult, char *cmtBuf, unsigned cmtBufSize,
                  unsigned &cmtSize, unsigned &cmtState, unsigned &flags)
{
    Session *s = nullptr;
    openResult = unsigned(Guard([&] {
        auto session = std::make_unique<Session>();
        const int r = session->Open(arcName, openMode, cmtBuf, cmtBufSize, cmtSize, cmtState, flags);
        if (r == ERAR_SUCCESS)
            s = session.release();
        return r;
    }));
    return s;
}

} // namespace

// Nothing here throws across the C boundary and no entry trusts a length it has not checked.
RAR_EXPORT HANDLE RAROpenArchive(struct RAROpenArchiveData *d)
{
    if (!d)
        return nullptr;
    unsigned flags = 0;
    return OpenCommon(d->ArcName, d->OpenMode, d->OpenResult, d->CmtBuf, d->CmtBufSize, d->CmtSize, d->CmtState,
                      flags);
}

RAR_EXPORT HANDLE RAROpenArchiveEx(struct RAROpenArchiveDataEx *d)
{
    if (!d)
        return nullptr;
    d->Flags = 0;
    HANDLE h = OpenCommon(d->ArcName, d->OpenMode, d->OpenResult, d->CmtBuf, d->CmtBufSize, d->CmtSize,
                          d->CmtState, d->Flags);
    if (h && d->Callback) {
        static_cast<Session *>(h)->callback = d->Callback;
        static_cast<Session *>(h)->userData = d->UserData;
    }
    return h;
}

RAR_EXPORT int RARCloseArchive(HANDLE h)
{
    if (!h)
        return ERAR_ECLOSE;
    delete static_cast<Session *>(h);
    return ERAR_SUCCESS;
}

RAR_EXPORT int RARReadHeader(HANDLE h, struct RARHeaderData *d)
{
    if (!h || !d)
        return ERAR_BAD_ARCHIVE;
    return Guard([&] {
        Block b;
        std::string volume;
        const int r = static_cast<Session *>(h)->ReadHeader(b, volume);
        if (r != ERAR_SUCCESS)
            return r;
        CopyText(d->ArcName, sizeof d->ArcName, volume);
        CopyText(d->FileName, sizeof d->FileName, MemberName(b));
        FillCommon(b, d->Flags, d->HostOS, d->FileCRC, d->FileTime, d->UnpVer, d->Method, d->FileAttr);
        d->PackSize = unsigned(b.dataSize);
        d->UnpSize = unsigned(b.unpSize);
        d->CmtSize = 0;
        d->CmtState = 0;
        return ERAR_SUCCESS;
    });
}

RAR_EXPORT int RARReadHeaderEx(HANDLE h, struct RARHeaderDataEx *d)
{
    if (!h || !d)
        return ERAR_BAD_ARCHIVE;
    return Guard([&] {
        Block b;
        std::string volume;
        const int r = static_cast<Session *>(h)->ReadHeader(b, volume);
        if (r != ERAR_SUCCESS)
            return r;
        CopyText(d->ArcName, sizeof d->ArcName, volume);
        CopyWide(d->ArcNameW, sizeof d->ArcNameW / sizeof(wchar_t), Widen(volume));
        const std::string name = MemberName(b);
        CopyText(d->FileName, sizeof d->FileName, name);
        CopyWide(d->FileNameW, sizeof d->FileNameW / sizeof(wchar_t), Widen(name));
        FillCommon(b, d->Flags, d->HostOS, d->FileCRC, d->FileTime, d->UnpVer, d->Method, d->FileAttr);
        d->PackSize = unsigned(b.dataSize);
        d->PackSizeHigh = unsigned(b.dataSize >> 32);
        d->UnpSize = unsigned(b.unpSize);
        d->UnpSizeHigh = unsigned(b.unpSize >> 32);
        d->CmtSize = 0;
        d->CmtState = 0;
        d->DictSize = unsigned(std::min<uint64_t>(b.dictKB, 0xFFFFFFFFu));
        d->HashType = b.hasBlake2 ? RAR_HASH_BLAKE2 : b.hasCrc ? RAR_HASH_CRC32 : RAR_HASH_NONE;
        std::memset(d->Hash, 0, sizeof d->Hash);
        if (b.hasBlake2)
            std::memcpy(d->Hash, b.blake2, sizeof d->Hash);
        d->RedirType = 0;
        d->DirTarget = 0;
        const uint64_t ft =
            b.hasUnixTime && b.unixTime > -11644473600 ? uint64_t(b.unixTime + 11644473600) * 10000000u : 0;
        d->MtimeLow = unsigned(ft);
        d->MtimeHigh = unsigned(ft >> 32);
        d->CtimeLow = d->CtimeHigh = d->AtimeLow = d->AtimeHigh = 0;
        return ERAR_SUCCESS;
    });
}

RAR_EXPORT int RARProcessFile(HANDLE h, int operation, char *destPath, char *destName)
{
    if (!h)
        return ERAR_BAD_ARCHIVE;
    return Guard([&] { return static_cast<Session *>(h)->Process(operation, destPath, destName); });
}

RAR_EXPORT void RARSetCallback(HANDLE h, UNRARCALLBACK callback, LPARAM userData)
{
    if (!h)
        return;
    static_cast<Session *>(h)->callback = callback;
    static_cast<Session *>(h)->userData = userData;
}

RAR_EXPORT void RARSetChangeVolProc(HANDLE h, CHANGEVOLPROC proc)
{
    if (h)
        static_cast<Session *>(h)->changeVolProc = proc;
}

RAR_EXPORT void RARSetProcessDataProc(HANDLE h, PROCESSDATAPROC proc)
{
    if (h)
        static_cast<Session *>(h)->processDataProc = proc;
}

RAR_EXPORT void RARSetPassword(HANDLE h, char *password)
{
    if (!h)
        return;
    try {
        static_cast<Session *>(h)->password = password ? std::string(password, strnlen(password, kPasswordSize - 1)) : "";
    } catch (...) {
    }
}

RAR_EXPORT int RARGetDllVersion(void)
{
    return RAR_DLL_VERSION;
}
