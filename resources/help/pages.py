# Source of the help pages: run "python3 pages.py" here to regenerate the
# HTML files after editing the texts below.
import html, os

TITLES = {
    'en': 'Orbalist Help', 'sk': 'Pomocník programu Orbalist', 'cz': 'Nápověda programu Orbalist',
}
CONTENTS = {'en': 'Contents', 'sk': 'Obsah', 'cz': 'Obsah'}
BACK = {'en': 'Back to the contents', 'sk': 'Späť na obsah', 'cz': 'Zpět na obsah'}
INTRO = {
    'en': 'Orbalist keeps catalogues (archives) of your discs: it reads a CD, DVD or any other drive once '
          'and remembers its folders and files, so you can browse and search them later without the disc. '
          'Choose a topic:',
    'sk': 'Orbalist vedie katalógy (archívy) vašich diskov: CD, DVD alebo akúkoľvek inú jednotku prečíta '
          'raz a zapamätá si jej priečinky a súbory, takže ich neskôr môžete prezerať a vyhľadávať aj bez '
          'disku. Vyberte si tému:',
    'cz': 'Orbalist vede katalogy (archivy) vašich disků: CD, DVD nebo jakoukoli jinou jednotku přečte '
          'jednou a zapamatuje si její složky a soubory, takže je později můžete procházet a vyhledávat i bez '
          'disku. Vyberte si téma:',
}

# context number -> {language: (title, [paragraphs])}
PAGES = {
    4: {
        'en': ('New archive', [
            'Type a name for the new archive and press OK. The archive is created in the data folder and '
            'opened at once; it is empty until you read the first disc into it.',
            'The name becomes the name of the archive\'s files, so use a name that is valid as a file '
            'name and not used by another archive.',
            'At the very first start the program needs an archive to work with: Cancel then ends the program '
            'without writing anything, and the next start asks again.']),
        'sk': ('Nový archív', [
            'Napíšte názov nového archívu a stlačte OK. Archív sa vytvorí v priečinku s údajmi a hneď sa '
            'otvorí; je prázdny, kým doň nenačítate prvý disk.',
            'Z názvu sa stane názov súborov archívu, preto zvoľte názov, ktorý je platným názvom súboru a '
            'nepoužíva ho iný archív.',
            'Pri úplne prvom spustení program potrebuje archív, s ktorým bude pracovať: Zrušiť vtedy program '
            'ukončí bez toho, aby čokoľvek zapísal, a pri ďalšom spustení sa opýta znova.']),
        'cz': ('Nový archiv', [
            'Napište název nového archivu a stiskněte OK. Archiv se vytvoří ve složce s daty a hned se '
            'otevře; je prázdný, dokud do něj nenačtete první disk.',
            'Z názvu se stane název souborů archivu, proto zvolte název, který je platným názvem souboru a '
            'nepoužívá ho jiný archiv.',
            'Při úplně prvním spuštění program potřebuje archiv, se kterým bude pracovat: Zrušit tehdy program '
            'ukončí, aniž by cokoli zapsal, a při dalším spuštění se zeptá znovu.']),
    },
    11: {
        'en': ('Setup', [
            'Reading a disc: choose whether the icons of programs (.exe files) are stored, and whether the '
            'contents of .zip, .rar and .cab archives found on the disc are listed as well. The pause after '
            'reading sets how long the scan window stays open when the disc has been read.',
            'Search: the result limit is the largest number of found files that is listed; a search that '
            'finds more asks you to narrow it. A new limit takes effect at the next start.',
            'View: the layout of the file list and of the tree, the colour scheme of the windows and the '
            'language. Menus take a new language at the next start.',
            'Audio CDs: the CD interface used to read the table of contents and the CDDB server asked for '
            'album and track titles.',
            'Start: the archive opened when the program starts.']),
        'sk': ('Nastavenie', [
            'Čítanie disku: zvoľte, či sa majú ukladať ikony programov (súborov .exe) a či sa má vypísať aj '
            'obsah archívov .zip, .rar a .cab nájdených na disku. Prestávka po čítaní určuje, ako dlho '
            'zostane okno čítania otvorené po prečítaní disku.',
            'Hľadanie: limit výsledkov je najväčší počet nájdených súborov, ktorý sa vypíše; ak hľadanie '
            'nájde viac, treba ho spresniť. Nový limit platí od ďalšieho spustenia.',
            'Zobrazenie: usporiadanie zoznamu súborov a stromu, farebná schéma okien a jazyk. Ponuky sa '
            'prepnú do nového jazyka pri ďalšom spustení.',
            'Zvukové CD: rozhranie CD, cez ktoré sa číta obsah disku, a server CDDB, od ktorého sa žiadajú '
            'názvy albumov a skladieb.',
            'Spustenie: archív, ktorý sa otvorí pri spustení programu.']),
        'cz': ('Nastavení', [
            'Čtení disku: zvolte, zda se mají ukládat ikony programů (souborů .exe) a zda se má vypsat i '
            'obsah archivů .zip, .rar a .cab nalezených na disku. Přestávka po čtení určuje, jak dlouho '
            'zůstane okno čtení otevřené po přečtení disku.',
            'Hledání: limit výsledků je největší počet nalezených souborů, který se vypíše; pokud hledání '
            'najde víc, je třeba ho upřesnit. Nový limit platí od příštího spuštění.',
            'Zobrazení: uspořádání seznamu souborů a stromu, barevné schéma oken a jazyk. Nabídky se '
            'přepnou do nového jazyka při příštím spuštění.',
            'Zvukové CD: rozhraní CD, přes které se čte obsah disku, a server CDDB, od kterého se žádají '
            'názvy alb a skladeb.',
            'Spuštění: archiv, který se otevře při spuštění programu.']),
    },
    12: {
        'en': ('Properties', [
            'Shows what the archive knows about the selected disc (when the tree is active) or the selected '
            'file (from the file list or the search results): its type, path, size, disc name and number, '
            'creation and change dates and attributes, and for a file inside a .zip, .rar or .cab archive '
            'the name of that archive.',
            'The values are read from the archive, not from the disc, so the disc need not be in the drive. '
            'Nothing can be changed here; OK closes the window.']),
        'sk': ('Vlastnosti', [
            'Ukazuje, čo archív vie o vybranom disku (keď je aktívny strom) alebo o vybranom súbore (zo '
            'zoznamu súborov alebo z výsledkov hľadania): typ, cestu, veľkosť, názov a číslo disku, dátum '
            'vytvorenia a zmeny a atribúty, a pri súbore v archíve .zip, .rar alebo .cab aj názov tohto '
            'archívu.',
            'Údaje sa berú z archívu, nie z disku, takže disk nemusí byť v mechanike. Nič sa tu nedá '
            'zmeniť; tlačidlo OK okno zatvorí.']),
        'cz': ('Vlastnosti', [
            'Ukazuje, co archiv ví o vybraném disku (když je aktivní strom) nebo o vybraném souboru (ze '
            'seznamu souborů nebo z výsledků hledání): typ, cestu, velikost, název a číslo disku, datum '
            'vytvoření a změny a atributy, a u souboru v archivu .zip, .rar nebo .cab i název tohoto '
            'archivu.',
            'Údaje se berou z archivu, ne z disku, takže disk nemusí být v mechanice. Nic se zde nedá '
            'změnit; tlačítko OK okno zavře.']),
    },
    13: {
        'en': ('About', [
            'Shows the program\'s name and version and a page of thanks. The links in it open in your web '
            'browser or e-mail program.']),
        'sk': ('O programe', [
            'Ukazuje názov a verziu programu a stránku s poďakovaním. Odkazy v nej sa otvoria vo webovom '
            'prehliadači alebo v poštovom programe.']),
        'cz': ('O programu', [
            'Ukazuje název a verzi programu a stránku s poděkováním. Odkazy v ní se otevřou ve webovém '
            'prohlížeči nebo v poštovním programu.']),
    },
    18: {
        'en': ('Notes', [
            'Every file and every disc can carry a note of one line. Choose the note command in the pop-up '
            'menu of the file list (for the selected file) or of the tree (for the selected disc), type '
            'the note and press OK. The note is saved in the open archive at once.',
            'Notes are shown in the information panel below the lists, and the search can look for text in '
            'notes.']),
        'sk': ('Poznámky', [
            'Každý súbor a každý disk môže mať jednoriadkovú poznámku. V miestnej ponuke zoznamu súborov '
            '(pre vybraný súbor) alebo stromu (pre vybraný disk) zvoľte príkaz pre poznámku, napíšte ju a '
            'stlačte OK. Poznámka sa hneď uloží do otvoreného archívu.',
            'Poznámky sa zobrazujú v informačnom paneli pod zoznamami a hľadanie môže hľadať text aj v '
            'poznámkach.']),
        'cz': ('Poznámky', [
            'Každý soubor a každý disk může mít jednořádkovou poznámku. V místní nabídce seznamu souborů '
            '(pro vybraný soubor) nebo stromu (pro vybraný disk) zvolte příkaz pro poznámku, napište ji a '
            'stiskněte OK. Poznámka se hned uloží do otevřeného archivu.',
            'Poznámky se zobrazují v informačním panelu pod seznamy a hledání může hledat text i v '
            'poznámkách.']),
    },
    19: {
        'en': ('Printing lists', [
            'The print wizard has three steps. First choose what to print: the open disc, the current folder '
            'with or without its sub-folders, only the folders, the search result, rows you drag into the '
            'wizard from the file list, or every audio track of the archive.',
            'Then narrow the list by file type, or type your own filter such as an extension.',
            'Last, check the rows in the grid (you can correct or delete rows), choose the layout for a data '
            'disc or for a music disc, and open the print preview, from which the list is printed.']),
        'sk': ('Tlač zoznamov', [
            'Sprievodca tlačou má tri kroky. Najprv zvoľte, čo sa má tlačiť: otvorený disk, aktuálny '
            'priečinok s podpriečinkami alebo bez nich, iba priečinky, výsledok hľadania, riadky, ktoré do '
            'sprievodcu pretiahnete zo zoznamu súborov, alebo všetky zvukové stopy archívu.',
            'Potom zoznam zúžte podľa typu súborov alebo napíšte vlastný filter, napríklad príponu.',
            'Nakoniec skontrolujte riadky v tabuľke (riadky môžete opraviť alebo odstrániť), zvoľte '
            'rozloženie pre dátový alebo hudobný disk a otvorte ukážku pred tlačou, z ktorej sa zoznam '
            'vytlačí.']),
        'cz': ('Tisk seznamů', [
            'Průvodce tiskem má tři kroky. Nejprve zvolte, co se má tisknout: otevřený disk, aktuální složku '
            's podsložkami nebo bez nich, pouze složky, výsledek hledání, řádky, které do průvodce '
            'přetáhnete ze seznamu souborů, nebo všechny zvukové stopy archivu.',
            'Potom seznam zužte podle typu souborů nebo napište vlastní filtr, například příponu.',
            'Nakonec zkontrolujte řádky v tabulce (řádky můžete opravit nebo odstranit), zvolte rozvržení '
            'pro datový nebo hudební disk a otevřete náhled tisku, ze kterého se seznam vytiskne.']),
    },
    20: {
        'en': ('Deleting an archive', [
            'Choose the archive in the list and press OK. After you confirm, its files are deleted from the '
            'data folder. The window stays open, so you can delete several archives one after another.',
            'The archive that is open now cannot be deleted; open another one first.']),
        'sk': ('Odstránenie archívu', [
            'V zozname vyberte archív a stlačte OK. Po potvrdení sa jeho súbory odstránia z priečinka s '
            'údajmi. Okno zostane otvorené, takže môžete odstrániť niekoľko archívov za sebou.',
            'Práve otvorený archív sa odstrániť nedá; najprv otvorte iný.']),
        'cz': ('Odstranění archivu', [
            'V seznamu vyberte archiv a stiskněte OK. Po potvrzení se jeho soubory odstraní ze složky s '
            'daty. Okno zůstane otevřené, takže můžete odstranit několik archivů za sebou.',
            'Právě otevřený archiv odstranit nelze; nejprve otevřete jiný.']),
    },
    21: {
        'en': ('Renaming a disc', [
            'The old name of the disc is shown above; type the new name and press OK. The disc\'s files and '
            'its node in the tree are renamed with it, and the archive is saved at once.',
            'When another disc of the archive already has that name (letter case does not count), the new '
            'name is refused and nothing changes; choose another name.']),
        'sk': ('Premenovanie disku', [
            'Hore je zobrazený starý názov disku; napíšte nový názov a stlačte OK. Spolu s diskom sa '
            'premenujú aj jeho súbory a jeho uzol v strome a archív sa hneď uloží.',
            'Ak už tento názov má iný disk archívu (na veľkosti písmen nezáleží), nový názov sa odmietne '
            'a nič sa nezmení; zvoľte iný názov.']),
        'cz': ('Přejmenování disku', [
            'Nahoře je zobrazen starý název disku; napište nový název a stiskněte OK. Spolu s diskem se '
            'přejmenují i jeho soubory a jeho uzel ve stromu a archiv se hned uloží.',
            'Pokud už tento název má jiný disk archivu (na velikosti písmen nezáleží), nový název se '
            'odmítne a nic se nezmění; zvolte jiný název.']),
    },
    22: {
        'en': ('Organising discs between archives', [
            'Every archive of the data folder is shown as a column with the tree of its discs. Drag a disc '
            'onto another column to move it to that archive, with all its files. The move is saved '
            'at once.',
            'In the target archive the disc gets the next free number, and its name is made unique when the '
            'archive already has a disc of that name.']),
        'sk': ('Usporiadanie diskov medzi archívmi', [
            'Každý archív z priečinka s údajmi je zobrazený ako stĺpec so stromom svojich diskov. Pretiahnite '
            'disk na iný stĺpec a presunie sa do toho archívu so všetkými súbormi. Presun sa '
            'hneď uloží.',
            'V cieľovom archíve dostane disk ďalšie voľné číslo a jeho názov sa upraví, ak už archív disk s '
            'takým názvom má.']),
        'cz': ('Uspořádání disků mezi archivy', [
            'Každý archiv ze složky s daty je zobrazen jako sloupec se stromem svých disků. Přetáhněte disk '
            'na jiný sloupec a přesune se do toho archivu se všemi soubory. Přesun se hned '
            'uloží.',
            'V cílovém archivu dostane disk další volné číslo a jeho název se upraví, pokud už archiv disk '
            's takovým názvem má.']),
    },
}

TREE = {
    'en': ('Editing the tree', [
        'While the tree is edited, the edit panel is shown below it and most other commands wait. Add group '
        'nodes (headings of your own, such as Music or Backups), nest them, and drag discs and groups into '
        'groups. The up and down buttons move the selected node among its neighbours.',
        'Click a group\'s label to rename it; disc names (with the brackets) cannot be edited here. A group '
        'can be deleted only when it is empty.',
        'Save keeps the arrangement in the archive\'s tree file; Cancel discards the changes and loads the '
        'tree again.']),
    'sk': ('Úprava stromu', [
        'Počas úpravy stromu je pod ním zobrazený panel úprav a väčšina ostatných príkazov čaká. Pridávajte '
        'skupiny (vlastné nadpisy, napríklad Hudba alebo Zálohy), vnárajte ich a preťahujte disky a skupiny '
        'do skupín. Tlačidlá hore a dole posúvajú vybraný uzol medzi susedmi.',
        'Kliknutím na názov skupiny ju premenujete; názvy diskov (s hranatými zátvorkami) sa tu upravovať '
        'nedajú. Skupinu možno odstrániť, iba ak je prázdna.',
        'Uložiť zachová usporiadanie v súbore stromu archívu; Zrušiť zmeny zahodí a strom znova načíta.']),
    'cz': ('Úprava stromu', [
        'Během úpravy stromu je pod ním zobrazen panel úprav a většina ostatních příkazů čeká. Přidávejte '
        'skupiny (vlastní nadpisy, například Hudba nebo Zálohy), vnořujte je a přetahujte disky a skupiny '
        'do skupin. Tlačítka nahoru a dolů posouvají vybraný uzel mezi sousedy.',
        'Kliknutím na název skupiny ji přejmenujete; názvy disků (s hranatými závorkami) zde upravovat nelze. '
        'Skupinu lze odstranit, pouze pokud je prázdná.',
        'Uložit zachová uspořádání v souboru stromu archivu; Zrušit změny zahodí a strom znovu načte.']),
}
PAGES[24] = TREE
PAGES[25] = TREE

# The first things a new user does, listed first in the contents; pages
# without a context number, named after their topic.
TOPICS = [
    ('reading', {
        'en': ('Reading a drive', [
            'Choose the drive in the Load from list on the right of the address bar. The root file system is '
            'c:; other mounted volumes and optical drives get letters of their own, which they keep. A data '
            'disc in an optical drive can be read once the system has mounted it.',
            'Any folder can be read as a disc: bind it to a letter in the file driveletters.map in the data '
            'folder (Documents/DiVovData in your home folder) with a line such as t=folder:/home/me/Photos, '
            'then choose t: in the Load from list. Its disc size is the total size of the files read.',
            'Click the tool button with the disc (or Tools, Read drive). The window proposes the '
            'disc name (the volume label, or Bez názvu) and the next free number; change them if you like and '
            'click Load. When the folders have been read, click Write to store the disc in the open archive; '
            'Cancel action leaves the archive as it was.',
            'The setup decides whether the members of .zip, .rar and .cab files are listed and whether the '
            'icons of programs are kept. What could not be read (a folder without permission, a damaged '
            'archive) is counted and named when the reading ends.',
            'Update CD reads the drive of the disc selected in the tree again and replaces its folders and '
            'files; its name, number, note and picture stay.']),
        'sk': ('Načítanie jednotky', [
            'Jednotku zvoľte v zozname Načítať z vpravo od panela adresy. Koreňový systém súborov je c:; '
            'ostatné pripojené zväzky a optické mechaniky dostanú vlastné písmená, ktoré si ponechajú. Dátový '
            'disk v optickej mechanike sa dá prečítať, keď ho systém pripojí.',
            'Ako disk sa dá prečítať ľubovoľný priečinok: priraďte ho písmenu v súbore driveletters.map '
            'v priečinku s údajmi (Documents/DiVovData vo vašom domovskom priečinku) riadkom ako '
            't=folder:/home/ja/Fotky a potom v zozname Načítať z zvoľte t:. Veľkosťou disku je súčet veľkostí '
            'prečítaných súborov.',
            'Kliknite na tlačidlo s diskom (alebo Nástroje, Načítať CD). Okno navrhne názov '
            'disku (menovku zväzku alebo Bez názvu) a ďalšie voľné číslo; môžete ich zmeniť a kliknúť na '
            'Načítať. Keď sa priečinky prečítajú, kliknite na Zapísať a disk sa uloží do otvoreného archívu; '
            'Zrušiť akciu nechá archív tak, ako bol.',
            'Nastavenie určuje, či sa vypíšu súbory v archívoch .zip, .rar a .cab a či sa uložia ikony '
            'programov. Čo sa nedalo prečítať (priečinok bez oprávnenia, poškodený archív), sa na konci '
            'čítania spočíta a vymenuje.',
            'Aktualizovať CD znova prečíta jednotku disku vybraného v strome a nahradí jeho priečinky '
            'a súbory; názov, číslo, poznámka a obrázok disku zostanú.']),
        'cz': ('Načtení jednotky', [
            'Jednotku zvolte v seznamu Načíst z vpravo od panelu adresy. Kořenový systém souborů je c:; '
            'ostatní připojené svazky a optické mechaniky dostanou vlastní písmena, která si ponechají. Datový '
            'disk v optické mechanice lze přečíst, jakmile jej systém připojí.',
            'Jako disk lze přečíst libovolnou složku: přiřaďte ji písmenu v souboru driveletters.map ve složce '
            's daty (Documents/DiVovData ve vaší domovské složce) řádkem jako t=folder:/home/ja/Fotky a pak '
            'v seznamu Načíst z zvolte t:. Velikostí disku je součet velikostí přečtených souborů.',
            'Klikněte na tlačítko s diskem (nebo Nástroje, Načíst CD). Okno navrhne název '
            'disku (jmenovku svazku nebo Bez názvu) a další volné číslo; můžete je změnit a kliknout na '
            'Načíst. Když jsou složky přečteny, klikněte na Zapsat a disk se uloží do otevřeného archivu; '
            'Zrušit akci ponechá archiv tak, jak byl.',
            'Nastavení určuje, zda se vypíší soubory v archivech .zip, .rar a .cab a zda se uloží ikony '
            'programů. Co se nepodařilo přečíst (složka bez oprávnění, poškozený archiv), se na konci čtení '
            'spočítá a vyjmenuje.',
            'Aktualizovat CD znovu přečte jednotku disku vybraného ve stromu a nahradí jeho složky a soubory; '
            'název, číslo, poznámka a obrázek disku zůstanou.']),
    }),
    ('browsing', {
        'en': ('Browsing the archive', [
            'The tree on the left holds the discs of the open archive (and the groups you made with Edit '
            'tree). Click a disc to open it: the list shows its top folder, and the status bar its name, '
            'number, number of files and size. The arrow before a disc or a folder opens it as well.',
            'Double-click a folder or a .zip, .rar or .cab file in the list (or press Enter) to go into it. '
            'Goto up, or Backspace in the list, goes to the folder above; Back and Forward go through the places '
            'you visited, and their arrows list them. You can also type a folder such as e:\\docs into the '
            'address box. The tree, the list and the address box always show the same folder.',
            'With the drop-down tree on (in the setup), the folders you open are added to the tree, so you '
            'can click them there.',
            'Click a file to see its full path in the status bar and its note; double-click it to open it '
            'from its disc when the disc is in a drive. The Display menu switches the list between report, '
            'list, large and small icons; the info-panel shows the disc\'s picture and notes.']),
        'sk': ('Prezeranie archívu', [
            'Strom vľavo obsahuje disky otvoreného archívu (a skupiny, ktoré ste vytvorili úpravou stromu). '
            'Kliknutím na disk ho otvoríte: zoznam ukáže jeho horný priečinok a stavový riadok jeho názov, '
            'číslo, počet súborov a veľkosť. Otvorí ho aj šípka pred diskom alebo priečinkom.',
            'Dvojitým kliknutím na priečinok alebo súbor .zip, .rar či .cab v zozname (alebo klávesom Enter) '
            'doň vstúpite. O úroveň vyššie, alebo Backspace v zozname, prejde do nadradeného priečinka; Späť a Dopredu '
            'prechádzajú navštívenými miestami a ich šípky ich vypíšu. Priečinok, napríklad e:\\docs, môžete '
            'napísať aj do poľa adresy. Strom, zoznam a pole adresy ukazujú vždy ten istý priečinok.',
            'Keď je zapnutý rozbaľovací strom (v nastavení), otvorené priečinky sa pridajú do stromu a môžete '
            'na ne klikať tam.',
            'Kliknutím na súbor uvidíte v stavovom riadku jeho úplnú cestu a jeho poznámku; dvojitým kliknutím '
            'ho otvoríte z jeho disku, ak je disk v mechanike. Ponuka Zobraziť prepína zoznam medzi podrobnosťami, '
            'zoznamom, veľkými a malými ikonami; info-panel ukazuje obrázok a poznámky disku.']),
        'cz': ('Procházení archivu', [
            'Strom vlevo obsahuje disky otevřeného archivu (a skupiny, které jste vytvořili úpravou stromu). '
            'Kliknutím na disk jej otevřete: seznam ukáže jeho horní složku a stavový řádek jeho název, číslo, '
            'počet souborů a velikost. Otevře jej i šipka před diskem nebo složkou.',
            'Dvojitým kliknutím na složku nebo soubor .zip, .rar či .cab v seznamu (nebo klávesou Enter) do '
            'ní vstoupíte. O úroveň výš, nebo Backspace v seznamu, přejde do nadřazené složky; Zpět a Vpřed '
            'procházejí navštívenými místy a jejich šipky je vypíší. Složku, například e:\\docs, můžete napsat '
            'i do pole adresy. Strom, seznam a pole adresy ukazují vždy tutéž složku.',
            'Když je zapnutý rozbalovací strom (v nastavení), otevřené složky se přidají do stromu a můžete '
            'na ně klikat tam.',
            'Kliknutím na soubor uvidíte ve stavovém řádku jeho úplnou cestu a jeho poznámku; dvojitým '
            'kliknutím jej otevřete z jeho disku, pokud je disk v mechanice. Nabídka Zobrazit přepíná seznam '
            'mezi podrobnostmi, seznamem, velkými a malými ikonami; info-panel ukazuje obrázek a poznámky disku.']),
    }),
]

def page(lang, title, body):
    return ('<!DOCTYPE html>\n<html lang="%s">\n<head><meta charset="utf-8"><title>%s</title></head>\n'
            '<body>\n<h2>%s</h2>\n%s\n<p><a href="index.html">%s</a></p>\n</body>\n</html>\n'
            % ('cs' if lang == 'cz' else lang, html.escape(title), html.escape(title), body, BACK[lang]))

qrc = ['<RCC>', '  <qresource prefix="/help">']
for lang in ('en', 'sk', 'cz'):
    os.makedirs(lang, exist_ok=True)
    links = []
    for name, texts in TOPICS:
        title, paras = texts[lang]
        body = '\n'.join('<p>%s</p>' % html.escape(p) for p in paras)
        with open('%s/%s.html' % (lang, name), 'w', encoding='utf-8') as f:
            f.write(page(lang, title, body))
        links.append('<li><a href="%s.html">%s</a></li>' % (name, html.escape(title)))
        qrc.append('    <file alias="%s/%s.html">../../resources/help/%s/%s.html</file>' % (lang, name, lang, name))
    for ctx in sorted(PAGES):
        title, paras = PAGES[ctx][lang]
        body = '\n'.join('<p>%s</p>' % html.escape(p) for p in paras)
        with open('%s/context-%d.html' % (lang, ctx), 'w', encoding='utf-8') as f:
            f.write(page(lang, title, body))
        # Both tree-editing contexts have a page in every language; the
        # contents lists the one the language's help button asks for.
        if not ((ctx == 24 and lang == 'en') or (ctx == 25 and lang != 'en')):
            links.append('<li><a href="context-%d.html">%s</a></li>' % (ctx, html.escape(title)))
        qrc.append('    <file alias="%s/context-%d.html">../../resources/help/%s/context-%d.html</file>' % (lang, ctx, lang, ctx))
    body = '<p>%s</p>\n<ul>\n%s\n</ul>' % (html.escape(INTRO[lang]), '\n'.join(links))
    with open('%s/index.html' % lang, 'w', encoding='utf-8') as f:
        f.write(page(lang, TITLES[lang] + ' \u2013 ' + CONTENTS[lang], body).replace(
            '<p><a href="index.html">%s</a></p>\n' % BACK[lang], ''))
    qrc.append('    <file alias="%s/index.html">../../resources/help/%s/index.html</file>' % (lang, lang))
qrc += ['  </qresource>', '</RCC>', '']
with open('../../src/platform/Help.qrc', 'w', encoding='utf-8') as f:
    f.write('\n'.join(qrc))
