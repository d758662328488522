#pragma once
// A text broken into the lines a label or a printed cell of a given width shows.
#include <QFont>
#include <QStringList>

#include <climits>

class QPaintDevice;

// `text` broken into lines no wider than `width` in `font` (measured for
// `device`, the screen when none): between words where it can be, inside a
// word too long for a line of its own. Line breaks in the text count as
// blanks, blanks at a line's end are dropped. At most `maxLines` lines: the
// last of them then holds the rest of the text.
QStringList WrapTextLines(const QString &text, const QFont &font, qreal width, QPaintDevice *device = nullptr,
                          Qt::LayoutDirection direction = Qt::LayoutDirectionAuto, int maxLines = INT_MAX);
