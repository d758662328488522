#include "util/BaseSysInfo.h"

#include "util/BaseResources.h"

#include <gtest/gtest.h>

TEST(BaseSysInfo, WindowsVersionTable)
{
    // The decisions beyond a plain lookup: service-pack letters, the kernel
    // version that tells Millennium, and versions between the known ones.
    auto v = [](uint32_t platform, uint32_t major, uint32_t minor, const char *sp = "", uint32_t k32 = 0) {
        return GetWindowsVersion(OsVersionInfo{platform, major, minor, sp, k32});
    };
    EXPECT_EQ(v(kPlatformWin9x, 4, 0), wvWin95);
    EXPECT_EQ(v(kPlatformWin9x, 4, 0, " B "), wvWin95OSR2);
    EXPECT_EQ(v(kPlatformWin9x, 4, 10), wvWin98);
    EXPECT_EQ(v(kPlatformWin9x, 4, 10, " A "), wvWin98SE);
    EXPECT_EQ(v(kPlatformWin9x, 4, 10, " A ", 0x4005A), wvWinME);
    EXPECT_EQ(v(kPlatformWin9x, 4, 90), wvWinME);
    EXPECT_EQ(v(kPlatformWin9x, 4, 95), wvUnknown);
    EXPECT_EQ(v(kPlatformNT, 3, 5), wvWinNT35);
    EXPECT_EQ(v(kPlatformNT, 3, 51), wvWinNT351);
    EXPECT_EQ(v(kPlatformNT, 4, 0), wvWinNT4);
    EXPECT_EQ(v(kPlatformNT, 5, 1), wvWinXP);
    EXPECT_EQ(v(kPlatformNT, 5, 2), wvUnknown);
    EXPECT_EQ(v(0, 5, 1), wvUnknown);
    // This system is none of them: callers take their non-XP branches.
    EXPECT_EQ(GetWindowsVersion(), wvUnknown);
    EXPECT_GE(GetSystemFacts().ProcessorCount, 1u);
    EXPECT_GT(GetSystemFacts().PageSize, 0u);
    for (bool flag : GetSystemFacts().VersionFlags)
        EXPECT_FALSE(flag);
}

TEST(BaseSysInfo, RoundFrequency)
{
    EXPECT_EQ(RoundFrequency(498), 500);
    EXPECT_EQ(RoundFrequency(466), 466);
    EXPECT_EQ(RoundFrequency(1333), 1333);
    EXPECT_EQ(RoundFrequency(649), 650);
    EXPECT_EQ(RoundFrequency(441), 433);  // nearer to 33 than to 50
    EXPECT_EQ(RoundFrequency(2995), 3000); // ties go to the upper bound
    EXPECT_EQ(RoundFrequency(2010), 2020);
    EXPECT_EQ(RoundFrequency(2005), 2000);
    EXPECT_EQ(RoundFrequency(0), 0);
}

TEST(BaseSysInfo, ProcessorNames)
{
    // The rows where the name depends on more than one table entry: the cache
    // size, a model or family without a name of its own, each vendor.
    EXPECT_EQ(CpuName("GenuineIntel", 4, 0, 0), "Intel 486DX Processor");
    EXPECT_EQ(CpuName("GenuineIntel", 6, 5, 0), "Celeron");
    EXPECT_EQ(CpuName("GenuineIntel", 6, 5, 2048), "Pentium II Xeon");
    EXPECT_EQ(CpuName("GenuineIntel", 6, 8, 256), "Pentium III");
    EXPECT_EQ(CpuName("GenuineIntel", 6, 10, 1024), "Pentium III Xeon");
    EXPECT_EQ(CpuName("GenuineIntel", 6, 158, 1024), "P6 (Model 158)");
    EXPECT_EQ(CpuName("GenuineIntel", 7, 0, 0), "P7");
    EXPECT_EQ(CpuName("CyrixInstead", 6, 0, 0), "6x86");
    EXPECT_EQ(CpuName("AuthenticAMD", 5, 12, 0), "Unknown AMD Model");
    EXPECT_EQ(CpuName("AuthenticAMD", 23, 1, 512), "Unknown AMD Chip");
    EXPECT_EQ(CpuName("GenuineTMx86", 5, 4, 0), "Crusoe");
}

TEST(BaseSysInfo, ProcessorRecordAndClock)
{
    const CpuInfo &cpu = GetCpuInfo();
    EXPECT_TRUE(cpu.DivisionTestPassed);
    EXPECT_FALSE(cpu.Vendor.empty());
#if defined(__x86_64__)
    ASSERT_TRUE(cpu.HasCpuId);
    EXPECT_EQ(cpu.VendorId.size(), 12u);
    EXPECT_TRUE(cpu.HasMMX); // every 64-bit x86 has it
    if (cpu.Features & (1u << 4)) {
        EXPECT_GT(cpu.RawFreqMHz, 0);
        EXPECT_GE(cpu.NormFreqMHz, cpu.RawFreqMHz);
        EXPECT_LE(cpu.NormFreqMHz, cpu.RawFreqMHz + 1);
        EXPECT_GE(cpu.ElapsedMicroseconds, 1000);
    }
#endif
    const int64_t settled[3] = {2400, 2401, 2400};
    const int64_t unsettled[3] = {2400, 2410, 2400};
    EXPECT_TRUE(ClockMeasurementSettled(settled));
    EXPECT_FALSE(ClockMeasurementSettled(unsettled));
    EXPECT_EQ(kCacheDescriptions[9], "Unified cache, 32 byte cache line, 4-way set associative, 2Mb");
}
