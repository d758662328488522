#include "app/LangUnit.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <array>
#include <cstring>
#include <memory>

namespace langunit {

namespace {

int g_language = LangSlovak;

using Table = std::array<const char *, LangStringCount + 1>;

// Index 0 and the numbers 30 .. 33 and 65 are not used by any screen.
const Table kEnglish = {
    "",
    /*1*/ "properties", "File type:", "Path:", "Size:", "Drive name:",
    /*6*/ "Drive number:", "Created:", "Changed:", "Attributes:", "Read only",
    /*11*/ "Archive", "Hidden", "System", "New archive", "Archive name",
    /*16*/ "Help", "Cancel", "Setting archive name (e.g . DuzuvozER), and click to \"OK\"", "New record", "Load",
    /*21*/ "Cancel action", "Drive name", "Nr", "Loading", "Wait please .",
    /*26*/ "Ready", "is prepare to writing", "Write", "into disk", "",
    /*31*/ "", "", "", "Warning", "Orbalist setup",
    /*36*/ "english", "slovak", "czech", "Orbalist", "Searched file",
    /*41*/ "Browse", "New search", "Search off", "Write name, or element names to search file.", "active archive",
    /*46*/ "Name", "Size", "Type", "Create date", "Last change",
    /*51*/ "Nr", "Drive", "All drives", "files", "Want to remove record",
    /*56*/ "Insert please  disk number", "with name", "Suitable record count", "Are you locate what you are tracking?",
    "None record suitable for criteria. You give it a try again?",
    /*61*/ "Too many found file. You must specify parameters.", "Suitable", "filtered now",
    "Want to recover all settings reffering to an application appereance?", "",
    /*66*/ "I am not find none files", "Error", "Color scheme", "Drop-down tree", "Default",
    /*71*/ "Blue", "Metallic", "Olive-coloured", "Find", "Back",
    /*76*/ "Address:", "Load from:", "No file chosen", "Find in files", "Find in notes",
    /*81*/ "Inserting - editation notes", "Note from file : ", "bytes", "Note from CD : ", "Page number :",
    /*86*/ "Close", "&Back", "&Next", "Print", "Summary files into archive",
    /*91*/ "Want to remove archive", "Archive:", "is just open now, it can't be deleted", "Delete archive", "Rename CD",
    /*96*/ "Old CD name:", "New CD Name:", "Write new name CD, please.", "Note: ", "File count:",
    /*101*/ "from the archive", "Medium number:", "Medium name:", "Archive name:",
    "The file with your user\u00b4s settings is probably defective. Orbalist software will now load the standard "
    "tree-distribution.",
    /*106*/ "Note :", "Case sensitive", "Create date :", "I don't know", "Last week",
    /*111*/ "Last month", "Last year", "Choose date", "from:", "to:",
    /*116*/ "Create date", "Change date", "File size :", "Less than 100kb", "Less than 1mb",
    /*121*/ "More than 1mb", "Choose size into kb", "more", "most", " Add : ",
    /*126*/ "Add parent", "Add child", "Add>>", "Help - read guide", "Delete tree item",
    /*131*/ "Abort operation without saving", "OK - finish operation and save",
    "This item cannot erase, because is not empty", "I am don't find backup file ",
    "Attention! Do you want to remove all your tree-distribution settings? This operation irreversible.",
    /*136*/ "This operation come to database innovation into that state, in that it was at the last succesfull "
    "save on harddisk. Do you want continue?",
    " Orbalist converts your data files into new format now.",
    "Data updating, insert please into drive medium with names: \"",
    "Caution! number of product volume, which have you insertion into computer, it is mismatch",
    "with number of product volume  \"",
    /*141*/ " what you want to update", "please check the name insertion volume", "Record update", "Update",
    "No data available for this CD ",
    /*146*/ "I am connecting to server, wait.", "Next", "Cancel",
    "This is a music CD. Do you want to connect to the CDDB server at %1 and fetch the names of its "
    "tracks from the internet?",
    "Yes, continue",
    /*151*/ "No, cancel", "Note:", "File:",
};

const Table kSlovak = {
    "",
    /*1*/ "vlastnosti", "Typ súboru:", "Cesta:", "Veľkosť:", "Názov média:",
    /*6*/ "Číslo média:", "Vytvorený:", "Zmenený:", "Atribúty:", "Iba na čítanie",
    /*11*/ "Archívny", "Skrytý", "Systémový", "Nový archív", "Názov archívu",
    /*16*/ "Pomoc", "Zrušiť", "Zadajte názov archívu (napr. DuzuvozER) a kliknite na \"OK\"", "Nový záznam",
    "Načítať",
    /*21*/ "Zrušiť akciu", "Názov média", "Č.", "Načítavam", "Čakajte, prosím .",
    /*26*/ "Pripravené", "je pripravené na zápis", "Zapísať", "na disk", "",
    /*31*/ "", "", "", "Upozornenie", "Nastavenie programu Orbalist",
    /*36*/ "anglicky", "slovensky", "česky", "Orbalist", "Hľadaný súbor",
    /*41*/ "Prehľadávať", "Nové hľadanie", "Vypnúť hľadanie", "Napíšte názov alebo časť názvu hľadaného súboru.",
    "aktívny archív",
    /*46*/ "Názov", "Veľkosť", "Typ", "Dátum vytvorenia", "Posledná zmena",
    /*51*/ "Č.", "Médium", "Všetky médiá", "súborov", "Chcete odstrániť záznam",
    /*56*/ "Vložte, prosím, disk číslo", "s názvom", "Počet vyhovujúcich záznamov", "Našli ste, čo hľadáte?",
    "Kritériám nevyhovuje žiadny záznam. Skúsite to znova?",
    /*61*/ "Našlo sa príliš veľa súborov. Musíte spresniť parametre.", "Vyhovuje", "práve filtrované",
    "Chcete obnoviť všetky nastavenia vzhľadu aplikácie?", "",
    /*66*/ "Nenašiel som nijaké súbory.", "Chyba!", "Farebná schéma", "Rozbaľovací strom", "Predvolená",
    /*71*/ "Modrá", "Metalická", "Olivová", "Hľadať", "Späť",
    /*76*/ "Adresa:", "Načítať z:", "Nie je vybraný žiadny súbor", "Hľadať v súboroch", "Hľadať v poznámkach",
    /*81*/ "Vkladanie - úprava poznámok", "Poznámka k súboru : ", "bajtov", "Poznámka k CD : ", "Číslo strany :",
    /*86*/ "Zavrieť", "&Späť", "Ď&alej", "Tlačiť", "Súhrn súborov v archíve",
    /*91*/ "Chcete odstrániť archív", "Archív:", "je práve otvorený, nemožno ho zmazať", "Zmazať archív",
    "Premenovať CD",
    /*96*/ "Starý názov CD:", "Nový názov CD:", "Napíšte, prosím, nový názov CD.", "Poznámka: ", "Počet súborov:",
    /*101*/ "z archívu", "Číslo média:", "Názov média:", "Názov archívu:",
    "Súbor s vašimi používateľskými nastaveniami je pravdepodobne poškodený. Program Orbalist teraz načíta "
    "štandardné rozloženie stromu.",
    /*106*/ "Poznámka :", "Rozlišovať veľké a malé písmená", "Dátum vytvorenia :", "Neviem", "Minulý týždeň",
    /*111*/ "Minulý mesiac", "Minulý rok", "Zvoliť dátum", "od:", "do:",
    /*116*/ "Dátum vytvorenia", "Dátum zmeny", "Veľkosť súboru :", "Menej ako 100kb", "Menej ako 1mb",
    /*121*/ "Viac ako 1mb", "Zvoliť veľkosť v kb", "viac", "najviac", " Pridať : ",
    /*126*/ "Pridať nadradenú", "Pridať podradenú", "Pridať>>", "Pomoc - prečítajte si návod",
    "Zmazať položku stromu",
    /*131*/ "Zrušiť operáciu bez uloženia", "OK - dokončiť operáciu a uložiť",
    "Túto položku nemožno zmazať, pretože nie je prázdna", "Nenašiel som záložný súbor ",
    "Pozor! Chcete odstrániť všetky nastavenia rozloženia stromu? Táto operácia je nevratná.",
    /*136*/ "Táto operácia vráti databázu do stavu, v akom bola pri poslednom úspešnom uložení na pevný disk. "
    "Chcete pokračovať?",
    " Orbalist teraz prevedie vaše dátové súbory do nového formátu.",
    "Aktualizácia dát, vložte, prosím, do mechaniky médium s názvom: \"",
    "Pozor! Sériové číslo média, ktoré ste vložili do počítača, nesúhlasí",
    "so sériovým číslom média  \"",
    /*141*/ ", ktoré chcete aktualizovať", "skontrolujte, prosím, názov vloženého média", "Aktualizácia záznamu",
    "Aktualizovať", "K tomuto CD nie sú k dispozícii nijaké dáta",
    /*146*/ "Pripájam sa k serveru, čakajte.", "Ďalej", "Zrušiť",
    "Toto je hudobné CD. Chcete sa pripojiť k serveru CDDB na %1 a načítať názvy skladieb z internetu?",
    "Áno, pokračovať",
    /*151*/ "Nie, zrušiť", "Poznámka:", "Súbor:",
};

const Table kCzech = {
    "",
    /*1*/ "vlastnosti", "Typ souboru:", "Cesta:", "Velikost:", "Název média:",
    /*6*/ "Číslo média:", "Vytvořen:", "Změněn:", "Atributy:", "Jen pro čtení",
    /*11*/ "Archivní", "Skrytý", "Systémový", "Nový archiv", "Název archivu",
    /*16*/ "Nápověda", "Zrušit", "Zadejte název archivu (např. DuzuvozER) a klikněte na \"OK\"", "Nový záznam",
    "Načíst",
    /*21*/ "Zrušit akci", "Název média", "Č.", "Načítám", "Čekejte, prosím .",
    /*26*/ "Připraveno", "je připraveno k zápisu", "Zapsat", "na disk", "",
    /*31*/ "", "", "", "Upozornění", "Nastavení programu Orbalist",
    /*36*/ "anglicky", "slovensky", "česky", "Orbalist", "Hledaný soubor",
    /*41*/ "Prohledávat", "Nové hledání", "Vypnout hledání", "Napište název nebo část názvu hledaného souboru.",
    "aktivní archiv",
    /*46*/ "Název", "Velikost", "Typ", "Datum vytvoření", "Poslední změna",
    /*51*/ "Č.", "Médium", "Všechny media", "souborů", "Chcete odstranit záznam",
    /*56*/ "Vložte, prosím, disk číslo", "s názvem", "Počet vyhovujících záznamů", "Našli jste, co hledáte?",
    "Kritériím nevyhovuje žádný záznam. Zkusíte to znovu?",
    /*61*/ "Bylo nalezeno příliš mnoho souborů. Musíte upřesnit parametry.", "Vyhovuje", "právě filtrováno",
    "Chcete obnovit všechna nastavení vzhledu aplikace?", "",
    /*66*/ "Nenašel jsem žádné soubory.", "Chyba!", "Barevné schéma", "Rozbalovací strom", "Výchozí",
    /*71*/ "Modrá", "Metalická", "Olivová", "Hledat", "Zpět",
    /*76*/ "Adresa:", "Načíst z:", "Není vybrán žádný soubor", "Hledat v souborech", "Hledat v poznámkách",
    /*81*/ "Vkládání - úprava poznámek", "Poznámka k souboru : ", "bajtů", "Poznámka k CD : ", "Číslo strany :",
    /*86*/ "Zavřít", "&Zpět", "&Další", "Tisknout", "Souhrn souborů v archivu",
    /*91*/ "Chcete odstranit archiv", "Archiv:", "je právě otevřen, nelze jej smazat", "Smazat archiv",
    "Přejmenovat CD",
    /*96*/ "Starý název CD:", "Nový název CD:", "Napište, prosím, nový název CD.", "Poznámka: ", "Počet souborů:",
    /*101*/ "z archivu", "Číslo média:", "Název média:", "Název archivu:",
    "Soubor s vaším uživatelským nastavením je pravděpodobně poškozen. Program Orbalist nyní načte "
    "standardní rozložení stromu.",
    /*106*/ "Poznámka :", "Rozlišovat velká a malá písmena", "Datum vytvoření :", "Nevím", "Minulý týden",
    /*111*/ "Minulý měsíc", "Minulý rok", "Zvolit datum", "od:", "do:",
    /*116*/ "Datum vytvoření", "Datum změny", "Velikost souboru :", "Méně než 100kb", "Méně než 1mb",
    /*121*/ "Více než 1mb", "Zvolit velikost v kb", "více", "nejvíce", " Přidat : ",
    /*126*/ "Přidat nadřazenou", "Přidat podřazenou", "Přidat>>", "Nápověda - přečtěte si návod",
    "Smazat položku stromu",
    /*131*/ "Zrušit operaci bez uložení", "OK - dokončit operaci a uložit",
    "Tuto položku nelze smazat, protože není prázdná", "Nenašel jsem záložní soubor ",
    "Pozor! Chcete odstranit všechna nastavení rozložení stromu? Tato operace je nevratná.",
    /*136*/ "Tato operace vrátí databázi do stavu, v jakém byla při posledním úspěšném uložení na pevný disk. "
    "Chcete pokračovat?",
    " Orbalist nyní převede vaše datové soubory do nového formátu.",
    "Aktualizace dat, vložte, prosím, do mechaniky médium s názvem: \"",
    "Pozor! Sériové číslo média, které jste vložili do počítače, nesouhlasí",
    "se sériovým číslem média  \"",
    /*141*/ ", které chcete aktualizovat", "zkontrolujte, prosím, název vloženého média", "Aktualizace záznamu",
    "Aktualizovat", "K tomuto CD nejsou k dispozici žádná data",
    /*146*/ "Připojuji se k serveru, čekejte.", "Další", "Zrušit",
    "Toto je hudební CD. Chcete se připojit k serveru CDDB na %1 a načíst názvy skladeb z internetu?",
    "Ano, pokračovat",
    /*151*/ "Ne, zrušit", "Poznámka:", "Soubor:",
};

const Table *TableOf(int language)
{
    switch (language) {
    case LangEnglish: return &kEnglish;
    case LangSlovak: return &kSlovak;
    case LangCzech: return &kCzech;
    default: return nullptr;
    }
}

const MenuText kMenus[] = {
    {"FileMenu", "File", "Soubor"},
    {"OpenMenu", "Open archive", "Otevřít archiv"},
    {"NewMenu", "New archive", "Nový archiv"},
    {"PropertiesMenu", "Properties", "Vlastnosti"},
    {"DelMenu", "Delete CD", "Smazat CD"},
    {"CloseMenu", "Exit", "Konec"},
    {"GoMenu", "Goto", "Přejít"},
    {"BackMenu", "Go back", "Zpět"},
    {"ForwardMenu", "Go forward", "Vpřed"},
    {"UpMenu", "Goto up", "O úroveň výš"},
    {"ToolsMenu", "Tools", "Nástroje"},
    {"FindMenu", "Find", "Hledat"},
    {"FindAllMenu", "Find in all archives", "Hledat ve všech archivech"},
    {"ScanDriveMenu", "Read drive", "Načíst CD"},
    {"RunMenu", "Run file", "Spustit soubor"},
    {"CopyFyleMenu", "Copy file", "Kopírovat soubor"},
    {"SetupMenu", "Setup", "Nastavení"},
    {"SetupEnviromentMenu", "Enviroment setup", "Nastavení prostředí"},
    {"EditTreeMenu", "Edit tree", "Upravit strom"},
    {"RecoverTreeSetupMenu", "Restore tree settings", "Obnovit nastavení stromu"},
    {"LoadImageMenu", "Load picture", "Nahrát obrázek"},
    {"DeleteImageMenu", "Delete picture", "Smazat obrázek"},
    {"UpdateMenu", "Update CD", "Aktualizovat CD"},
    {"ShowInfoPanelMenu", "Info-panel", "Info-panel"},
    {"ViewMenu", "Display", "Zobrazit"},
    {"ListViewMenu", "List", "Seznam"},
    {"IconViewMenu", "Large icons", "Velké ikony"},
    {"SmallIconViewMenu", "Small icons", "Malé ikony"},
    {"ReportViewMenu", "Report", "Podrobnosti"},
    {"RecoverDatabaseMenu", "Recover from backup", "Obnovit se zálohy"},
    {"BackupCreateMenu", "Autocreate backup", "Automaticky zálohovat"},
    {"LangMenu", "Select language", "Vybrat jazyk"},
    {"RecoverSetupMenu", "Restore settings", "Obnovit nastavení"},
    {"HelpMenu", "Help", "Nápověda"},
    {"HelpContensMenu", "Help topics", "Témy nápovědy"},
    {"AboutMenu", "About Orbalist", "O programu Orbalist"},
    {"PropertiesPopup", "Properties", "Vlastnosti"},
    {"OpenPopup", "Run file", "Spustit soubor"},
    {"CopyFilePopupMenu", "Copy file", "Kopírovat soubor"},
    {"ColapsePopup", "Collapse", "Sbalit"},
    {"NotePopup", "Notes", "Poznámky"},
    {"PrintMenu", "Print report", "Tisk sestavy"},
    {"DelArchMenu", "Delete archive", "Smazat archiv"},
    {"RenameCDPopup", "Rename CD", "Přejmenovat CD"},
    {"RenameCDMenu", "Rename CD", "Přejmenovat CD"},
    {"OrganizeMenu", "Organize archives", "Uspořádat archivy"},
    {"LoadImagePopup", "Load picture", "Nahrát obrázek"},
    {"DeleteImagePopup", "Delete picture", "Smazat obrázek"},
};

const MenuText kHints[] = {
    {"OpenButton", "Open archive database", "Otevřít databázi archivu"},
    {"BackButton", "Jump to a before place", "Skok na předchozí místo"},
    {"ForwardButton", "Jump to a next place", "Skok na další místo"},
    {"UpButton", "Goto a up level", "O úroveň výš"},
    {"FindButton", "Find file in currenr archive", "Hledat soubor v aktuálním archivu"},
    {"FindAllButton", "Search all archives", "Hledat ve všech archivech"},
    {"CopyButton", "Copy file", "Kopírovat soubor"},
    {"PropertiesButton", "Information about file", "Informace o souboru"},
    {"ScanButton", "Read current drive", "Načíst aktuální mechaniku"},
    {"RunButton", "Run current file", "Spustit aktuální soubor"},
    {"DeleteButton", "Erase actual CD", "Smazat aktuální CD"},
    {"SetupButton", "Setup of application", "Nastavení aplikace"},
    {"AboutButton", "Information about this application", "Informace o této aplikaci"},
    {"HelpButton", "User manual", "Uživatelská příručka"},
    {"ExitButton", "Close this application", "Zavřít tuto aplikaci"},
    {"PrintButton", "Print reports", "Tisk sestav"},
    {"OrganizeButton", "Organize CD to archives", "Uspořádat CD do archivů"},
    {"EditTreeButton", "Edit tree items", "Upravit položky stromu"},
    // In English these take the captions of their menu twins, so that no
    // Slovak hint is left in the English interface.
    {"AddImageToolButton", "Load picture", "Nahrát obrázek"},
    {"DeleteImageToolButton", "Delete picture", "Smazat obrázek"},
    {"UpdateToolButton", "Update CD", "Aktualizovat CD"},
    {"ShowInfoButton", "Info-panel", "Zobrazit info-panel"},
};

} // namespace

int CurrentLanguage() { return g_language; }

namespace {

// Qt's Slovak catalogue still files the texts of the standard buttons (Yes,
// No, Cancel of a message box) under the name Qt 5 asked for them by; Qt 6
// asks under another. A text not found under the new name is looked for under
// the old one.
class TQtTranslator : public QTranslator {
public:
    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override
    {
        QString text = QTranslator::translate(context, sourceText, disambiguation, n);
        if (text.isNull() && context && std::strcmp(context, "QPlatformTheme") == 0)
            text = QTranslator::translate("QDialogButtonBox", sourceText, disambiguation, n);
        return text;
    }
};

// Qt's own texts (the buttons of message boxes, the file and print dialogs)
// follow the program's language: Qt's translations for Slovak and Czech are
// installed while one of them is chosen, none for English. Each is read once.
void FollowWithQtTexts(int language)
{
    static int installed = LangEnglish; // Qt's own texts are English
    static std::unique_ptr<QTranslator> translators[3];
    if (language != LangSlovak && language != LangCzech)
        language = LangEnglish;
    if (language == installed || !QCoreApplication::instance())
        return;
    if (installed != LangEnglish)
        QCoreApplication::removeTranslator(translators[installed].get());
    installed = LangEnglish;
    if (language == LangEnglish)
        return;
    std::unique_ptr<QTranslator> &translator = translators[language];
    if (!translator) {
        auto loaded = std::make_unique<TQtTranslator>();
        const QLocale locale(language == LangSlovak ? QLocale::Slovak : QLocale::Czech);
        // Without Qt's translations installed its texts stay English.
        if (!loaded->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            return;
        translator = std::move(loaded);
    }
    if (QCoreApplication::installTranslator(translator.get()))
        installed = language;
}

} // namespace

void SetCurrentLanguage(int language)
{
    g_language = language;
    FollowWithQtTexts(language);
}

void GetLangString(int n, std::string &text)
{
    const Table *table = TableOf(g_language);
    if (!table || n < 1 || n > LangStringCount)
        return;
    text = (*table)[static_cast<size_t>(n)];
}

std::string LangString(int n)
{
    std::string text;
    GetLangString(n, text);
    return text;
}

std::string LangStringOf(int language, int n)
{
    const Table *table = TableOf(language);
    if (!table || n < 1 || n > LangStringCount)
        return {};
    return (*table)[static_cast<size_t>(n)];
}

const MenuText *MenuCaptions(int *count)
{
    *count = static_cast<int>(std::size(kMenus));
    return kMenus;
}

const MenuText *ToolButtonHints(int *count)
{
    *count = static_cast<int>(std::size(kHints));
    return kHints;
}

} // namespace langunit
