#include "platform/Help.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>

// The pages live in this static library: registering them here makes the
// linker keep them. Q_INIT_RESOURCE must be used outside any namespace.
static void EnsureResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(Help);
        return true;
    }();
    (void)done;
}

namespace {

QString FolderOf(HelpLanguage language)
{
    switch (language) {
    case HelpLanguage::Slovak: return QStringLiteral("sk");
    case HelpLanguage::Czech: return QStringLiteral("cz");
    case HelpLanguage::English: break;
    }
    return QStringLiteral("en");
}

QString WindowTitle(HelpLanguage language)
{
    switch (language) {
    case HelpLanguage::Slovak: return QStringLiteral("Pomocník programu Orbalist");
    case HelpLanguage::Czech: return QStringLiteral("Nápověda programu Orbalist");
    case HelpLanguage::English: break;
    }
    return QStringLiteral("Orbalist Help");
}

QPointer<QDialog> g_window;
QPointer<QTextBrowser> g_browser;

void Show(const QUrl &page, HelpLanguage language)
{
    if (!g_window) {
        g_window = new QDialog(nullptr, Qt::Window);
        g_window->setAttribute(Qt::WA_DeleteOnClose, false);
        // An open help window must not keep the program running once its
        // main window has closed.
        g_window->setAttribute(Qt::WA_QuitOnClose, false);
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, g_window, &QObject::deleteLater);
        g_window->setObjectName(QStringLiteral("HelpWindow"));
        auto *layout = new QVBoxLayout(g_window);
        layout->setContentsMargins(0, 0, 0, 0);
        g_browser = new QTextBrowser(g_window);
        g_browser->setObjectName(QStringLiteral("HelpBrowser"));
        // Links to other pages stay in the window; addresses go to the browser.
        g_browser->setOpenExternalLinks(true);
        layout->addWidget(g_browser);
        g_window->resize(560, 460);
    }
    g_window->setWindowTitle(WindowTitle(language));
    g_browser->setSource(page);
    g_window->show();
    g_window->raise();
    g_window->activateWindow();
}

} // namespace

const QList<int> &HelpService::Contexts()
{
    static const QList<int> contexts = {4, 11, 12, 13, 18, 19, 20, 21, 22, 24, 25};
    return contexts;
}

bool HelpService::LanguageOf(const QString &helpFile, int programLanguage, HelpLanguage &language)
{
    QString name = helpFile;
    const qsizetype cut = std::max(name.lastIndexOf(QLatin1Char('\\')), name.lastIndexOf(QLatin1Char('/')));
    if (cut >= 0)
        name = name.mid(cut + 1);
    name = name.toLower();
    if (name == QLatin1String("orbalist.hlp")) {
        language = programLanguage == 2 ? HelpLanguage::Czech : HelpLanguage::Slovak;
        return true;
    }
    if (name == QLatin1String("orbalisten.hlp") || name == QLatin1String("orbalist_e.hlp")) {
        language = HelpLanguage::English;
        return true;
    }
    return false;
}

QUrl HelpService::PageFor(const QString &helpFile, int context, int programLanguage)
{
    HelpLanguage language;
    if (!LanguageOf(helpFile, programLanguage, language))
        return {};
    EnsureResources();
    const QString folder = QStringLiteral("qrc:/help/") + FolderOf(language) + QLatin1Char('/');
    if (Contexts().contains(context))
        return QUrl(folder + QStringLiteral("context-%1.html").arg(context));
    return QUrl(folder + QStringLiteral("index.html"));
}

bool HelpService::ShowContents(const QString &helpFile, int programLanguage)
{
    return ShowContext(helpFile, 0, programLanguage);
}

bool HelpService::ShowContext(const QString &helpFile, int context, int programLanguage)
{
    HelpLanguage language;
    if (!LanguageOf(helpFile, programLanguage, language))
        return false;
    const QUrl page = PageFor(helpFile, context, programLanguage);
    if (!QFile::exists(QLatin1Char(':') + page.path()))
        return false;
    Show(page, language);
    return true;
}

QTextBrowser *HelpService::Browser()
{
    return g_browser;
}

QWidget *HelpService::Window()
{
    return g_window;
}
