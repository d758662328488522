#include "platform/Help.h"

#include <QFile>
#include <QTextBrowser>

#include <gtest/gtest.h>

namespace {

QString PageText(const QUrl &url)
{
    QFile f(QLatin1Char(':') + url.path());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

} // namespace

TEST(Help, FileNamesDecideTheLanguage)
{
    HelpLanguage l;
    ASSERT_TRUE(HelpService::LanguageOf("C:\\Program\\ORBALIST.HLP", -1, l));
    EXPECT_EQ(l, HelpLanguage::Slovak);
    ASSERT_TRUE(HelpService::LanguageOf("orbalist.hlp", 2, l));
    EXPECT_EQ(l, HelpLanguage::Czech);
    ASSERT_TRUE(HelpService::LanguageOf("/opt/orbalist/ORBALISTEN.HLP", 1, l));
    EXPECT_EQ(l, HelpLanguage::English);
    ASSERT_TRUE(HelpService::LanguageOf("orbalist_e.hlp", -1, l));
    EXPECT_EQ(l, HelpLanguage::English);
    EXPECT_FALSE(HelpService::LanguageOf("other.hlp", 0, l));
    EXPECT_FALSE(HelpService::LanguageOf("", 0, l));
    EXPECT_TRUE(HelpService::PageFor("other.hlp", 4).isEmpty());
    EXPECT_FALSE(HelpService::ShowContext("other.hlp", 4));
}

// Every context in every language has its own page, in the right language,
// with a working link back to the contents; the contents links its pages.
TEST(Help, EveryContextHasAPageInEveryLanguage)
{
    struct Lang { const char *file; int program; const char *marker; };
    const Lang langs[] = {{"orbalist_e.hlp", 0, "lang=\"en\""},
                          {"orbalist.hlp", 1, "lang=\"sk\""},
                          {"orbalist.hlp", 2, "lang=\"cs\""}};
    for (const Lang &lang : langs) {
        const QString contents = PageText(HelpService::PageFor(lang.file, 0, lang.program));
        ASSERT_FALSE(contents.isEmpty()) << lang.marker;
        QSet<QString> seen;
        for (int ctx : HelpService::Contexts()) {
            const QUrl url = HelpService::PageFor(lang.file, ctx, lang.program);
            const QString page = PageText(url);
            ASSERT_FALSE(page.isEmpty()) << lang.marker << " " << ctx;
            EXPECT_TRUE(page.contains(lang.marker)) << ctx;
            EXPECT_TRUE(page.contains("href=\"index.html\"")) << ctx;
            if (ctx != 24 && ctx != 25) {
                EXPECT_TRUE(contents.contains(QStringLiteral("context-%1.html").arg(ctx))) << ctx;
                EXPECT_FALSE(seen.contains(page)) << "duplicate page for " << ctx;
                seen.insert(page);
            }
        }
    }
    // Slovak and Czech pages are written with their own diacritics.
    EXPECT_TRUE(PageText(HelpService::PageFor("orbalist.hlp", 4, 1)).contains(QStringLiteral("Nový archív")));
    EXPECT_TRUE(PageText(HelpService::PageFor("orbalist.hlp", 11, 2)).contains(QStringLiteral("Nastavení")));
    // An unknown context shows the contents.
    EXPECT_EQ(HelpService::PageFor("orbalist_e.hlp", 99), HelpService::PageFor("orbalist_e.hlp", 0));
}

TEST(Help, WindowShowsThePage)
{
    ASSERT_TRUE(HelpService::ShowContext("ORBALISTEN.HLP", 22));
    ASSERT_NE(HelpService::Browser(), nullptr);
    EXPECT_TRUE(HelpService::Window()->isVisible());
    EXPECT_FALSE(HelpService::Window()->testAttribute(Qt::WA_QuitOnClose));
    EXPECT_TRUE(HelpService::Browser()->toPlainText().contains("Organising discs"));
    // The same window is reused for the next request.
    QWidget *window = HelpService::Window();
    ASSERT_TRUE(HelpService::ShowContents("orbalist.hlp", 2));
    EXPECT_EQ(HelpService::Window(), window);
    EXPECT_TRUE(HelpService::Browser()->toPlainText().contains(QStringLiteral("Obsah")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Nápověda programu Orbalist"));
    window->close();
}
