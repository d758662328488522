#pragma once
// The icons of Windows programs: read from the program file's own resources
// into a one-image icon stream (what the catalogue's Icon field stores), and
// such a stream decoded back for display.
#include <QByteArray>
#include <QIcon>
#include <QPixmap>
#include <QString>

// The program's 16 x 16 icon as an icon stream; empty when the file cannot be
// read, is not a Windows program or has no usable icon.
QByteArray ReadExeIconStream(const QString &path);

// True when the bytes are an icon stream whose directory entries all lie
// within them (a stored stream is checked before it is decoded).
bool IsIconStream(const QByteArray &stream);

// The image of an icon stream; null for an empty or malformed stream.
QPixmap PixmapFromIconStream(const QByteArray &stream);
QIcon IconFromIconStream(const QByteArray &stream);
