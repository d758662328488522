// The two pages a new user needs first, reading a drive and browsing, are in
// every language, listed first in the contents, and reached by their links.
#include "platform/Help.h"

#include <QFile>
#include <QTextBrowser>

#include <gtest/gtest.h>

namespace {

QString PageText(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

} // namespace

TEST(HelpTopics, ReadingAndBrowsingComeFirstInEveryLanguage)
{
    struct Lang { const char *file; int program; const char *folder; const char *marker; const char *reading; };
    const Lang langs[] = {{"orbalist_e.hlp", 0, "en", "lang=\"en\"", "Reading a drive"},
                          {"orbalist.hlp", 1, "sk", "lang=\"sk\"", "Načítanie jednotky"},
                          {"orbalist.hlp", 2, "cz", "lang=\"cs\"", "Načtení jednotky"}};
    for (const Lang &lang : langs) {
        const QUrl index = HelpService::PageFor(lang.file, 0, lang.program);
        const QString contents = PageText(QLatin1Char(':') + index.path());
        ASSERT_FALSE(contents.isEmpty()) << lang.folder;
        const qsizetype reading = contents.indexOf(QStringLiteral("href=\"reading.html\""));
        const qsizetype browsing = contents.indexOf(QStringLiteral("href=\"browsing.html\""));
        const qsizetype first = contents.indexOf(QStringLiteral("href=\"context-"));
        ASSERT_GE(reading, 0) << lang.folder;
        ASSERT_GE(browsing, 0) << lang.folder;
        EXPECT_LT(reading, browsing);
        EXPECT_LT(browsing, first);
        for (const char *name : {"reading", "browsing"}) {
            const QString page = PageText(QStringLiteral(":/help/%1/%2.html").arg(QLatin1String(lang.folder),
                                                                                  QLatin1String(name)));
            ASSERT_FALSE(page.isEmpty()) << lang.folder << " " << name;
            EXPECT_TRUE(page.contains(QLatin1String(lang.marker))) << name;
            EXPECT_TRUE(page.contains(QStringLiteral("href=\"index.html\""))) << name;
        }
        // Binding a folder to a letter is told where the file is and how.
        const QString readingPage = PageText(QStringLiteral(":/help/%1/reading.html").arg(QLatin1String(lang.folder)));
        EXPECT_TRUE(readingPage.contains(QString::fromUtf8(lang.reading)));
        EXPECT_TRUE(readingPage.contains(QStringLiteral("driveletters.map")));
        EXPECT_TRUE(readingPage.contains(QStringLiteral("DiVovData")));
        EXPECT_TRUE(readingPage.contains(QStringLiteral("t=folder:/home/")));

        // The link is followed inside the help window.
        QTextBrowser browser;
        browser.setSource(index);
        browser.setSource(index.resolved(QUrl(QStringLiteral("reading.html"))));
        EXPECT_TRUE(browser.toPlainText().contains(QString::fromUtf8(lang.reading))) << lang.folder;
    }
}
