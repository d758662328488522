#pragma once
// Which Windows version the program runs on (here: none of them, code 0, so
// every caller takes its non-XP branch), a few system facts, and processor
// identification for choosing the pixel routines.
#include <cstdint>
#include <string>

enum : uint8_t {
    wvUnknown = 0, wvWin95 = 1, wvWin95OSR2 = 2, wvWin98 = 3, wvWin98SE = 4, wvWinME = 5,
    wvWinNT31 = 6, wvWinNT35 = 7, wvWinNT351 = 8, wvWinNT4 = 9, wvWin2000 = 10, wvWinXP = 11,
};

constexpr uint32_t kPlatformWin9x = 1;
constexpr uint32_t kPlatformNT = 2;

// The operating-system version facts the version code is derived from.
struct OsVersionInfo {
    uint32_t PlatformId = 0;          // 1 Windows 9x family, 2 NT family, other: neither
    uint32_t MajorVersion = 0;
    uint32_t MinorVersion = 0;
    std::string CSDVersion;           // service-pack text
    uint32_t Kernel32ProductVersion = 0; // high double word; 9x family only
};

// The version code for the given facts (pure; the table of the known versions).
uint8_t GetWindowsVersion(const OsVersionInfo &os);
// The version code of the running system, recorded at start-up: always
// wvUnknown on Linux.
uint8_t GetWindowsVersion();

struct SystemFacts {
    uint32_t ProcessorCount = 0;
    uint32_t PageSize = 0;
    uint32_t AllocationGranularity = 0;
    uint32_t Kernel32ProductVersion = 0; // 0: not on the 9x family
    bool IsNT = false;
    // One flag per version code 1 .. 11 (index 0 unused), and NT 3.x together.
    bool VersionFlags[12] = {};
    bool IsWinNT3 = false;
};
const SystemFacts &GetSystemFacts();

struct CpuInfo {
    bool HasCpuId = false;
    bool HasMMX = false;
    bool DivisionTestPassed = false; // false: the known floating-point division fault
    uint32_t Features = 0;           // feature bits (EDX of identification leaf 1)
    uint32_t Family = 0, Model = 0, Stepping = 0;
    uint32_t L2CacheKB = 0;
    // Clock measurement: raw and normalised MHz, elapsed microseconds, cycles.
    int64_t RawFreqMHz = 0;
    int64_t NormFreqMHz = 0;
    int64_t ElapsedMicroseconds = 0;
    uint64_t Cycles = 0;
    std::string VendorId; // e.g. "GenuineIntel"
    std::string Vendor;   // "Intel", "Cyrix", "AMD", "Transmeta" or "Unknown"
    std::string Name;
};

// Identifies the processor (and measures its clock when it has a time-stamp
// counter). The first call does the work; later calls return the same record.
const CpuInfo &GetCpuInfo();
// The processor's time-stamp counter (0 where it has none).
uint64_t ReadTimeStampCounter();
// The processor name for a vendor, family, model and second-level cache size.
std::string CpuName(const std::string &vendorId, uint32_t family, uint32_t model, uint32_t l2CacheKB);
// A frequency in MHz moved to the nearest customary value (498 -> 500).
int64_t RoundFrequency(int64_t mhz);

// The clock measurement's stopping rule: each of the last three pass results,
// times three, lies within 4 of their sum.
bool ClockMeasurementSettled(const int64_t lastThree[3]);
