#include "platform/TextWrap.h"

#include <QTextLayout>
#include <QTextOption>

QStringList WrapTextLines(const QString &text, const QFont &font, qreal width, QPaintDevice *device,
                          Qt::LayoutDirection direction, int maxLines)
{
    QString plain = text;
    plain.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    QTextLayout layout(plain, font, device);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(direction);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        const bool last = lines.size() + 1 >= maxLines;
        QString part = plain.mid(line.textStart(), last ? -1 : line.textLength());
        while (!part.isEmpty() && part.back().isSpace())
            part.chop(1);
        lines.push_back(part);
        if (last)
            break;
    }
    layout.endLayout();
    return lines;
}
