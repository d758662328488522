#include "util/BaseSysInfo.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define ORB_X86 1
#else
#define ORB_X86 0
#endif

namespace {

std::string Trimmed(const std::string &s)
{
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    const size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::string Printf(const char *fmt, unsigned v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// The performance counter: a monotonic clock counted in microseconds.
constexpr int64_t kCounterFrequency = 1000000;

int64_t ReadCounter()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * kCounterFrequency + ts.tv_nsec / 1000;
}

// Raises the calling thread to the highest real-time priority while it lives,
// where the system allows it; otherwise the measurement runs at normal priority.
class TimeCriticalPriority {
public:
    TimeCriticalPriority()
    {
        raised_ = pthread_getschedparam(pthread_self(), &policy_, &param_) == 0;
        if (raised_) {
            sched_param p{};
            p.sched_priority = sched_get_priority_max(SCHED_FIFO);
            raised_ = pthread_setschedparam(pthread_self(), SCHED_FIFO, &p) == 0;
        }
    }
    ~TimeCriticalPriority()
    {
        if (raised_)
            pthread_setschedparam(pthread_self(), policy_, &param_);
    }

private:
    bool raised_ = false;
    int policy_ = 0;
    sched_param param_{};
};

void MeasureClock(CpuInfo &info)
{
    int64_t results[20] = {};
    int passes = 0;
    double mhz = 0;
    uint64_t cycles = 0;
    int64_t elapsed = 0;
    while (passes < 20) {
        {
            TimeCriticalPriority priority;
            int64_t start = ReadCounter();
            while (ReadCounter() - start < 50) {
            }
            start = ReadCounter();
            const uint64_t tsc0 = ReadTimeStampCounter();
            int64_t now;
            do {
                now = ReadCounter();
            } while (now - start < 1000);
            const uint64_t tsc1 = ReadTimeStampCounter();
            cycles = tsc1 - tsc0;
            elapsed = (now - start) * 1000000 / kCounterFrequency;
        }
        mhz = elapsed > 0 ? double(cycles) / double(elapsed) : 0;
        results[passes++] = static_cast<int64_t>(mhz);
        if (passes >= 3 && ClockMeasurementSettled(&results[passes - 3]))
            break;
    }
    info.RawFreqMHz = static_cast<int64_t>(mhz);
    const int tenths = static_cast<int>(std::fmod(mhz * 10, 10));
    info.NormFreqMHz = info.RawFreqMHz + (tenths >= 6 ? 1 : 0);
    info.ElapsedMicroseconds = elapsed;
    info.Cycles = cycles;
}

CpuInfo Identify()
{
    CpuInfo info;
#if ORB_X86
    unsigned a = 0, b = 0, c = 0, d = 0;
    // __get_cpuid_max does the flags-register bit 21 test where it matters.
    const unsigned maxLeaf = __get_cpuid_max(0, nullptr);
    info.HasCpuId = maxLeaf != 0;
    if (info.HasCpuId) {
        __cpuid(0, a, b, c, d);
        char vendor[13];
        std::memcpy(vendor, &b, 4);
        std::memcpy(vendor + 4, &d, 4);
        std::memcpy(vendor + 8, &c, 4);
        vendor[12] = 0;
        info.VendorId = vendor;
        if (maxLeaf >= 1) {
            __cpuid(1, a, b, c, d);
            info.Features = d;
            info.Stepping = a & 0xF;
            info.Family = (a >> 8) & 0xF;
            info.Model = (a >> 4) & 0xF;
            if (info.Family == 6 || info.Family == 15)
                info.Model |= ((a >> 16) & 0xF) << 4;
            if (info.Family == 15)
                info.Family += (a >> 20) & 0xFF;
        }
        if (__get_cpuid_max(0x80000000, nullptr) >= 0x80000006) {
            __cpuid(0x80000006, a, b, c, d);
            info.L2CacheKB = c >> 16;
        }
    }
#endif
    if (info.VendorId == "GenuineIntel") info.Vendor = "Intel";
    else if (info.VendorId == "CyrixInstead") info.Vendor = "Cyrix";
    else if (info.VendorId == "AuthenticAMD") info.Vendor = "AMD";
    else if (info.VendorId == "GenuineTMx86") info.Vendor = "Transmeta";
    else info.Vendor = "Unknown";
    info.Name = CpuName(info.VendorId, info.Family, info.Model, info.L2CacheKB);

    volatile double pi = M_PI;
    volatile double n = 2658955.0;
    const double back = n / pi * pi;
    info.DivisionTestPassed = std::fabs(back - 2658955.0) < 1.0;
    if (info.HasCpuId) {
        if (info.Features & (1u << 4))
            MeasureClock(info);
        info.HasMMX = (info.Features & (1u << 23)) != 0;
    }
    return info;
}

SystemFacts ReadSystemFacts()
{
    SystemFacts f;
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    f.ProcessorCount = cpus > 0 ? static_cast<uint32_t>(cpus) : 1;
    const long page = sysconf(_SC_PAGESIZE);
    f.PageSize = page > 0 ? static_cast<uint32_t>(page) : 4096;
    f.AllocationGranularity = f.PageSize;
    const uint8_t code = GetWindowsVersion();
    if (code >= 1 && code <= 11)
        f.VersionFlags[code] = true;
    f.IsWinNT3 = code >= wvWinNT31 && code <= wvWinNT351;
    return f;
}

// Recorded at start-up, as the rest of the program expects.
const SystemFacts g_startupFacts = ReadSystemFacts();

} // namespace

uint8_t GetWindowsVersion(const OsVersionInfo &os)
{
    const std::string sp = Trimmed(os.CSDVersion);
    if (os.PlatformId == kPlatformWin9x) {
        if (os.MinorVersion < 10)
            return sp == "B" ? wvWin95OSR2 : wvWin95;
        if (os.MinorVersion < 90) {
            if (os.Kernel32ProductVersion == 0x4005A)
                return wvWinME;
            return sp == "A" ? wvWin98SE : wvWin98;
        }
        return os.MinorVersion == 90 ? wvWinME : wvUnknown;
    }
    if (os.PlatformId == kPlatformNT) {
        if (os.MajorVersion == 3 && os.MinorVersion == 1) return wvWinNT31;
        if (os.MajorVersion == 3 && os.MinorVersion == 5) return wvWinNT35;
        if (os.MajorVersion == 3 && os.MinorVersion == 51) return wvWinNT351;
        if (os.MajorVersion == 4) return wvWinNT4;
        if (os.MajorVersion == 5 && os.MinorVersion == 0) return wvWin2000;
        if (os.MajorVersion == 5 && os.MinorVersion == 1) return wvWinXP;
    }
    return wvUnknown;
}

uint8_t GetWindowsVersion()
{
    // Linux is neither platform family of the table.
    return GetWindowsVersion(OsVersionInfo{});
}

const SystemFacts &GetSystemFacts()
{
    return g_startupFacts;
}

const CpuInfo &GetCpuInfo()
{
    static const CpuInfo info = Identify();
    return info;
}

uint64_t ReadTimeStampCounter()
{
#if ORB_X86
    return __rdtsc();
#else
    return 0;
#endif
}

std::string CpuName(const std::string &vendorId, uint32_t family, uint32_t model, uint32_t l2CacheKB)
{
    if (vendorId == "GenuineIntel") {
        switch (family) {
        case 4:
            switch (model) {
            case 0: case 1: return "Intel 486DX Processor";
            case 2: return "Intel 486SX Processor";
            case 3: return "Intel DX2 Processor";
            case 5: return "Intel SX2 Processor";
            case 7: return "Write-Back Enhanced Intel DX2 Processor";
            case 8: return "Intel DX4 Processor";
            default: return "Intel 486 Processor";
            }
        case 5: return "Pentium";
        case 6:
            switch (model) {
            case 1: return "Pentium Pro";
            case 3: return "Pentium II";
            case 5:
                if (l2CacheKB == 0) return "Celeron";
                return l2CacheKB >= 1024 ? "Pentium II Xeon" : "Pentium II";
            case 6: return "Celeron";
            case 7: case 8: case 10: case 11:
                return l2CacheKB >= 1024 ? "Pentium III Xeon" : "Pentium III";
            default: return Printf("P6 (Model %d)", model);
            }
        case 15: return "Pentium 4";
        default: return Printf("P%d", family);
        }
    }
    if (vendorId == "CyrixInstead") {
        if (family == 4 && model == 4) return "Cyrix MediaGX";
        if (family == 5 && model == 2) return "Cyrix 6x86";
        if (family == 5 && model == 4) return "Cyrix GXm";
        return Printf("%dx86", family);
    }
    if (vendorId == "AuthenticAMD") {
        switch (family) {
        case 4: return "Am486(R) or Am5x86";
        case 5:
            switch (model) {
            case 0: case 1: case 2: case 3: return "AMD-K5(R)";
            case 6: case 7: return "AMD-K6(R)";
            case 8: return "AMD-K6(R) -2";
            case 9: return "AMD-K6(R) -3";
            default: return "Unknown AMD Model";
            }
        default: return "Unknown AMD Chip";
        }
    }
    if (vendorId == "GenuineTMx86")
        return "Crusoe";
    return "Unknown";
}

int64_t RoundFrequency(int64_t mhz)
{
    static const int kSteps[] = {0, 20, 33, 50, 60, 66, 80, 90, 100};
    if (mhz < 0)
        return mhz;
    const int64_t r = mhz % 100;
    for (size_t i = 1; i < std::size(kSteps); ++i) {
        if (kSteps[i] > r) {
            const int64_t lower = kSteps[i - 1], upper = kSteps[i];
            return mhz - r + (r - lower < upper - r ? lower : upper);
        }
    }
    return mhz;
}

bool ClockMeasurementSettled(const int64_t lastThree[3])
{
    const int64_t sum = lastThree[0] + lastThree[1] + lastThree[2];
    for (int i = 0; i < 3; ++i)
        if (std::llabs(lastThree[i] * 3 - sum) >= 4)
            return false;
    return true;
}
