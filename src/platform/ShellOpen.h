#pragma once
// Opening a file or an address with the desktop's default application. The
// path is handed to the opener program as one argument, never through a
// command interpreter, so no character in it is ever interpreted.
#include <QString>

struct ShellOpenResult {
    bool ok = false;
    QString error; // why it failed, for the caller to show
};

// A local file path (must exist) or an address with a scheme (http:, https:,
// ftp:, mailto:, file:, and cdda: for a track of an audio CD).
ShellOpenResult ShellOpen(const QString &fileOrAddress);

// The program that opens things ("xdg-open"); tests put a recorder in its place.
QString ShellOpenProgram();
void SetShellOpenProgram(const QString &program);
