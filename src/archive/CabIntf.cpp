#include "archive/CabIntf.h"

#include "util/BaseFileUtils.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <mspack.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uint16_t U16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace

TCabHeader TCabHeader::Parse(const uint8_t *b)
{
    TCabHeader h;
    h.Signature = U32(b);
    h.CabinetSize = U32(b + 8);
    h.FirstFileOffset = U32(b + 16);
    h.VersionMinor = b[24];
    h.VersionMajor = b[25];
    h.FolderCount = U16(b + 26);
    h.FileCount = U16(b + 28);
    h.Flags = U16(b + 30);
    h.SetId = U16(b + 32);
    h.CabinetNumber = U16(b + 34);
    return h;
}

TCabFileRecord TCabFileRecord::Parse(const uint8_t *b)
{
    TCabFileRecord r;
    r.UncompressedSize = U32(b);
    r.FolderOffset = U32(b + 4);
    r.FolderIndex = U16(b + 8);
    r.Date = U16(b + 10);
    r.Time = U16(b + 12);
    r.Attribs = U16(b + 14);
    return r;
}

// The file callbacks handed to libmspack. The system structure comes first so
// that the library's `self` pointer leads back to the context.
struct TFdiContext {
    mspack_system sys{};
    TERF *erf = nullptr;
    mscab_decompressor *cabd = nullptr;
};

namespace {

struct CabFile {
    int fd = -1;
    TFdiContext *ctx = nullptr;
};

void Keep(TFdiContext *ctx)
{
    if (ctx && ctx->erf)
        ctx->erf->erfType = errno;
}

mspack_file *SysOpen(mspack_system *self, const char *filename, int mode)
{
    auto *ctx = reinterpret_cast<TFdiContext *>(self);
    int flags = O_CLOEXEC;
    switch (mode) {
    case MSPACK_SYS_OPEN_READ: flags |= O_RDONLY; break;
    case MSPACK_SYS_OPEN_WRITE: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case MSPACK_SYS_OPEN_UPDATE: flags |= O_RDWR; break;
    case MSPACK_SYS_OPEN_APPEND: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
    default: return nullptr;
    }
    // A cabinet (or its next part) is read only from a regular file, opened
    // so that a named pipe carrying its name cannot stall the reader.
    const int fd = mode == MSPACK_SYS_OPEN_READ ? OpenRegularFile(filename) : ::open(filename, flags, 0644);
    if (fd < 0) {
        Keep(ctx);
        return nullptr;
    }
    auto *f = new (std::nothrow) CabFile{fd, ctx};
    if (!f)
        ::close(fd);
    return reinterpret_cast<mspack_file *>(f);
}

void SysClose(mspack_file *file)
{
    auto *f = reinterpret_cast<CabFile *>(file);
    if (!f)
        return;
    if (::close(f->fd) != 0)
        Keep(f->ctx);
    delete f;
}

int SysRead(mspack_file *file, void *buffer, int bytes)
{
    auto *f = reinterpret_cast<CabFile *>(file);
    if (!f || bytes < 0)
        return -1;
    int got = 0;
    while (got < bytes) {
        const ssize_t r = ::read(f->fd, static_cast<char *>(buffer) + got, static_cast<size_t>(bytes - got));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            Keep(f->ctx);
            return -1;
        }
        if (r == 0)
            break;
        got += static_cast<int>(r);
    }
    return got;
}

int SysWrite(mspack_file *file, void *buffer, int bytes)
{
    auto *f = reinterpret_cast<CabFile *>(file);
    if (!f || bytes < 0)
        return -1;
    const ssize_t r = ::write(f->fd, buffer, static_cast<size_t>(bytes));
    if (r < 0) {
        Keep(f->ctx);
        return -1;
    }
    return static_cast<int>(r);
}

int SysSeek(mspack_file *file, off_t offset, int mode)
{
    auto *f = reinterpret_cast<CabFile *>(file);
    if (!f)
        return -1;
    const int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR : SEEK_END;
    if (::lseek(f->fd, offset, whence) < 0) {
        Keep(f->ctx);
        return -1;
    }
    return 0;
}

off_t SysTell(mspack_file *file)
{
    auto *f = reinterpret_cast<CabFile *>(file);
    return f ? ::lseek(f->fd, 0, SEEK_CUR) : -1;
}

// The library's complaints about a file it refuses are not shown: the
// reader reports the archive's state itself.
void SysMessage(mspack_file *, const char *, ...) {}

void *SysAlloc(mspack_system *, size_t bytes) { return std::malloc(bytes); }
void SysFree(void *ptr) { std::free(ptr); }
void SysCopy(void *src, void *dest, size_t bytes) { std::memmove(dest, src, bytes); }

bool OwnHeaderTest(const std::string &path, TERF *erf)
{
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        // Something other than a regular file is no cabinet, not a failure.
        if (erf && errno != EINVAL)
            erf->erfType = errno;
        return false;
    }
    uint8_t b[TCabHeader::Size] = {};
    ssize_t got = 0;
    while (got < static_cast<ssize_t>(sizeof b)) {
        const ssize_t r = ::read(fd, b + got, sizeof b - static_cast<size_t>(got));
        if (r <= 0)
            break;
        got += r;
    }
    ::close(fd);
    if (got < 4 || U32(b) != TCabHeader::MSCF)
        return false;
    // A header cut short is still a cabinet, a damaged one: the reader reports it.
    if (got >= 26 && b[25] != 1)
        return false;
    return true;
}

} // namespace

TFdiContext *FDICreate(TERF &erf)
{
    erf = TERF{};
    int selftest = MSPACK_ERR_OK;
    MSPACK_SYS_SELFTEST(selftest);
    if (selftest != MSPACK_ERR_OK) {
        erf = TERF{FDIERROR_ALLOC_FAIL, 0, true};
        return nullptr;
    }
    auto *ctx = new (std::nothrow) TFdiContext;
    if (!ctx) {
        erf = TERF{FDIERROR_ALLOC_FAIL, ENOMEM, true};
        return nullptr;
    }
    ctx->erf = &erf;
    ctx->sys.open = SysOpen;
    ctx->sys.close = SysClose;
    ctx->sys.read = SysRead;
    ctx->sys.write = SysWrite;
    ctx->sys.seek = SysSeek;
    ctx->sys.tell = SysTell;
    ctx->sys.message = SysMessage;
    ctx->sys.alloc = SysAlloc;
    ctx->sys.free = SysFree;
    ctx->sys.copy = SysCopy;
    ctx->sys.null_ptr = nullptr;
    ctx->cabd = mspack_create_cab_decompressor(&ctx->sys);
    if (!ctx->cabd) {
        delete ctx;
        erf = TERF{FDIERROR_ALLOC_FAIL, 0, true};
        return nullptr;
    }
    return ctx;
}

bool FDIIsCabinet(TFdiContext *ctx, const std::string &path)
{
    if (!ctx)
        return false;
    TERF &erf = *ctx->erf;
    if (!OwnHeaderTest(path, &erf)) {
        erf.erfOper = FDIERROR_NOT_A_CABINET;
        erf.fError = true;
        return false;
    }
    ctx->cabd->set_param(ctx->cabd, MSCABD_PARAM_SALVAGE, 0);
    mscabd_cabinet *cab = ctx->cabd->open(ctx->cabd, path.c_str());
    if (cab) {
        ctx->cabd->close(ctx->cabd, cab);
        erf = TERF{};
        return true;
    }
    const int err = ctx->cabd->last_error(ctx->cabd);
    if (err == MSPACK_ERR_SIGNATURE) {
        erf.erfOper = FDIERROR_NOT_A_CABINET;
        erf.fError = true;
        return false;
    }
    erf = TERF{};
    return true;
}

bool FDIDestroy(TFdiContext *ctx)
{
    if (!ctx)
        return true;
    mspack_destroy_cab_decompressor(ctx->cabd);
    delete ctx;
    return true;
}

namespace {

std::string Text(const char *s) { return s ? s : ""; }

// The error record's code for a libmspack result.
int FdiErrorOf(int mspackError)
{
    switch (mspackError) {
    case MSPACK_ERR_OK: return FDIERROR_NONE;
    case MSPACK_ERR_OPEN: return FDIERROR_CABINET_NOT_FOUND;
    case MSPACK_ERR_SIGNATURE: return FDIERROR_NOT_A_CABINET;
    case MSPACK_ERR_NOMEMORY: return FDIERROR_ALLOC_FAIL;
    case MSPACK_ERR_DATAFORMAT: return FDIERROR_BAD_COMPR_TYPE;
    case MSPACK_ERR_WRITE: return FDIERROR_TARGET_FILE;
    case MSPACK_ERR_DECRUNCH:
    case MSPACK_ERR_CHECKSUM: return FDIERROR_MDI_FAIL;
    default: return FDIERROR_CORRUPT_CABINET;
    }
}

void Fail(TFdiContext *ctx, int oper)
{
    ctx->erf->erfOper = oper;
    ctx->erf->fError = true;
}

} // namespace

std::unique_ptr<TFdiCabinet> TFdiCabinet::Open(TFdiContext *ctx, const std::string &path)
{
    if (!ctx)
        return nullptr;
    *ctx->erf = TERF{};
    ctx->cabd->set_param(ctx->cabd, MSCABD_PARAM_SALVAGE, 0);
    // The library keeps the name's pointer for as long as the cabinet is open.
    auto name = std::make_unique<std::string>(path);
    mscabd_cabinet *cab = ctx->cabd->open(ctx->cabd, name->c_str());
    if (!cab) {
        Fail(ctx, FdiErrorOf(ctx->cabd->last_error(ctx->cabd)));
        return nullptr;
    }
    std::unique_ptr<TFdiCabinet> c(new TFdiCabinet);
    c->ctx_ = ctx;
    c->first_ = c->last_ = cab;
    c->names_.push_back(std::move(name));
    for (mscabd_file *f = cab->files; f; f = f->next)
        c->files_.push_back(f);
    return c;
}

TFdiCabinet::~TFdiCabinet()
{
    // Closing the first closes the cabinets appended to it.
    ctx_->cabd->close(ctx_->cabd, first_);
}

std::string TFdiCabinet::NextName() const { return Text(last_->nextname); }
std::string TFdiCabinet::NextDisk() const { return Text(last_->nextinfo); }
std::string TFdiCabinet::PrevName() const { return Text(first_->prevname); }
std::string TFdiCabinet::PrevDisk() const { return Text(first_->previnfo); }
uint16_t TFdiCabinet::SetId() const { return last_->set_id; }
uint16_t TFdiCabinet::CabinetNumber() const { return last_->set_index; }

bool TFdiCabinet::AppendNext(const std::string &path)
{
    auto name = std::make_unique<std::string>(path);
    mscabd_cabinet *next = ctx_->cabd->open(ctx_->cabd, name->c_str());
    if (!next) {
        Fail(ctx_, FdiErrorOf(ctx_->cabd->last_error(ctx_->cabd)));
        return false;
    }
    if (next->set_id != last_->set_id || next->set_index != last_->set_index + 1 ||
        ctx_->cabd->append(ctx_->cabd, last_, next) != MSPACK_ERR_OK) {
        ctx_->cabd->close(ctx_->cabd, next);
        Fail(ctx_, FDIERROR_WRONG_CABINET);
        return false;
    }
    names_.push_back(std::move(name));
    last_ = next;
    files_.clear();
    for (mscabd_file *f = first_->files; f; f = f->next)
        files_.push_back(f);
    return true;
}

size_t TFdiCabinet::FileCount() const { return files_.size(); }

int TFdiCabinet::Extract(size_t index, const std::string &target)
{
    if (index >= files_.size()) {
        Fail(ctx_, FDIERROR_CORRUPT_CABINET);
        return FDIERROR_CORRUPT_CABINET;
    }
    *ctx_->erf = TERF{};
    const int r = ctx_->cabd->extract(ctx_->cabd, files_[index], target.c_str());
    if (r == MSPACK_ERR_OK)
        return FDIERROR_NONE;
    const int errType = ctx_->erf->erfType;
    Fail(ctx_, FdiErrorOf(r));
    ctx_->erf->erfType = r == MSPACK_ERR_WRITE || r == MSPACK_ERR_OPEN ? errType : 0;
    return ctx_->erf->erfOper;
}
