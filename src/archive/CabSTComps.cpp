#include "archive/CabSTComps.h"

#include "archive/CabSTConsts.h"
#include "util/TextCodec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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
    // Non-blocking, so that a pipe given for a file cannot stall the scan.
    explicit CabStream(const std::string &path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {}
    ~CabStream()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    CabStream(const CabStream &) = delete;
    CabStream &operator=(const CabStream &) = delete;
    bool IsOpen() const { return fd_ >= 0; }
    bool IsRegularFile() const
    {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    }
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
    throw ESTCabinet(TERF{FDIERROR_CORRUPT_CABINET, 0, true}, false);
}

} // namespace

std::string ESTCabinet::BuildMessage(const TERF &erf, bool fromCompression)
{
    if (!erf.fError)
        return fromCompression ? SFciError : SFdiError;
    std::string m = (fromCompression ? FciErrorText(erf.erfOper) : FdiErrorText(erf.erfOper)) + " [0x" +
                    Hex4(erf.erfOper) + "]";
    if (erf.erfType != 0)
        m += ".\r\n" + std::string(std::strerror(erf.erfType)) + " [0x" + Hex4(erf.erfType) + "].";
    return m;
}

ESTCabinet::ESTCabinet(const TERF &erf, bool fromCompression)
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
            throw ESTCabinet(FErf, false);
    }
    return FContext;
}

bool TSTCabReader::EnumFilesEntries(const std::string &aFileName, const TReaderEnumFilesEntriesEvent &aHandler)
{
    const TReaderEnumFilesEntriesEvent &handler = aHandler ? aHandler : OnReaderEnumFilesEntriesEvent;

    // The cabinet test.
    {
        CabStream probe(aFileName);
        if (!probe.IsOpen())
            throw EOSError(errno);
        if (!probe.IsRegularFile()) // a folder or a device is no cabinet
            return false;
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
