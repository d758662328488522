#pragma once
// The three-language string table and the per-language menu texts.
// Language index: 0 English, 1 Slovak, 2 Czech. Texts are UTF-8.
#include <string>

namespace langunit {

inline constexpr int LangEnglish = 0;
inline constexpr int LangSlovak = 1;
inline constexpr int LangCzech = 2;
inline constexpr int LangStringCount = 153;

// The current language of the whole program (starts as Slovak until the
// settings are read). Setting it also sets the language of Qt's own texts
// (message box buttons, file and print dialogs) once the application object
// exists, where Qt's translations are installed.
int CurrentLanguage();
void SetCurrentLanguage(int language);

// Text := string n of the current language. For a language other than 0, 1, 2
// the text is left as it is; so is it for a number outside 1 .. 153.
void GetLangString(int n, std::string &text);
// Convenience form: string n of the current language ("" when out of range).
std::string LangString(int n);
// String n of a given language, independent of the current one.
std::string LangStringOf(int language, int n);

// Menu captions and tool-button hints that the main window sets for English
// and Czech at start-up; Slovak keeps the form's own texts.
struct MenuText {
    const char *objectName;
    const char *english; // nullptr: English keeps the form's text
    const char *czech;
};
// All entries (menu items first, then tool-button hints); count in *count.
const MenuText *MenuCaptions(int *count);
const MenuText *ToolButtonHints(int *count);

} // namespace langunit
