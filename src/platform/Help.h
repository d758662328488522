#pragma once
// Help pages per language, shipped inside the program, shown in one help
// window at the context numbers the dialogs ask for. The help file name the
// settings chose decides the language: "orbalist.hlp" is the Slovak and Czech
// help, "orbalisten.hlp" and "orbalist_e.hlp" the English one (any folder,
// any case).
#include <QString>
#include <QUrl>

class QTextBrowser;
class QWidget;

enum class HelpLanguage { English, Slovak, Czech };

class HelpService {
public:
    // The program's language numbers: 0 English, 1 Slovak, 2 Czech. The shared
    // Slovak and Czech help file shows Czech pages when the program runs in
    // Czech; without a language given, Slovak.
    static bool ShowContents(const QString &helpFile, int programLanguage = -1);
    // Shows the page of a context; an unknown context shows the contents.
    static bool ShowContext(const QString &helpFile, int context, int programLanguage = -1);

    // The page a request resolves to (empty when the help file name is not one
    // of ours); what the Show functions display.
    static QUrl PageFor(const QString &helpFile, int context, int programLanguage = -1);
    static bool LanguageOf(const QString &helpFile, int programLanguage, HelpLanguage &language);
    // The context numbers that have pages.
    static const QList<int> &Contexts();

    // The help window's browser, created on first use (for tests).
    static QTextBrowser *Browser();
    static QWidget *Window();
};
