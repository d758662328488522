// Reading a table file image into a store, piece by piece from a file or from memory.
#include "storage/FlatTblStore.h"

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "storage/FlatConst.h"
#include "storage/FlatFmt.h"
#include "storage/FlatTblInternal.h"
#include "util/BaseFileUtils.h"

using namespace FlatTblInternal;

// ---------------------------------------------------------------------------------------
// Reading

namespace {

// The whole pages `size` bytes take (at least one: a mapping is never empty).
size_t PagesFor(size_t size) { return (std::max<size_t>(size, 1) + 4095) & ~size_t(4095); }

} // namespace

uint8_t *TFlatImageBytes::Allocate(size_t size)
{
    Release();
    const size_t mapped = PagesFor(size);
    void *mem = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED)
        throw std::bad_alloc();
    data_ = static_cast<uint8_t *>(mem);
    size_ = size;
    mapped_ = mapped;
    return data_;
}

uint8_t *TFlatImageBytes::MakePrivate()
{
    if (!Mapped())
        return data_;
    TFlatImageBytes copy;
    std::memcpy(copy.Allocate(size_), data_, size_);
    Release();
    std::swap(data_, copy.data_);
    std::swap(size_, copy.size_);
    std::swap(mapped_, copy.mapped_);
    return data_;
}

uint8_t *TFlatImageBytes::Grow(size_t size, size_t keep)
{
    if (!data_ || Mapped())
        return Allocate(size);
    const size_t mapped = PagesFor(size);
    if (mapped > mapped_) {
        void *mem = ::mremap(data_, mapped_, mapped, MREMAP_MAYMOVE);
        if (mem == MAP_FAILED) {
            // Moved by hand: a copy of what is kept.
            TFlatImageBytes fresh;
            std::memcpy(fresh.Allocate(size), data_, std::min(keep, size));
            std::swap(data_, fresh.data_);
            std::swap(mapped_, fresh.mapped_);
            size_ = size;
            return data_;
        }
        data_ = static_cast<uint8_t *>(mem);
        mapped_ = mapped;
    }
    size_ = size;
    return data_;
}

void TFlatImageBytes::Trim(size_t size) noexcept
{
    if (!data_ || Mapped() || size > size_)
        return;
    const size_t keep = PagesFor(size);
    if (keep < mapped_) {
        ::munmap(data_ + keep, mapped_ - keep);
        mapped_ = keep;
    }
    size_ = size;
}

void TFlatImageBytes::Release() noexcept
{
    if (Mapped())
        ReleaseMapping();
    else if (data_)
        ::munmap(data_, mapped_);
    data_ = nullptr;
    size_ = mapped_ = 0;
}

namespace {

// Reads the whole of `source` into `bytes`, up to the largest image a table can have.
// False with the reason when the source fails.
bool ReadWhole(TFlatImageSource &source, TFlatImageBytes &bytes, std::string &reason)
{
    constexpr uint64_t Largest = UINT32_MAX;
    if (source.MappableFd() >= 0 && bytes.MapFile(source.MappableFd()))
        return true;
    // One byte more than announced, so that the end is seen by the read that fills it.
    size_t cap = size_t(std::min<uint64_t>(source.Size(), Largest) + 1), size = 0;
    uint8_t *buf = bytes.Allocate(cap);
    for (;;) {
        if (size == cap) {
            if (cap > Largest)
                break; // what lies behind the largest image is no part of it
            cap = size_t(std::min<uint64_t>(uint64_t(cap) * 2, Largest + 1));
            buf = bytes.Grow(cap, size);
        }
        size_t got = 0;
        if (!source.Read(buf + size, cap - size, got, reason))
            return false;
        if (got == 0)
            break;
        size += got;
    }
    bytes.Trim(std::min<uint64_t>(size, Largest));
    return true;
}

} // namespace

bool TFlatFileSource::Open(const std::string &fileName, std::string &reason)
{
    fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        reason = std::strerror(errno ? errno : EIO);
        return false;
    }
    size_ = uint64_t(st.st_size);
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

TFlatFileSource::~TFlatFileSource()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool TFlatFileSource::Read(uint8_t *dst, size_t n, size_t &got, std::string &reason)
{
    got = 0;
    for (;;) {
        const ssize_t r = ::read(fd_, dst, n);
        if (r >= 0) {
            got = size_t(r);
            return true;
        }
        if (errno != EINTR) {
            reason = std::strerror(errno);
            return false;
        }
    }
}

bool TFlatCursor::ReadImage(std::string_view image, std::string &error)
{
    TFlatMemorySource source(image);
    return ReadImage(source, error);
}

bool TFlatCursor::ReadImage(TFlatImageSource &source, std::string &error)
{
    PartialError.clear();
    ReadFailure.clear();
    Clear(true);
    Protected = false;
    NotesText.clear();
    // The image is read whole and kept: the records are read in place from it.
    images_.push_back(std::make_shared<TFlatStoredImage>());
    TFlatImageBytes &bytes = images_.back()->Bytes;
    std::string reason;
    if (!ReadWhole(source, bytes, reason)) {
        // A read that failed is reported as such, not as whatever the parser made of it.
        Clear(true);
        ReadFailure = reason;
        error = SUnexpectedEnd;
        return false;
    }
    uint8_t *img = bytes.Data();
    const size_t size = bytes.Size();
    const auto fail = [&](const std::string &text) {
        error = text;
        images_.clear();
        return false;
    };
    if (size < 5)
        return fail(SBufferCorruption);
    const uint8_t kind = img[4];
    size_t pos = 5;
    if (kind == 'E') {
        const std::string_view text(reinterpret_cast<const char *>(img + pos), size - pos);
        return fail(std::string(text.substr(0, text.find('\0'))));
    }
    if (kind == 'P') {
        if (size - pos < 40)
            return fail(SBufferCorruption);
        Protected = true;
        std::memcpy(KeyBlock, img + pos, 40);
        pos += 40;
        if (!FlatSession().CheckTablePassword(KeyBlock, Password))
            return fail(SInvalidPassword);
    }
    if (size - pos < 12)
        return fail(SBufferCorruption);
    const uint32_t declared = GetU32(img + pos);
    const uint32_t fieldCount = GetU32(img + pos + 4);
    const uint32_t descLen = GetU32(img + pos + 8);
    pos += 12;
    // No table has anywhere near this many fields; a larger count is damage, and the
    // descriptors of a hostile count could take many times the file's size in memory.
    if (size - pos < descLen || (fieldCount == 0 && declared > 0) || fieldCount > FlatMaxFieldCount)
        return fail(SBufferCorruption);
    if (!ParseDescription({reinterpret_cast<const char *>(img + pos), descLen}, fieldCount, error)) {
        Fields.clear();
        fieldIndex_.clear();
        return fail(error);
    }
    pos += descLen;

    if (kind == 'P') {
        img = bytes.MakePrivate(); // deciphered where it lies
        TSapphire cipher;
        cipher.Initialize(std::string_view(reinterpret_cast<const char *>(KeyBlock), 38));
        cipher.DecryptBuffer(img + pos, size - pos);
    }
    bool inCounterOrder = true;
    const bool ok = ReadBody(img + pos, size - pos, declared, error, inCounterOrder);
    if (!ok) {
        if (!PartialOpen) {
            Clear(false);
            return false;
        }
        PartialError = error;
    }
    if (CounterField >= 0) {
        const TFlatField &counter = Fields[size_t(CounterField)];
        std::vector<const TFlatField *> key{&counter};
        // A table saved by this program is in counter order already.
        if (!inCounterOrder)
            SortEntries(Records, key, false, false);
        Counter = Records.empty() ? 0 : int32_t(FlatGetInt(Records.back()->Data, counter));
    }
    LetGoOfImagePages();
    return true;
}

void TFlatCursor::LetGoOfImagePages() noexcept
{
    for (const auto &image : images_)
        image->Bytes.LetGoOfPages();
}

bool TFlatCursor::ReadBody(const uint8_t *body, size_t size, uint32_t declared, std::string &error,
                           bool &inCounterOrder)
{
    inCounterOrder = true;
    const size_t F = Fields.size();
    const uint8_t *const end = body + size;
    const uint8_t *p = body;
    // Notes block.
    const size_t need = declared == 0 ? 3 : F;
    if (size >= need && size > 0 && *p == '*') {
        if (size < 3) {
            error = SUnexpectedEnd;
            return false;
        }
        uint16_t len;
        std::memcpy(&len, p + 1, 2);
        if (size - 3 < len) {
            error = SUnexpectedEnd;
            return false;
        }
        NotesText.assign(reinterpret_cast<const char *>(p + 3), len);
        p += 3 + size_t(len);
    }
    // How each field's length byte is checked: by a limit on it, or (String and BLOB
    // types) as 0 or 4 followed by a counted value.
    TFlatStoredLayout *layout = &images_.back()->Layout;
    layout->Fields = Fields;
    layout->RecordSize = RecordSize;
    layout->Counted.resize(F);
    layout->PlainBefore.resize(F);
    struct TCheck {
        uint32_t Limit; // the longest length byte, or the longest counted value
        uint8_t Kind;   // 0 by its length byte, 1 String, 2 BLOB type
    };
    std::vector<TCheck> checks(F);
    bool plain = true;
    for (size_t k = 0; k < F; ++k) {
        const TFlatField &f = Fields[k];
        layout->PlainBefore[k] = plain;
        if (IsFlatVarStoredType(f.TypeCode)) {
            layout->Counted[k] = 1;
            plain = false;
            checks[k] = f.TypeCode == fftString ? TCheck{FlatMaxStringLength, 1} : TCheck{FlatMaxBlobLength, 2};
        } else
            checks[k] = {f.TypeCode == fftSmallStr ? f.MaxLength : f.Size, 0};
    }
    const TFlatStoredLayout &stored = *layout;
    // Every record takes at least F bytes, so the list never outgrows the file.
    const uint64_t imageSize = std::min<uint64_t>(images_.back()->Bytes.Size(), UINT32_MAX);
    const size_t bound = F ? size_t(uint64_t(end - p) / F) : 0;
    Records.reserve(std::min<size_t>(declared, bound));
    // A description of many wide fields could make few file bytes cost a lot of memory
    // once the records are worked on; such a file is refused as damaged.
    const uint64_t budget = imageSize * 64 + (uint64_t(256) << 20);
    uint64_t allocated = 0;
    uint32_t read = 0;
    int last = 0;
    const TFlatField *counter = CounterField >= 0 ? &Fields[size_t(CounterField)] : nullptr;
    int64_t lastCount = 0;
    // A mapped file is walked a stretch at a time: the pages of the next stretch are
    // mapped in one go, those of the stretches read are let go (the records stay where
    // they are, in the file's pages, read again when needed).
    TFlatImageBytes &image = images_.back()->Bytes;
    constexpr size_t Stretch = size_t(256) << 10;
    const size_t bodyAt = size_t(body - image.Data());
    size_t mark = bodyAt + Stretch;
    image.MapAhead(0, mark + Stretch);
    while (read < declared && F > 0 && uint64_t(end - p) >= F) {
        if (size_t(p - image.Data()) >= mark) {
            image.MapAhead(mark + Stretch, mark + 2 * Stretch);
            image.LetGoOfPages(bodyAt, mark - Stretch);
            mark += Stretch;
        }
        const uint32_t recNo = read + 1;
        const uint8_t *lens = p;
        const uint8_t *q = p + F;
        for (size_t k = 0; k < F; ++k) {
            const uint8_t len = lens[k];
            const TCheck c = checks[k];
            if (c.Kind == 0) {
                if (len > c.Limit) {
                    error = Fmt(SFieldWrongLength, Fields[k].Name.c_str(), int(len), int(recNo));
                    return false;
                }
                if (uint64_t(end - q) < len) {
                    error = SUnexpectedEnd;
                    return false;
                }
                q += len;
                continue;
            }
            if (len != 0 && len != 4) {
                error = Fmt(SFieldWrongLength, Fields[k].Name.c_str(), int(len), int(recNo));
                return false;
            }
            if (len == 0)
                continue;
            if (end - q < 4) {
                error = SUnexpectedEnd;
                return false;
            }
            const uint32_t n = GetU32(q);
            q += 4;
            if (n > c.Limit) {
                error = Fmt(c.Kind == 1 ? SStringWrongLength : SBlobWrongLength, Fields[k].Name.c_str(), int(n),
                            int(recNo));
                return false;
            }
            if (uint64_t(end - q) < n) {
                error = SUnexpectedEnd;
                return false;
            }
            q += n;
        }
        const uint32_t storedSize = uint32_t(q - p);
        allocated += uint64_t(RecordSize) + 4 + (storedSize - F) + 32;
        if (allocated > budget) {
            error = SBufferCorruption;
            return false;
        }
        TFlatRecEntry *e = NewEntry();
        e->Data = TFlatRecord::Stored(p, stored);
        e->Status = rsClean;
        e->StoredSize = storedSize;
        Records.push_back(e);
        if (counter) {
            const int64_t count = FlatGetInt(e->Data, *counter);
            inCounterOrder = inCounterOrder && (read == 0 || lastCount <= count);
            lastCount = count;
        }
        p = q;
        ++read;
        if (F && (read & 1023) == 0)
            ProgressOver(last, read - 1024, read, declared);
    }
    ProgressOver(last, read & ~uint32_t(1023), read, declared);
    ++Generation;
    if (read != declared) {
        error = Fmt(SRecordCountMismatch, int(read), int(declared));
        return false;
    }
    return true;
}
