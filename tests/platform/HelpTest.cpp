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
    const struct { const char *file; int program; HelpLanguage want; } cases[] = {
        {"C:\\Program\\ORBALIST.HLP", -1, HelpLanguage::Slovak}, {"orbalist.hlp", 2, HelpLanguage::Czech},
        {"/opt/orbalist/ORBALISTEN.HLP", 1, HelpLanguage::English}, {"orbalist_e.hlp", -1, HelpLanguage::English}};
    HelpLanguage l;
    for (const auto &c : cases) {
        ASSERT_TRUE(HelpService::LanguageOf(c.file, c.program, l)) << c.file;
        EXPECT_EQ(l, c.want) << c.file;
    }
    EXPECT_FALSE(HelpService::LanguageOf("other.hlp", 0, l));
    EXPECT_FALSE(HelpService::LanguageOf("", 0, l));
    EXPECT_TRUE(HelpService::PageFor("other.hlp", 4).isEmpty());
    EXPECT_FALSE(HelpService::ShowContext("other.hlp", 4));
}

// Every context in every language has its own page, in the right language, with a working link back to
// the contents; the contents links its pages. The two pages a new user needs first, reading a drive and
// browsing, come first in the contents and are reached by their links.
TEST(Help, EveryContextHasAPageInEveryLanguage)
{
    struct Lang { const char *file; int program; const char *folder, *marker, *reading; };
    const Lang langs[] = {{"orbalist_e.hlp", 0, "en", "lang=\"en\"", "Reading a drive"},
                          {"orbalist.hlp", 1, "sk", "lang=\"sk\"", "Načítanie jednotky"},
                          {"orbalist.hlp", 2, "cz", "lang=\"cs\"", "Načtení jednotky"}};
    for (const Lang &lang : langs) {
        const QUrl index = HelpService::PageFor(lang.file, 0, lang.program);
        const QString contents = PageText(index);
        ASSERT_FALSE(contents.isEmpty()) << lang.marker;
        const qsizetype reading = contents.indexOf(QStringLiteral("href=\"reading.html\""));
        const qsizetype browsing = contents.indexOf(QStringLiteral("href=\"browsing.html\""));
        ASSERT_GE(reading, 0) << lang.folder;
        EXPECT_LT(reading, browsing);
        EXPECT_LT(browsing, contents.indexOf(QStringLiteral("href=\"context-")));
        for (const char *name : {"reading", "browsing"}) {
            const QString page = PageText(index.resolved(QUrl(QStringLiteral("%1.html").arg(QLatin1String(name)))));
            ASSERT_FALSE(page.isEmpty()) << lang.folder << " " << name;
            EXPECT_TRUE(page.contains(QLatin1String(lang.marker))) << name;
            EXPECT_TRUE(page.contains(QStringLiteral("href=\"index.html\""))) << name;
        }
        // Binding a folder to a letter is told where the file is and how.
        const QString readingPage = PageText(index.resolved(QUrl(QStringLiteral("reading.html"))));
        for (const QString &want : {QString::fromUtf8(lang.reading), QStringLiteral("driveletters.map"),
                                    QStringLiteral("DiVovData"), QStringLiteral("t=folder:/home/")})
            EXPECT_TRUE(readingPage.contains(want)) << lang.folder << " " << want.toStdString();
        // The link is followed inside the help window.
        QTextBrowser browser;
        browser.setSource(index);
        browser.setSource(index.resolved(QUrl(QStringLiteral("reading.html"))));
        EXPECT_TRUE(browser.toPlainText().contains(QString::fromUtf8(lang.reading))) << lang.folder;
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
