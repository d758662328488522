#include "platform/ShellInfo.h"

#include <QHash>
#include <QLocale>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

enum class Glyph { ClosedFolder, OpenFolder, Document, Program };

QPixmap DrawGlyph(Glyph glyph, int px)
{
    QPixmap pm(px, px);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = px / 16.0;
    p.scale(s, s);
    p.setPen(QPen(QColor(0x80, 0x60, 0x10), 1.0));
    switch (glyph) {
    case Glyph::ClosedFolder:
        p.setBrush(QColor(0xE8, 0xC0, 0x50));
        p.drawRect(QRectF(1.5, 4.5, 13, 9));
        p.drawRect(QRectF(1.5, 2.5, 5, 2));
        break;
    case Glyph::OpenFolder: {
        p.setBrush(QColor(0xD0, 0xA8, 0x40));
        p.drawRect(QRectF(1.5, 3.5, 11, 10));
        QPainterPath front;
        front.moveTo(1.5, 13.5);
        front.lineTo(4.5, 7.5);
        front.lineTo(15.0, 7.5);
        front.lineTo(12.5, 13.5);
        front.closeSubpath();
        p.setBrush(QColor(0xF4, 0xD8, 0x70));
        p.drawPath(front);
        break;
    }
    case Glyph::Document: {
        p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1.0));
        p.setBrush(Qt::white);
        QPainterPath page;
        page.moveTo(3.5, 1.5);
        page.lineTo(10.0, 1.5);
        page.lineTo(12.5, 4.0);
        page.lineTo(12.5, 14.5);
        page.lineTo(3.5, 14.5);
        page.closeSubpath();
        p.drawPath(page);
        p.setPen(QPen(QColor(0x90, 0x90, 0xC0), 1.0));
        for (qreal y = 6.5; y < 13; y += 2)
            p.drawLine(QPointF(5, y), QPointF(11, y));
        break;
    }
    case Glyph::Program:
        p.setPen(QPen(QColor(0x30, 0x30, 0x60), 1.0));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 2.5, 13, 11));
        p.setBrush(QColor(0x20, 0x50, 0xB0));
        p.drawRect(QRectF(1.5, 2.5, 13, 3));
        break;
    }
    return pm;
}

QIcon GlyphIcon(Glyph glyph)
{
    QIcon icon;
    icon.addPixmap(DrawGlyph(glyph, 16));
    icon.addPixmap(DrawGlyph(glyph, 32));
    return icon;
}

int Pixels(ShellIconSize size)
{
    return size == ShellIconSize::Small ? 16 : 32;
}

// An icon holding just the one size asked for, so a list shows it unscaled.
QIcon Sized(const QIcon &icon, ShellIconSize size)
{
    const int px = Pixels(size);
    QIcon out;
    out.addPixmap(icon.pixmap(px, px));
    return out;
}

QIcon ThemeIcon(const QStringList &names, Glyph fallback)
{
    for (const QString &n : names) {
        if (!n.isEmpty() && QIcon::hasThemeIcon(n))
            return QIcon::fromTheme(n);
    }
    return GlyphIcon(fallback);
}

struct Cache {
    QHash<QString, QString> typeNames;
    QHash<QString, QIcon> icons;
    // The type names' language and the names the MIME database does not give.
    QString language = QStringLiteral("en");
    QString folder = QStringLiteral("File folder");
    QString file = QStringLiteral("File");
    QString extensionFile = QStringLiteral("%1 File");
};

Cache &TheCache()
{
    static Cache cache;
    return cache;
}

bool IsProgramExtension(const QString &ext)
{
    return ext == QLatin1String(".exe") || ext == QLatin1String(".com") || ext == QLatin1String(".bat");
}

} // namespace

QString ShellInfo::ExtensionOf(const QString &name)
{
    for (qsizetype i = name.size(); i > 0; --i) {
        const QChar c = name.at(i - 1);
        if (c == QLatin1Char('.'))
            return i < name.size() ? name.mid(i - 1).toLower() : QString(); // a final dot is no extension
        if (c == QLatin1Char('\\') || c == QLatin1Char('/') || c == QLatin1Char(':'))
            return QString();
    }
    return QString();
}

QString ShellInfo::TypeName(const QString &name, uint32_t attributes)
{
    Cache &cache = TheCache();
    if (attributes & kFileAttributeDirectory)
        return cache.folder;
    const QString ext = ExtensionOf(name);
    if (ext.isEmpty())
        return cache.file;
    auto it = cache.typeNames.constFind(ext);
    if (it != cache.typeNames.constEnd())
        return *it;
    QString result;
    const QMimeDatabase db;
    const QMimeType mime = db.mimeTypeForFile(QStringLiteral("x") + ext, QMimeDatabase::MatchExtension);
    if (mime.isValid() && !mime.isDefault()) {
        // The database gives its comment in the default locale's language:
        // for this question that is the program's language.
        const QLocale before;
        QLocale::setDefault(QLocale(cache.language));
        result = mime.comment();
        QLocale::setDefault(before);
        if (!result.isEmpty())
            result[0] = result[0].toUpper();
    }
    if (result.isEmpty())
        result = cache.extensionFile.arg(ext.mid(1).toUpper());
    cache.typeNames.insert(ext, result);
    return result;
}

QIcon ShellInfo::FileIcon(const QString &name, uint32_t attributes, ShellIconSize size)
{
    if (attributes & kFileAttributeDirectory)
        return ClosedFolderIcon(size);
    const QString ext = ExtensionOf(name);
    const QString key = ext + (size == ShellIconSize::Small ? QStringLiteral("|s") : QStringLiteral("|l"));
    Cache &cache = TheCache();
    auto it = cache.icons.constFind(key);
    if (it != cache.icons.constEnd())
        return *it;
    QIcon icon;
    const Glyph fallback = IsProgramExtension(ext) ? Glyph::Program : Glyph::Document;
    if (ext.isEmpty()) {
        icon = ThemeIcon({QStringLiteral("text-x-generic"), QStringLiteral("unknown")}, Glyph::Document);
    } else {
        const QMimeDatabase db;
        const QMimeType mime = db.mimeTypeForFile(QStringLiteral("x") + ext, QMimeDatabase::MatchExtension);
        QStringList names;
        if (mime.isValid() && !mime.isDefault())
            names << mime.iconName() << mime.genericIconName();
        if (IsProgramExtension(ext))
            names << QStringLiteral("application-x-executable");
        names << QStringLiteral("text-x-generic");
        icon = ThemeIcon(names, fallback);
    }
    icon = Sized(icon, size);
    cache.icons.insert(key, icon);
    return icon;
}

ShellFileInfo ShellInfo::FileInfo(const QString &name, uint32_t attributes, ShellIconSize size)
{
    return ShellFileInfo{FileIcon(name, attributes, size), TypeName(name, attributes)};
}

QIcon ShellInfo::ClosedFolderIcon(ShellIconSize size)
{
    const QString key = size == ShellIconSize::Small ? QStringLiteral("<folder>|s") : QStringLiteral("<folder>|l");
    Cache &cache = TheCache();
    auto it = cache.icons.constFind(key);
    if (it != cache.icons.constEnd())
        return *it;
    const QIcon icon = Sized(ThemeIcon({QStringLiteral("folder")}, Glyph::ClosedFolder), size);
    cache.icons.insert(key, icon);
    return icon;
}

QIcon ShellInfo::OpenFolderIcon(ShellIconSize size)
{
    const QString key = size == ShellIconSize::Small ? QStringLiteral("<open>|s") : QStringLiteral("<open>|l");
    Cache &cache = TheCache();
    auto it = cache.icons.constFind(key);
    if (it != cache.icons.constEnd())
        return *it;
    const QIcon icon = Sized(ThemeIcon({QStringLiteral("folder-open")}, Glyph::OpenFolder), size);
    cache.icons.insert(key, icon);
    return icon;
}

void ShellInfo::SetTypeNameLanguage(const QString &language, const QString &folder, const QString &file,
                                    const QString &extensionFile)
{
    Cache &cache = TheCache();
    if (cache.language == language && cache.folder == folder && cache.file == file &&
        cache.extensionFile == extensionFile)
        return;
    cache.language = language;
    cache.folder = folder;
    cache.file = file;
    cache.extensionFile = extensionFile;
    cache.typeNames.clear();
}

void ShellInfo::ClearCache()
{
    TheCache().typeNames.clear();
    TheCache().icons.clear();
}
