#include "platform/ShellOpen.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>

namespace {

QString &Program()
{
    static QString program = QStringLiteral("xdg-open");
    return program;
}

bool LooksLikeAddress(const QString &s)
{
    static const QRegularExpression scheme(QStringLiteral("^(https?|ftp|cdda)://|^(mailto|file):"),
                                           QRegularExpression::CaseInsensitiveOption);
    return scheme.match(s).hasMatch();
}

} // namespace

QString ShellOpenProgram()
{
    return Program();
}

void SetShellOpenProgram(const QString &program)
{
    Program() = program.isEmpty() ? QStringLiteral("xdg-open") : program;
}

ShellOpenResult ShellOpen(const QString &fileOrAddress)
{
    if (fileOrAddress.trimmed().isEmpty())
        return {false, QStringLiteral("Nothing to open.")};
    QString argument;
    if (LooksLikeAddress(fileOrAddress)) {
        const QUrl url(fileOrAddress, QUrl::TolerantMode);
        if (!url.isValid())
            return {false, QStringLiteral("Invalid address: %1").arg(fileOrAddress)};
        argument = url.toString(QUrl::FullyEncoded);
    } else {
        const QFileInfo info(fileOrAddress);
        if (!info.exists())
            return {false, QStringLiteral("File not found: %1").arg(fileOrAddress)};
        // An absolute path cannot be mistaken for an option of the opener.
        argument = info.absoluteFilePath();
    }
    qint64 pid = 0;
    if (!QProcess::startDetached(Program(), {argument}, QString(), &pid))
        return {false, QStringLiteral("Cannot start %1 to open %2").arg(Program(), fileOrAddress)};
    return {true, QString()};
}
