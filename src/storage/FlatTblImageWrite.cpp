// Writing a store's table file image: encoding the records, in parallel batches for a large store.
#include "storage/FlatTblStore.h"

#include <algorithm>
#include <cstring>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <random>
#include <system_error>

#include "storage/FlatConst.h"
#include "storage/FlatFmt.h"
#include "storage/FlatTblInternal.h"
#include "util/BaseFileUtils.h"

using namespace FlatTblInternal;

namespace {

// Rounds num/den to the nearest whole number, ties to even.
int RoundPercent(uint64_t done, uint64_t total)
{
    if (total == 0)
        return 0;
    const uint64_t scaled = done * 100;
    uint64_t q = scaled / total;
    const uint64_t r = scaled % total;
    if (2 * r > total || (2 * r == total && (q & 1)))
        ++q;
    return int(q);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Writing

void TFlatCursor::Progress(int &last, uint64_t done, uint64_t total)
{
    const int percent = RoundPercent(done, total);
    if (percent != last) {
        last = percent;
        if (OnProgress)
            OnProgress(percent);
    }
}

void TFlatCursor::ProgressOver(int &last, uint64_t from, uint64_t to, uint64_t total)
{
    // The percentage never falls as `done` grows, and `last` is that of `from`: so each
    // change is found by halving instead of a division per record.
    while (from < to && RoundPercent(to, total) != last) {
        uint64_t lo = from + 1, hi = to;
        while (lo < hi) {
            const uint64_t mid = lo + (hi - lo) / 2;
            if (RoundPercent(mid, total) != last)
                hi = mid;
            else
                lo = mid + 1;
        }
        Progress(last, lo, total);
        from = lo;
    }
}

uint64_t FlatSaveThreadsFrom = uint64_t(384) << 10;

namespace {

std::string NewGuidText()
{
    std::random_device rd;
    uint8_t b[16];
    for (int i = 0; i < 16; i += 4) {
        const uint32_t v = rd();
        std::memcpy(b + i, &v, 4);
    }
    b[6] = uint8_t((b[6] & 0x0F) | 0x40);
    b[8] = uint8_t((b[8] & 0x3F) | 0x80);
    static const char hex[] = "0123456789ABCDEF";
    std::string s = "{";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            s += '-';
        s += hex[b[i] >> 4];
        s += hex[b[i] & 15];
    }
    s += '}';
    return s;
}

} // namespace

namespace {

// Collects the image in a string.
class TStringSink : public TFlatImageSink {
public:
    explicit TStringSink(std::string &image) : image_(image) {}
    bool Append(const uint8_t *data, size_t size) override
    {
        image_.append(reinterpret_cast<const char *>(data), size);
        return true;
    }
    bool Patch(uint64_t offset, const uint8_t *data, size_t size) override
    {
        std::memcpy(image_.data() + offset, data, size);
        return true;
    }

private:
    std::string &image_;
};

} // namespace

bool TFlatCursor::WriteImage(std::string &image, std::string &error)
{
    image.clear();
    TStringSink sink(image);
    if (!WriteImage(sink, error)) {
        image.clear();
        return false;
    }
    return true;
}

namespace {

// The records of one stretch of the store, encoded as they appear in the image.
struct TEncodedBatch {
    size_t From = 0, To = 0;   // the stretch of Records
    std::unique_ptr<uint8_t[]> Bytes;
    size_t Capacity = 0, Size = 0;
    uint32_t Written = 0;      // records encoded
    const TFlatField *Refused = nullptr; // the field whose value the reader would refuse
    size_t RefusedLength = 0;
    std::exception_ptr Failure; // what a helper thread ran into (no memory), for the caller
    bool Done = false;         // encoded and not yet handed over (under the pipeline's lock)
};

// How each field is encoded, worked out once a save instead of once a value: a number
// is kept by its width alone, so encoding it needs no branch on its value (it is always
// copied, and the length byte and the write position tell whether it counts).
enum TEncodeKind : uint8_t { encInt2, encInt4, encInt8, encFloat, encSmallStr, encVar, encNothing };
struct TEncodeStep {
    TEncodeKind Kind = encNothing;
    uint32_t Offset = 0;
    uint32_t Limit = 0;     // Var: the longest value the reader takes
    const TFlatField *Field = nullptr;
};

std::vector<TEncodeStep> EncodeSteps(const std::vector<TFlatField> &fields)
{
    std::vector<TEncodeStep> steps(fields.size());
    for (size_t k = 0; k < fields.size(); ++k) {
        const TFlatField &f = fields[k];
        TEncodeStep &s = steps[k];
        s.Offset = f.Offset;
        s.Field = &f;
        switch (f.TypeCode) {
        case fftSmallInt:
        case fftBoolean:
            s.Kind = encInt2;
            break;
        case fftInteger:
        case fftDate:
        case fftTime:
        case fftAutoInc:
            s.Kind = encInt4;
            break;
        case fftInt64:
            s.Kind = encInt8;
            break;
        case fftDouble:
        case fftCurrency:
        case fftDateTime:
            s.Kind = encFloat;
            break;
        case fftSmallStr:
            s.Kind = encSmallStr;
            break;
        case fftString:
        case fftBlob:
        case fftMemo:
        case fftFmtMemo:
        case fftGraphic:
            s.Kind = encVar;
            s.Limit = f.TypeCode == fftString ? FlatMaxStringLength : FlatMaxBlobLength;
            break;
        default:
            break;
        }
    }
    return steps;
}

template <typename T>
uint32_t CopyNumber(const uint8_t *from, uint8_t *to)
{
    T v;
    std::memcpy(&v, from, sizeof v);
    std::memcpy(to, &v, sizeof v);
    return v != 0 ? uint32_t(sizeof v) : 0;
}

// Encodes a record read in place: a value is written as it reads (a number of fewer
// bytes than its width widened, a text cut at its NUL), so the bytes are those of the
// same record packed. The reader checked every length, so nothing is refused.
uint8_t *EncodeStored(const std::vector<TEncodeStep> &steps, const TFlatRecord &data, uint8_t *p)
{
    const size_t F = steps.size();
    uint8_t *lens = p;
    p += F;
    const uint8_t *src = data.StoredBytes();
    const uint8_t *q = src + F;
    for (size_t k = 0; k < F; ++k) {
        const TEncodeStep &s = steps[k];
        const uint8_t len = src[k];
        uint32_t out = 0;
        switch (s.Kind) {
        case encInt2:
        case encInt4:
        case encInt8:
        case encFloat: {
            const uint32_t width = s.Kind == encInt2 ? 2 : (s.Kind == encInt4 ? 4 : 8);
            uint8_t v[8] = {};
            std::memcpy(v, q, std::min<uint32_t>(len, 8));
            q += len;
            std::memcpy(p, v, width);
            if (s.Kind == encFloat) {
                double d;
                std::memcpy(&d, v, 8);
                out = (d != 0.0) & (d == d) ? 8 : 0;
            } else {
                uint64_t x;
                std::memcpy(&x, v, 8);
                out = x != 0 ? width : 0;
            }
            break;
        }
        case encSmallStr: {
            const size_t n = std::min<size_t>(len, s.Field->MaxLength);
            const void *nul = std::memchr(q, 0, n);
            out = uint32_t(nul ? static_cast<const uint8_t *>(nul) - q : n);
            std::memcpy(p, q, out);
            q += len;
            break;
        }
        case encVar: {
            if (len == 0) {
                lens[k] = 0;
                continue;
            }
            uint32_t n = GetU32(q);
            q += 4;
            const uint8_t *value = q;
            q += n;
            if (s.Field->TypeCode == fftString)
                if (const void *nul = std::memchr(value, 0, n))
                    n = uint32_t(static_cast<const uint8_t *>(nul) - value);
            if (n == 0) {
                lens[k] = 0;
                continue;
            }
            PutU32(p, n);
            std::memcpy(p + 4, value, n);
            lens[k] = 4;
            p += 4 + n;
            continue;
        }
        case encNothing:
            q += len;
            break;
        }
        lens[k] = uint8_t(out);
        p += out;
    }
    return p;
}

// Encodes one record at `p` (room for its bound); answers the end, or null when a value
// is one the reader would refuse (`refused` and `refusedLength` then tell which).
uint8_t *EncodeRecord(const std::vector<TEncodeStep> &steps, const TFlatRecord &data, uint8_t *p,
                      const TFlatField *&refused, size_t &refusedLength)
{
    if (data.IsStored())
        return EncodeStored(steps, data, p);
    const size_t F = steps.size();
    uint8_t *lens = p;
    p += F;
    const uint8_t *fx = data.Fixed();
    for (size_t k = 0; k < F; ++k) {
        const TEncodeStep &s = steps[k];
        const uint8_t *at = fx + s.Offset;
        uint32_t len = 0;
        switch (s.Kind) {
        case encInt2:
            len = CopyNumber<uint16_t>(at, p);
            break;
        case encInt4:
            len = CopyNumber<uint32_t>(at, p);
            break;
        case encInt8:
            len = CopyNumber<uint64_t>(at, p);
            break;
        case encFloat: {
            double v;
            std::memcpy(&v, at, 8);
            std::memcpy(p, &v, 8);
            len = (v != 0.0) & (v == v) ? 8 : 0; // neither zero nor NaN
            break;
        }
        case encSmallStr: {
            const std::string_view v = FlatGetSmallStr(data, *s.Field);
            len = uint32_t(v.size());
            if (len)
                std::memcpy(p, v.data(), len);
            break;
        }
        case encVar: {
            const std::string_view v = data.Var(*s.Field);
            if (v.size() > s.Limit) {
                refused = s.Field;
                refusedLength = v.size();
                return nullptr;
            }
            if (!v.empty()) {
                PutU32(p, uint32_t(v.size()));
                std::memcpy(p + 4, v.data(), v.size());
                lens[k] = 4;
                p += 4 + v.size();
            } else
                lens[k] = 0;
            continue;
        }
        case encNothing:
            break;
        }
        lens[k] = uint8_t(len);
        p += len;
    }
    return p;
}

} // namespace

bool TFlatCursor::WriteImage(TFlatImageSink &sink, std::string &error)
{
    // Refuse what the reader would refuse, before anything is produced.
    if (NotesText.size() > FlatMaxNotesLength) {
        error = Fmt(SNotesTooLong, int(std::min<size_t>(NotesText.size(), INT32_MAX)));
        return false;
    }
    const bool isProtected = !Password.empty();
    const uint64_t headerSize = 17 + (isProtected ? 40 : 0) + Description.size();
    const auto live = [](const TFlatRecEntry *e) { return e->Status != rsDeleted && e->Status != rsDead && e->Data; };
    // The stored sizes kept with the entries give the estimate and cut the records into
    // stretches, in one pass that reads the entries only: the records themselves are first
    // touched by whoever encodes them, and every stretch is still checked against the
    // room left before it is handed over.
    const size_t total = Records.size();
    uint64_t estimate = headerSize + (NotesText.empty() ? 0 : 3 + NotesText.size());
    for (const TFlatRecEntry *e : Records)
        if (live(e))
            estimate += e->StoredSize;
    if (estimate > UINT32_MAX) {
        error = SImageTooLarge;
        return false;
    }
    uint32_t fixedMax = 0, varCount = 0;
    for (const TFlatField &f : Fields) {
        if (IsFlatVarHeldType(f.TypeCode))
            ++varCount; // a SmallStr takes at most its bytes, which the bound counts
        else
            fixedMax += f.Size;
    }
    const size_t F = Fields.size();
    // Room a record can take at most.
    const auto bound = [&](const TFlatRecEntry *e) {
        const uint64_t varBytes = e->Data.IsStored() ? e->StoredSize : e->Data.BlockSize() - 4 - RecordSize;
        return uint64_t(F) + fixedMax + varBytes + uint64_t(4) * varCount;
    };

    // The header (and notes) first.
    std::vector<uint8_t> head(size_t(headerSize) + 3 + NotesText.size());
    uint8_t *p = head.data();
    PutU32(p, 0);
    p[4] = isProtected ? 'P' : 'S';
    p += 5;
    std::string guid;
    if (isProtected) {
        guid = NewGuidText();
        std::memcpy(KeyBlock, guid.data(), 38);
        const uint16_t crc = Crc16(KeyBlock, 38);
        KeyBlock[38] = uint8_t(crc & 0xFF);
        KeyBlock[39] = uint8_t(crc >> 8);
        std::memcpy(p, KeyBlock, 40);
        TSapphire &cipher = FlatSession().Cipher;
        cipher.Initialize(Password);
        cipher.EncryptBuffer(p, 38);
        p += 40;
        Protected = true;
    }
    const uint64_t countAt = uint64_t(p - head.data());
    PutU32(p, 0);
    PutU32(p + 4, uint32_t(Fields.size()));
    PutU32(p + 8, uint32_t(Description.size()));
    p += 12;
    std::memcpy(p, Description.data(), Description.size());
    p += Description.size();
    TSapphire bodyCipher;
    if (isProtected)
        bodyCipher.Initialize(guid);
    uint8_t *body = p;
    if (!NotesText.empty()) {
        *p++ = '*';
        const uint16_t len = uint16_t(NotesText.size());
        std::memcpy(p, &len, 2);
        p += 2;
        std::memcpy(p, NotesText.data(), NotesText.size());
        p += NotesText.size();
    }
    if (isProtected)
        bodyCipher.EncryptBuffer(body, size_t(p - body));
    uint64_t flushed = uint64_t(p - head.data());

    // The records go in stretches, encoded side by side by a few helper threads while the
    // calling thread enciphers (a protected body is one stream) and hands over the earlier
    // ones in store order. A small table is encoded on the calling thread: starting threads
    // would cost it more than they save. What is reported (progress, the first refused
    // value, the bytes) is as for one pass in order.
    const uint64_t records = estimate - headerSize;
    const bool helped = records >= FlatSaveThreadsFrom;
    // Stretches of at most a megabyte keep the buffers in flight small beside a large
    // table; a smaller table is cut finer (its buffers in flight stay a small part of it,
    // writing starts early and every helper has work).
    const uint64_t stretchBytes = std::clamp<uint64_t>(records / 64, uint64_t(64) << 10, uint64_t(1) << 20);
    std::vector<std::pair<size_t, size_t>> stretches;
    for (size_t i = 0; i < total;) {
        const size_t from = i;
        uint64_t room = 0;
        while (i < total && (room < stretchBytes || i == from)) {
            if (live(Records[i]))
                room += Records[i]->StoredSize;
            ++i;
        }
        stretches.emplace_back(from, i);
    }
    // Asked once: the library answers by opening and reading a system file every time.
    static const unsigned hw = std::max(1u, std::thread::hardware_concurrency());
    const size_t helpers = helped && stretches.size() > 1 ? std::min<size_t>({4, hw, stretches.size()}) : 0;
    const std::vector<TEncodeStep> steps = EncodeSteps(Fields);
    // Two buffers a helper: one being encoded while the other waits to be handed over.
    std::vector<TEncodedBatch> batches(std::max<size_t>(1, 2 * helpers));
    const auto encode = [&](TEncodedBatch &b) {
        size_t used = 0;
        b.Written = 0;
        b.Refused = nullptr;
        for (size_t i = b.From; i < b.To; ++i) {
            const TFlatRecEntry *e = Records[i];
            if (!live(e))
                continue;
            const uint64_t need = bound(e);
            if (b.Capacity - used < need) {
                // Grown by half again at least, so a stretch of big records is not copied per record.
                const size_t capacity = size_t(std::max<uint64_t>(used + need, b.Capacity + b.Capacity / 2));
                std::unique_ptr<uint8_t[]> bigger(new uint8_t[capacity]);
                if (used)
                    std::memcpy(bigger.get(), b.Bytes.get(), used);
                b.Bytes = std::move(bigger);
                b.Capacity = capacity;
            }
            uint8_t *q = EncodeRecord(steps, e->Data, b.Bytes.get() + used, b.Refused, b.RefusedLength);
            if (!q)
                break;
            used = size_t(q - b.Bytes.get());
            ++b.Written;
        }
        b.Size = b.Refused ? 0 : used;
    };
    const auto encodeStretch = [&](size_t s, TEncodedBatch &b) {
        b.From = stretches[s].first;
        b.To = stretches[s].second;
        encode(b);
    };

    // The helpers take the stretches in order, each into the buffer of the stretch handed
    // over that many stretches before; the calling thread hands them over in turn.
    struct TPipeline {
        std::mutex Lock;
        std::condition_variable Encoded, Freed;
        size_t Next = 0, HandedOver = 0;
        bool Stop = false;
        std::vector<std::thread> Threads;
        // Whichever way the save ends, the helpers are done with the buffers before they go.
        ~TPipeline()
        {
            {
                std::lock_guard<std::mutex> hold(Lock);
                Stop = true;
            }
            Freed.notify_all();
            for (std::thread &t : Threads)
                t.join();
        }
    };
    // Whichever way this ends, the sink is done with the buffers before they go.
    struct TSettle {
        TFlatImageSink &Sink;
        ~TSettle() { Sink.Settle(); }
    };
    const size_t slots = batches.size();
    TSettle settle{sink};
    TPipeline pipe;
    const auto help = [&] {
        for (;;) {
            size_t s;
            {
                std::unique_lock<std::mutex> hold(pipe.Lock);
                pipe.Freed.wait(hold, [&] {
                    return pipe.Stop || pipe.Next >= stretches.size() || pipe.Next < pipe.HandedOver + slots;
                });
                if (pipe.Stop || pipe.Next >= stretches.size())
                    return;
                s = pipe.Next++;
            }
            TEncodedBatch &b = batches[s % slots];
            try {
                encodeStretch(s, b);
            } catch (...) {
                b.Failure = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> hold(pipe.Lock);
                b.Done = true;
            }
            pipe.Encoded.notify_one();
        }
    };
    // The buffers come from this thread, sized for a stretch and some: a helper then
    // seldom allocates at all, and never needs a heap of its own.
    if (helpers)
        for (TEncodedBatch &b : batches) {
            b.Capacity = size_t(stretchBytes + stretchBytes / 4);
            b.Bytes.reset(new uint8_t[b.Capacity]);
        }
    // The first stretch is this thread's, encoded while the helpers start.
    pipe.Next = helpers ? 1 : 0;
    pipe.Threads.reserve(helpers);
    for (size_t k = 0; k < helpers; ++k) {
        try {
            pipe.Threads.emplace_back(help);
        } catch (const std::system_error &) {
            break; // no more threads to be had: fewer helpers, or none
        }
    }

    if (!sink.Append(head.data(), size_t(flushed))) {
        error = sink.Reason;
        return false;
    }
    uint32_t written = 0;
    int last = 0;
    for (size_t s = 0; s < stretches.size(); ++s) {
        TEncodedBatch &b = batches[s % slots];
        if (pipe.Threads.empty() || s == 0) {
            encodeStretch(s, b);
        } else {
            std::unique_lock<std::mutex> hold(pipe.Lock);
            if (!b.Done && pipe.Next == s) {
                // No helper has taken it yet (they are still starting, or all busy): this
                // thread would only wait, so it encodes the stretch itself.
                ++pipe.Next;
                hold.unlock();
                encodeStretch(s, b);
            } else {
                pipe.Encoded.wait(hold, [&] { return b.Done; });
            }
        }
        if (b.Failure)
            std::rethrow_exception(b.Failure);
        if (b.Refused) {
            const TFlatField &f = *b.Refused;
            error = Fmt(f.TypeCode == fftString ? SStringWrongLength : SBlobWrongLength, f.Name.c_str(),
                        int(std::min<size_t>(b.RefusedLength, INT32_MAX)), int(written + b.Written + 1));
            return false;
        }
        if (flushed + b.Size > UINT32_MAX) {
            error = SImageTooLarge;
            return false;
        }
        if (isProtected)
            bodyCipher.EncryptBuffer(b.Bytes.get(), b.Size);
        if (b.Size && !sink.Append(b.Bytes.get(), b.Size)) {
            error = sink.Reason;
            return false;
        }
        flushed += b.Size;
        written += b.Written;
        ProgressOver(last, b.From, b.To, total);
        if (!pipe.Threads.empty()) {
            {
                std::lock_guard<std::mutex> hold(pipe.Lock);
                b.Done = false;
                ++pipe.HandedOver;
            }
            pipe.Freed.notify_one(); // one buffer is free: one helper can go on
        }
    }
    if (!sink.Settle()) {
        error = sink.Reason;
        return false;
    }
    uint8_t word[4];
    PutU32(word, written);
    if (!sink.Patch(countAt, word, 4)) {
        error = sink.Reason;
        return false;
    }
    PutU32(word, uint32_t(flushed));
    if (!sink.Patch(0, word, 4)) {
        error = sink.Reason;
        return false;
    }
    return true;
}
