// A table file's image mapped in place, kept intact when another program truncates or rewrites the file.
#include "storage/FlatTblStore.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// Mapping a table file costs next to nothing where reading it costs a fault and a copy per
// page. But the pages of a mapping are the file's: were the file cut short while mapped,
// reading a record would kill the program. So a file is mapped only under a read lease:
// before any other open of it for writing (or a truncate) goes ahead, the kernel signals
// this process and holds the other back; the handler then moves a private copy of the
// image over the mapping, at the same addresses, and lets the lease go. Where no lease is
// to be had (another owner, a network file system) the file is read instead.

namespace {

constexpr size_t SlotCount = 64;
// A slot is taken (pending) before the lease, so that a break arriving before the mapping
// is made is seen (broken): the file is then read instead.
enum : int {
    slotFree = 0,
    slotMapped = 1,
    slotCopying = 2,
    slotCopied = 3,
    slotClaimed = 4,
    slotPending = 5,
    slotBroken = 6,
    // The owner is letting go of the mapping's pages; a break meanwhile is marked (trim
    // broken) and the owner makes the copy once its pages are gone, as the handler would.
    slotTrimming = 7,
    slotTrimBroken = 8
};

struct TSlot {
    std::atomic<int> State{slotFree};
    std::atomic<int> Fd{-1};
    std::atomic<uint8_t *> Data{nullptr};
    std::atomic<size_t> Size{0}, Mapped{0};
};
TSlot slots[SlotCount];

int LeaseSignal() { return SIGRTMIN + 6; }

// Runs in the signal handler: only system calls and memcpy.
void CopyOver(TSlot &slot)
{
    uint8_t *data = slot.Data.load();
    const size_t size = slot.Size.load(), mapped = slot.Mapped.load();
    void *fresh = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (fresh != MAP_FAILED) {
        std::memcpy(fresh, data, size);
        if (::mremap(fresh, mapped, mapped, MREMAP_MAYMOVE | MREMAP_FIXED, data) == MAP_FAILED)
            ::munmap(fresh, mapped);
    }
    // Without memory for the copy the lease goes all the same: the other program is not
    // held back for it.
    ::fcntl(slot.Fd.load(), F_SETLEASE, F_UNLCK);
}

void OnLeaseBreak(int, siginfo_t *info, void *)
{
    const int saved = errno;
    for (TSlot &slot : slots) {
        if (slot.Fd.load() != info->si_fd)
            continue;
        for (int state = slot.State.load();;) {
            if (state == slotMapped) {
                if (!slot.State.compare_exchange_weak(state, slotCopying))
                    continue;
                CopyOver(slot);
                slot.State.store(slotCopied);
            } else if (state == slotPending) {
                if (!slot.State.compare_exchange_weak(state, slotBroken))
                    continue;
                ::fcntl(info->si_fd, F_SETLEASE, F_UNLCK);
            } else if (state == slotTrimming) {
                if (!slot.State.compare_exchange_weak(state, slotTrimBroken))
                    continue;
            }
            break;
        }
    }
    errno = saved;
}

bool HandlerInstalled()
{
    static const bool installed = [] {
        struct sigaction old {};
        if (::sigaction(LeaseSignal(), nullptr, &old) != 0 || old.sa_handler != SIG_DFL)
            return false; // someone else's signal
        struct sigaction sa {};
        sa.sa_sigaction = OnLeaseBreak;
        sa.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&sa.sa_mask);
        return ::sigaction(LeaseSignal(), &sa, nullptr) == 0;
    }();
    return installed;
}

std::mutex slotLock; // taking and giving back slots (the handler only reads them)

} // namespace

bool TFlatImageBytes::MapFile(int fd)
{
    Release();
    if (!HandlerInstalled())
        return false;
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return false;
    TSlot *slot = nullptr;
    {
        std::lock_guard<std::mutex> hold(slotLock);
        for (TSlot &candidate : slots)
            if (candidate.State.load() == slotFree) {
                slot = &candidate;
                slot->Fd = own;
                slot->State = slotPending;
                break;
            }
    }
    const auto giveUp = [&] {
        ::fcntl(own, F_SETLEASE, F_UNLCK);
        if (slot) {
            std::lock_guard<std::mutex> hold(slotLock);
            slot->Fd = -1;
            slot->State = slotFree;
        }
        ::close(own);
        return false;
    };
    if (!slot || ::fcntl(own, F_SETSIG, LeaseSignal()) != 0 || ::fcntl(own, F_SETOWN, ::getpid()) != 0 ||
        ::fcntl(own, F_SETLEASE, F_RDLCK) != 0)
        return giveUp();
    // The size under the lease: a cut made before it was taken shows here.
    struct stat st;
    if (::fstat(own, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 || uint64_t(st.st_size) > UINT32_MAX)
        return giveUp();
    const size_t size = size_t(st.st_size), mapped = (size + 4095) & ~size_t(4095);
    // Not populated as a whole: the reader maps the pages a stretch ahead of where it reads
    // and lets go of those behind, so that loading never holds the whole file.
    void *mem = ::mmap(nullptr, mapped, PROT_READ, MAP_PRIVATE, own, 0);
    if (mem == MAP_FAILED)
        return giveUp();
    slot->Data = static_cast<uint8_t *>(mem);
    slot->Size = size;
    slot->Mapped = mapped;
    int pending = slotPending;
    if (!slot->State.compare_exchange_strong(pending, slotMapped)) {
        // Someone began to write the file meanwhile: what was mapped may be gone already.
        ::munmap(mem, mapped);
        return giveUp();
    }
    data_ = static_cast<uint8_t *>(mem);
    size_ = size;
    mapped_ = mapped;
    slot_ = int(slot - slots);
    return true;
}

void TFlatImageBytes::MapAhead(size_t from, size_t to) noexcept
{
#ifdef MADV_POPULATE_READ
    from &= ~size_t(4095);
    to = std::min(to, mapped_);
    if (Mapped() && from < to)
        ::madvise(data_ + from, to - from, MADV_POPULATE_READ);
#else
    (void)from;
    (void)to;
#endif
}

void TFlatImageBytes::LetGoOfPages(size_t from, size_t to) noexcept
{
    // Whole pages inside the range only: the pages at its ends may hold bytes still read.
    from = (from + 4095) & ~size_t(4095);
    to = std::min(to, mapped_) & ~size_t(4095);
    if (!Mapped() || from >= to)
        return;
    TSlot &slot = slots[size_t(slot_)];
    // Only the file's own pages: once copied over, the memory is the only copy there is.
    int state = slotMapped;
    if (!slot.State.compare_exchange_strong(state, slotTrimming))
        return;
    // Pages of a private mapping never written are the file's: they are dropped from this
    // process alone and read again, from the page cache, when next touched.
    ::madvise(data_ + from, to - from, MADV_DONTNEED);
    state = slotTrimming;
    if (!slot.State.compare_exchange_strong(state, slotMapped)) {
        // The lease broke meanwhile: the copy the handler left is made now (the other
        // program waits for the lease to go).
        slot.State.store(slotCopying);
        CopyOver(slot);
        slot.State.store(slotCopied);
    }
}

void TFlatImageBytes::ReleaseMapping() noexcept
{
    TSlot &slot = slots[size_t(slot_)];
    // Claimed first, so that the handler no longer copies over a mapping about to go; a
    // copy under way is waited for.
    for (int state = slot.State.load();;) {
        if (state == slotCopying || state == slotTrimming) {
            sched_yield();
            state = slot.State.load();
            continue;
        }
        if (slot.State.compare_exchange_weak(state, slotClaimed))
            break;
    }
    ::munmap(data_, mapped_);
    const int fd = slot.Fd.exchange(-1);
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    ::close(fd);
    {
        std::lock_guard<std::mutex> hold(slotLock);
        slot.State = slotFree;
    }
    slot_ = -1;
}
