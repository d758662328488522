#pragma once
// File type names and icons by name and attributes alone: the file need not
// exist, so filling a list never touches the catalogued medium. Icons come
// from the desktop's icon theme, with drawn fallbacks where the theme has
// none; each answer is cached per key.
#include <QIcon>
#include <QString>

#include <cstdint>

// Windows file attribute bits as stored in the catalogue.
constexpr uint32_t kFileAttributeReadOnly = 0x01;
constexpr uint32_t kFileAttributeHidden = 0x02;
constexpr uint32_t kFileAttributeSystem = 0x04;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr uint32_t kFileAttributeNormal = 0x80;

enum class ShellIconSize { Small, Large }; // 16 and 32 pixels

struct ShellFileInfo {
    QIcon icon;
    QString typeName;
};

class ShellInfo {
public:
    // `name` is a file name, a path or a key such as "*.txt" (the extension
    // after the last "." that follows the last separator decides). With the
    // directory attribute the answer is the folder's, whatever the name.
    static ShellFileInfo FileInfo(const QString &name, uint32_t attributes,
                                  ShellIconSize size = ShellIconSize::Small);
    static QString TypeName(const QString &name, uint32_t attributes);
    static QIcon FileIcon(const QString &name, uint32_t attributes, ShellIconSize size = ShellIconSize::Small);

    static QIcon ClosedFolderIcon(ShellIconSize size = ShellIconSize::Small);
    static QIcon OpenFolderIcon(ShellIconSize size = ShellIconSize::Small);

    // The extension of `name` in lower case with its dot (".txt"), or empty.
    static QString ExtensionOf(const QString &name);

    // Drops the cached answers (after the icon theme changed).
    static void ClearCache();

    // The language of the type names: `language` ("en", "sk", "cs") picks the
    // names of the desktop's MIME database in it where the database has them;
    // `folder`, `file` and `extensionFile` ("%1 File", the extension in capitals
    // for %1) name the rest.
    static void SetTypeNameLanguage(const QString &language, const QString &folder, const QString &file,
                                    const QString &extensionFile);
};
