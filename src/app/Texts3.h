#pragma once
// Texts of the program's own messages that are not in the string table, in
// its three languages (UTF-8): the one of the current language.
#include <QString>

#include <string>

#include "app/LangUnit.h"
#include "platform/QtText.h"

inline std::string Text3(const std::string &english, const std::string &slovak, const std::string &czech)
{
    switch (langunit::CurrentLanguage()) {
    case langunit::LangEnglish: return english;
    case langunit::LangCzech: return czech;
    default: return slovak;
    }
}

// The same for the texts of a window, as Qt text.
inline QString ByLanguage(const char *english, const char *slovak, const char *czech)
{
    return QString::fromStdString(Text3(english, slovak, czech));
}

// String n of the language table in the current language, as Qt text.
inline QString L(int n)
{
    return ToQString(langunit::LangString(n));
}
