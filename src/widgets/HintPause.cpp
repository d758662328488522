#include "widgets/HintPause.h"

#include <QHelpEvent>
#include <QToolTip>
#include <QWidget>

THintPause::THintPause(int hidePauseMs, QObject *parent) : QObject(parent), hidePause_(hidePauseMs) {}

bool THintPause::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::ToolTip || !watched->isWidgetType())
        return QObject::eventFilter(watched, event);
    auto *widget = static_cast<QWidget *>(watched);
    const QString tip = widget->toolTip();
    // A widget without a tip of its own passes the request on to its parent,
    // which comes through here in its turn.
    if (tip.isEmpty())
        return QObject::eventFilter(watched, event);
    const auto *help = static_cast<QHelpEvent *>(event);
    QToolTip::showText(help->globalPos(), tip, widget, QRect(), hidePause_);
    return true;
}
