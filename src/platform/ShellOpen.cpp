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

// How long the opener is watched for an early failure.
constexpr int OpenerWatchMs = 3000;

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
    // The opener is watched for a moment: one that finds no program for the
    // file ends at once with an error, and that must not look like success.
    // One still running then has started a program (some openers wait for it)
    // and is left to run; it is not ended when this program ends.
    auto *opener = new QProcess;
    opener->setProgram(Program());
    opener->setArguments({argument});
    opener->setProcessChannelMode(QProcess::SeparateChannels);
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->start();
    if (!opener->waitForStarted()) {
        delete opener;
        return {false, QStringLiteral("Cannot start %1 to open %2").arg(Program(), fileOrAddress)};
    }
    if (!opener->waitForFinished(OpenerWatchMs)) {
        QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
        return {true, QString()};
    }
    const QString said = QString::fromLocal8Bit(opener->readAllStandardError()).trimmed();
    const bool ok = opener->exitStatus() == QProcess::NormalExit && opener->exitCode() == 0;
    const int code = opener->exitCode();
    delete opener;
    if (ok)
        return {true, QString()};
    QString why = said.section(QLatin1Char('\n'), -1).trimmed();
    if (why.isEmpty())
        why = code == 3 || code == 4 ? QStringLiteral("no program to open it")
                                     : QStringLiteral("%1 ended with code %2").arg(Program()).arg(code);
    return {false, QStringLiteral("Cannot open %1: %2").arg(fileOrAddress, why)};
}
