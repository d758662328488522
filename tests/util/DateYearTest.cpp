// Date texts: every one written has a four-digit year, in the C, English, Slovak and
// Czech locales, and both the four- and the two-digit form read back.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "support/TempDir.h"
#include "util/BaseDateTime.h"

namespace {

// The locales compiled into a folder of the test's own (LOCPATH), so the machine's
// installed locales do not matter.
class DateYearTest : public ::testing::TestWithParam<const char *> {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new orbtest::TempDir;
        for (const char *name : {"en_US", "en_GB", "sk_SK", "cs_CZ"}) {
            const std::string cmd = std::string("localedef -i ") + name + " -f UTF-8 " + dir_->str() + "/" + name +
                                    ".UTF-8 >/dev/null 2>&1";
            (void)std::system(cmd.c_str());
        }
    }
    static void TearDownTestSuite() { delete dir_, dir_ = nullptr; }
    void SetUp() override
    {
        ::setenv("LOCPATH", dir_->str().c_str(), 1);
        const std::string name = GetParam();
        if (!std::setlocale(LC_TIME, name == "C" ? "C" : (name + ".UTF-8").c_str()))
            GTEST_SKIP() << "locale " << name << " could not be made here";
    }
    void TearDown() override
    {
        std::setlocale(LC_TIME, "C");
        ::unsetenv("LOCPATH");
    }
    static orbtest::TempDir *dir_;
};
orbtest::TempDir *DateYearTest::dir_ = nullptr;

struct Moment { int y, mo, d, h, mi, s; };
const Moment kMoments[] = {
    {1938, 6, 1, 12, 34, 56}, {1999, 12, 31, 23, 59, 59}, {2038, 1, 19, 3, 14, 7}, {2099, 12, 31, 0, 0, 1}};

} // namespace

TEST_P(DateYearTest, WrittenWithFourDigitYearsAndReadBack)
{
    const FormatSettings fs = FormatSettings::FromLocale();
    for (const Moment &m : kMoments) {
        const TDateTime t = EncodeDate(m.y, m.mo, m.d) + EncodeTime(m.h, m.mi, m.s, 0);
        // The text a scan stores, in the width of the date fields.
        const std::string text = DateTimeToStrFit(t, 20, fs);
        EXPECT_LE(text.size(), 20u) << text;
        EXPECT_NE(text.find(std::to_string(m.y)), std::string::npos) << GetParam() << ": " << text;
        TDateTime back = 0;
        ASSERT_TRUE(TryStrToDateTime(text, back, fs)) << GetParam() << ": " << text;
        EXPECT_NEAR(back, t, 0.5 / 86400) << GetParam() << ": " << text;
        // The zip members' form: short date, two blanks, short time.
        const std::string zip = FormatDateTimeExt("ddddd  t", t, fs);
        EXPECT_NE(zip.find(std::to_string(m.y)), std::string::npos) << zip;
        ASSERT_TRUE(TryStrToDateTime(zip, back, fs)) << zip;
        EXPECT_NEAR(back, t - m.s / 86400.0, 0.5 / 86400) << zip;
    }
}

TEST_P(DateYearTest, TwoDigitYearsOfOlderCataloguesStillRead)
{
    const FormatSettings fs = FormatSettings::FromLocale();
    FormatSettings old = fs;
    // The short form as older catalogues wrote it.
    for (size_t p = old.ShortDateFormat.find("yyyy"); p != std::string::npos; p = old.ShortDateFormat.find("yyyy"))
        old.ShortDateFormat.replace(p, 4, "yy");
    const TDateTime t = EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 59, 0);
    const std::string text = DateTimeToStr(t, old);
    EXPECT_EQ(text.find("1999"), std::string::npos) << text;
    TDateTime back = 0;
    ASSERT_TRUE(TryStrToDateTime(text, back, fs)) << text;
    int y, mo, d;
    DecodeDate(back, y, mo, d);
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    EXPECT_EQ(y * 10000 + mo * 100 + d, ExpandTwoDigitYear(99, tm.tm_year + 1900) * 10000 + 1231);
}

INSTANTIATE_TEST_SUITE_P(Locales, DateYearTest, ::testing::Values("C", "en_US", "en_GB", "sk_SK", "cs_CZ"));

// The window itself is checked with the date-entry parser, which shares it.
TEST(DateYear, FourDigitFormatsAndRefusedTexts)
{
    EXPECT_EQ(WithFourDigitYear("mm/dd/yy"), "mm/dd/yyyy");
    EXPECT_EQ(WithFourDigitYear("dd.mm.yyyy"), "dd.mm.yyyy");
    EXPECT_EQ(WithFourDigitYear("\"yy\" yy"), "\"yy\" yyyy");
    FormatSettings fs;
    fs.ShortDateFormat = "dd/mm/yyyy";
    TDateTime v = 0;
    for (const char *bad : {"", "31/02/1999", "1/1", "31/12/1999 25:00", "31/12/1999 11:00 XM", "a/b/c",
                            "31/12/1999 13:00 PM", "31/12/1999 x"})
        EXPECT_FALSE(TryStrToDateTime(bad, v, fs)) << bad;
    ASSERT_TRUE(TryStrToDateTime(" 1/2/2003 ", v, fs));
    EXPECT_EQ(v, EncodeDate(2003, 2, 1));
    EXPECT_THROW(StrToDateTime("nonsense", fs), EConvertError);
}
