#include "widgets/UrlLabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QUrl>

TUrlLabel::TUrlLabel(QWidget *parent) : QLabel(parent)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, QColor(0, 0, 255));
    setPalette(p);
    QFont f = font();
    f.setPointSize(8);
    f.setUnderline(true);
    setFont(f);
    setTextFormat(Qt::PlainText);
    setMouseTracking(true);
}

QString TUrlLabel::Address() const
{
    // A caption that already names its scheme is an address as it stands; a
    // second scheme in front of it would lead nowhere.
    static const QRegularExpression web(QStringLiteral("^(https?|ftp)://"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression mail(QStringLiteral("^mailto:"), QRegularExpression::CaseInsensitiveOption);
    if (UrlType == vtMail)
        return mail.match(text()).hasMatch() ? text() : QStringLiteral("mailto:") + text();
    return web.match(text()).hasMatch() ? text() : QStringLiteral("HTTP://") + text();
}

void TUrlLabel::Click()
{
    if (OnClick)
        OnClick(this);
    // The desktop's opener (xdg-open) gets the address as one argument; no shell.
    QDesktopServices::openUrl(QUrl(Address(), QUrl::TolerantMode));
}

void TUrlLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Click();
}

void TUrlLabel::mouseMoveEvent(QMouseEvent *event)
{
    QLabel::mouseMoveEvent(event);
    setCursor(Qt::PointingHandCursor);
}
