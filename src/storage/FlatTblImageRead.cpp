// Reading a table file image into a store, piece by piece from a file or from memory.
#include "storage/FlatTblStore.h"

#include <algorithm>
#include <cstring>

#include <fcntl.h>
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

// A window over the image that is read in pieces into one reused buffer: the parser asks
// for as many bytes as it needs next, and only those stay in memory. Body bytes of a
// protected table are deciphered as they arrive.
class TFlatReadWindow {
public:
    // The buffer starts at a sixty-fourth of the image, between 64 KiB and 256 KiB: reads
    // large enough that their count does not matter, and a buffer small against any table.
    explicit TFlatReadWindow(TFlatImageSource &source)
        : source_(source), remaining_(source.Size()),
          chunk_(size_t(std::clamp<uint64_t>(source.Size() / 64, MinChunk, MaxChunk)))
    {
    }

    const uint8_t *Data() const { return buf_.get() + pos_; }
    size_t Available() const { return len_ - pos_; }
    void Skip(size_t n) { pos_ += n; }
    uint64_t Consumed() const { return consumed_ + pos_; }
    bool Failed() const { return failed_; }
    const std::string &Reason() const { return reason_; }

    // Reads until `n` bytes are available or the image ends; answers what is available.
    size_t Ensure(uint64_t n)
    {
        if (Available() >= n || ended_)
            return Available();
        const size_t avail = Available();
        // Never more than the image can still give, so a damaged length costs no memory.
        const uint64_t want = std::min<uint64_t>(n, avail + remaining_);
        if (pos_ > 0) {
            std::memmove(buf_.get(), buf_.get() + pos_, avail);
            consumed_ += pos_;
            pos_ = 0;
            len_ = avail;
        }
        if (want > cap_ || !buf_) {
            const size_t cap = size_t(std::max<uint64_t>(want, std::max<size_t>(cap_ * 2, chunk_)));
            std::unique_ptr<uint8_t[]> bigger(new uint8_t[cap]);
            if (len_)
                std::memcpy(bigger.get(), buf_.get(), len_);
            buf_ = std::move(bigger);
            cap_ = cap;
        }
        while (len_ < want) {
            size_t got = 0;
            if (!source_.Read(buf_.get() + len_, cap_ - len_, got, reason_)) {
                failed_ = ended_ = true;
                break;
            }
            if (got == 0) {
                ended_ = true;
                break;
            }
            if (cipher_)
                cipher_->DecryptBuffer(buf_.get() + len_, got);
            len_ += got;
            remaining_ -= std::min<uint64_t>(remaining_, got);
        }
        return Available();
    }

    // Deciphers every byte from the current position on.
    void StartCipher(TSapphire &cipher)
    {
        cipher_ = &cipher;
        cipher.DecryptBuffer(buf_.get() + pos_, Available());
    }

private:
    static constexpr uint64_t MinChunk = uint64_t(64) << 10, MaxChunk = uint64_t(256) << 10;
    TFlatImageSource &source_;
    std::unique_ptr<uint8_t[]> buf_;
    size_t cap_ = 0, pos_ = 0, len_ = 0;
    uint64_t remaining_ = 0, consumed_ = 0;
    size_t chunk_;
    TSapphire *cipher_ = nullptr;
    bool ended_ = false, failed_ = false;
    std::string reason_;
};

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
    TFlatReadWindow w(source);
    const auto fail = [&](const std::string &text) {
        // A read that failed is reported as such, not as whatever the parser made of it.
        if (w.Failed())
            ReadFailure = w.Reason();
        error = text;
        return false;
    };
    if (w.Ensure(5) < 5)
        return fail(SBufferCorruption);
    const uint8_t kind = w.Data()[4];
    w.Skip(5);
    if (kind == 'E') {
        const size_t n = w.Ensure(source.Size());
        const std::string_view text(reinterpret_cast<const char *>(w.Data()), n);
        return fail(std::string(text.substr(0, text.find('\0'))));
    }
    if (kind == 'P') {
        if (w.Ensure(40) < 40)
            return fail(SBufferCorruption);
        Protected = true;
        std::memcpy(KeyBlock, w.Data(), 40);
        w.Skip(40);
        if (!FlatSession().CheckTablePassword(KeyBlock, Password))
            return fail(SInvalidPassword);
    }
    if (w.Ensure(12) < 12)
        return fail(SBufferCorruption);
    const uint32_t declared = GetU32(w.Data());
    const uint32_t fieldCount = GetU32(w.Data() + 4);
    const uint32_t descLen = GetU32(w.Data() + 8);
    w.Skip(12);
    // No table has anywhere near this many fields; a larger count is damage, and the
    // descriptors of a hostile count could take many times the file's size in memory.
    if (source.Size() - std::min<uint64_t>(source.Size(), w.Consumed()) < descLen || w.Ensure(descLen) < descLen ||
        (fieldCount == 0 && declared > 0) || fieldCount > FlatMaxFieldCount)
        return fail(SBufferCorruption);
    if (!ParseDescription({reinterpret_cast<const char *>(w.Data()), descLen}, fieldCount, error)) {
        Fields.clear();
        fieldIndex_.clear();
        return fail(error);
    }
    w.Skip(descLen);

    TSapphire cipher;
    if (kind == 'P') {
        cipher.Initialize(std::string_view(reinterpret_cast<const char *>(KeyBlock), 38));
        w.StartCipher(cipher);
    }
    const bool ok = ReadBody(w, declared, uint32_t(std::min<uint64_t>(source.Size(), UINT32_MAX)), error);
    if (!ok) {
        if (!PartialOpen || w.Failed()) {
            Clear(false);
            return fail(error);
        }
        PartialError = error;
    }
    if (CounterField >= 0) {
        std::vector<const TFlatField *> key{&Fields[size_t(CounterField)]};
        SortEntries(Records, key, false, false);
        Counter = Records.empty() ? 0
                                  : int32_t(FlatGetInt(Records.back()->Data.Fixed(), Fields[size_t(CounterField)]));
    }
    return true;
}

bool TFlatCursor::ReadBody(TFlatReadWindow &w, uint32_t declared, uint32_t imageSize, std::string &error)
{
    const size_t F = Fields.size();
    // Notes block.
    const size_t need = declared == 0 ? 3 : F;
    if (w.Ensure(need) >= need && w.Available() > 0 && *w.Data() == '*') {
        if (w.Ensure(3) < 3) {
            error = SUnexpectedEnd;
            return false;
        }
        uint16_t len;
        std::memcpy(&len, w.Data() + 1, 2);
        if (w.Ensure(3 + size_t(len)) - 3 < len) {
            error = SUnexpectedEnd;
            return false;
        }
        NotesText.assign(reinterpret_cast<const char *>(w.Data() + 3), len);
        w.Skip(3 + size_t(len));
    }
    // Every record takes at least F bytes, so the list never outgrows the file.
    const uint64_t left = uint64_t(imageSize) - std::min<uint64_t>(imageSize, w.Consumed());
    const size_t bound = F ? size_t(left / F) : 0;
    Records.reserve(std::min<size_t>(declared, bound));
    // A description of many wide fields can turn few file bytes into a lot of memory;
    // stop before a damaged or hostile file exhausts it.
    const uint64_t budget = uint64_t(imageSize) * 64 + (uint64_t(256) << 20);
    uint64_t allocated = 0;
    // A record takes its fixed part and its variable bytes, which the bytes still to read
    // bound: a large table's memory is readied ahead of the parsing.
    arena_.Reserve(size_t(std::min<uint64_t>(
        budget, uint64_t(std::min<size_t>(declared, bound)) * (uint64_t(RecordSize) + 4 + 3) + left)));
    struct TSettle {
        TFlatRecordArena &Arena;
        ~TSettle() { Arena.Settle(); }
    } settle{arena_};
    std::vector<std::string_view> vars;
    size_t varCount = 0;
    for (const auto &f : Fields)
        varCount += f.VarIndex >= 0;
    vars.resize(varCount);
    std::vector<uint8_t> fixed(RecordSize);
    uint32_t read = 0;
    int last = 0;
    // Parses the record at the window's start: 1 done, 0 more bytes needed (`want` of
    // them from the record's start), -1 an error.
    uint32_t stored = 0;
    uint64_t want = 0;
    const auto parse = [&](uint32_t recNo) -> int {
        const uint8_t *p = w.Data();
        const uint8_t *end = p + w.Available();
        const uint8_t *lens = p;
        const uint8_t *q = p + F;
        std::fill(fixed.begin(), fixed.end(), 0);
        stored = uint32_t(F);
        for (size_t k = 0; k < F; ++k) {
            const TFlatField &f = Fields[k];
            const uint8_t len = lens[k];
            if (f.TypeCode == fftSmallStr) {
                if (len > f.MaxLength) {
                    error = Fmt(SFieldWrongLength, f.Name.c_str(), int(len), int(recNo));
                    return -1;
                }
                if (uint64_t(end - q) < len) {
                    want = uint64_t(q - p) + len;
                    return 0;
                }
                // A short text ends at its first NUL: what follows it was never part of
                // the value (nobody reads it, the next save leaves it out).
                const std::string_view v(reinterpret_cast<const char *>(q), len);
                vars[size_t(f.VarIndex)] = v.substr(0, v.find('\0'));
                q += len;
                stored += len;
            } else if (IsFlatVarStoredType(f.TypeCode)) {
                vars[size_t(f.VarIndex)] = {};
                if (len != 0 && len != 4) {
                    error = Fmt(SFieldWrongLength, f.Name.c_str(), int(len), int(recNo));
                    return -1;
                }
                if (len == 0)
                    continue;
                if (end - q < 4) {
                    want = uint64_t(q - p) + 4;
                    return 0;
                }
                const uint32_t n = GetU32(q);
                q += 4;
                if (f.TypeCode == fftString && n > FlatMaxStringLength) {
                    error = Fmt(SStringWrongLength, f.Name.c_str(), int(n), int(recNo));
                    return -1;
                }
                if (f.TypeCode != fftString && n > FlatMaxBlobLength) {
                    error = Fmt(SBlobWrongLength, f.Name.c_str(), int(n), int(recNo));
                    return -1;
                }
                if (uint64_t(end - q) < n) {
                    want = uint64_t(q - p) + n;
                    return 0;
                }
                std::string_view v(reinterpret_cast<const char *>(q), n);
                // A String is a zero-terminated text: its value ends at the first NUL, so
                // what is read is what the next save writes.
                if (f.TypeCode == fftString)
                    v = v.substr(0, v.find('\0'));
                vars[size_t(f.VarIndex)] = v;
                q += n;
                stored += 4 + n;
            } else {
                if (len > f.Size) {
                    error = Fmt(SFieldWrongLength, f.Name.c_str(), int(len), int(recNo));
                    return -1;
                }
                if (uint64_t(end - q) < len) {
                    want = uint64_t(q - p) + len;
                    return 0;
                }
                std::memcpy(fixed.data() + f.Offset, q, len);
                q += len;
                stored += len;
            }
        }
        want = uint64_t(q - p);
        return 1;
    };
    while (read < declared && F > 0 && w.Ensure(F) >= F) {
        const uint32_t recNo = read + 1;
        int r;
        while ((r = parse(recNo)) == 0) {
            // Ask for plenty at once, so a record cut by the buffer's end is parsed again
            // only rarely.
            const size_t before = w.Available();
            if (w.Ensure(std::max<uint64_t>(want, uint64_t(before) * 2)) < want) {
                error = SUnexpectedEnd;
                return false;
            }
        }
        if (r < 0)
            return false;
        allocated += uint64_t(RecordSize) + 4 + (stored - F) + sizeof(TFlatRecEntry) + 16;
        if (allocated > budget) {
            error = SBufferCorruption;
            return false;
        }
        TFlatRecord data = TFlatRecord::Pack(Fields, RecordSize, fixed.data(), vars, arena_);
        TFlatRecEntry *e = NewEntry();
        e->Data = std::move(data);
        e->Status = rsClean;
        e->StoredSize = stored;
        Records.push_back(e);
        ++Generation;
        w.Skip(size_t(want));
        ++read;
        Progress(last, read, declared);
    }
    if (read != declared) {
        error = Fmt(SRecordCountMismatch, int(read), int(declared));
        return false;
    }
    return true;
}
