#include "platform/QtText.h"

#include "util/TextCodec.h"

QString ToQString(std::string_view storedBytes)
{
    const std::string utf8 = DecodeStoredText(storedBytes);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string FromQString(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<size_t>(utf8.size()));
}
