#include "util/BaseSysInfo.h"

#include <gtest/gtest.h>

// This system is no Windows version: callers take their non-XP branches.
TEST(BaseSysInfo, NoWindowsVersionHere)
{
    EXPECT_EQ(GetWindowsVersion(), wvUnknown);
    EXPECT_EQ(GetWindowsVersion(OsVersionInfo{kPlatformNT, 5, 1, "", 0}), wvWinXP);
    EXPECT_GE(GetSystemFacts().ProcessorCount, 1u);
    EXPECT_GT(GetSystemFacts().PageSize, 0u);
    for (bool flag : GetSystemFacts().VersionFlags)
        EXPECT_FALSE(flag);
}

TEST(BaseSysInfo, ProcessorNameAndClock)
{
    // The name shown depends on the cache size where one model was sold as two.
    EXPECT_EQ(CpuName("GenuineIntel", 6, 5, 0), "Celeron");
    EXPECT_EQ(CpuName("GenuineIntel", 6, 5, 2048), "Pentium II Xeon");
    EXPECT_EQ(CpuName("GenuineIntel", 6, 158, 1024), "P6 (Model 158)");
    const int64_t rounding[][2] = {{498, 500}, {466, 466}, {1333, 1333}, {649, 650}, {441, 433} /* nearer 33 than 50 */,
                                   {2995, 3000} /* ties go up */, {2010, 2020}, {2005, 2000}, {0, 0}};
    for (const auto &r : rounding)
        EXPECT_EQ(RoundFrequency(r[0]), r[1]) << r[0];
    const int64_t settled[3] = {2400, 2401, 2400}, unsettled[3] = {2400, 2410, 2400};
    EXPECT_TRUE(ClockMeasurementSettled(settled));
    EXPECT_FALSE(ClockMeasurementSettled(unsettled));
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
}
