#include "widgets/EXConst.h"

#include <QLocale>
#include <QMap>
#include <QPixmap>

#include "util/DateUtil.h"
#include "widgets/LocaleDates.h"

static void RegisterExGlyphs()
{
    Q_INIT_RESOURCE(ExGlyphs);
}

void InitExGlyphResources()
{
    static const bool done = (RegisterExGlyphs(), true);
    (void)done;
}

namespace {

QMap<int, QCursor> &Cursors()
{
    static QMap<int, QCursor> cursors;
    return cursors;
}

} // namespace

void RegisterScreenCursor(int id, const QCursor &cursor)
{
    Cursors().insert(id, cursor);
}

bool HasScreenCursor(int id)
{
    return Cursors().contains(id);
}

QCursor ScreenCursor(int id)
{
    return Cursors().value(id, QCursor(Qt::ArrowCursor));
}

void InitExComponents()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    InitExGlyphResources();
    // Hot spots at the finger tip and in the middle of the closed hand.
    const QPixmap hand(QStringLiteral(":/exglyphs/EX_HANDCUR"));
    const QPixmap drag(QStringLiteral(":/exglyphs/EX_DRAGCUR"));
    if (!hand.isNull())
        RegisterScreenCursor(crExHand, QCursor(hand, 5, 0));
    if (!drag.isNull())
        RegisterScreenCursor(crExDragHand, QCursor(drag, 8, 8));
    const DateLocale locale = DateLocaleFromQLocale(QLocale());
    SetCurrentDateLocale(locale);
    InitFourDigitYear(locale.Fmt.ShortDateFormat);
}
