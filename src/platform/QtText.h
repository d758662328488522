#pragma once
// The one place where stored bytes become QString and back. Stored text that
// is not UTF-8 is read as Windows-1250 (see util/TextCodec.h).
#include <QString>
#include <string>
#include <string_view>

QString ToQString(std::string_view storedBytes);
std::string FromQString(const QString &text); // UTF-8
