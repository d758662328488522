#include "widgets/StatusBarCont.h"

#include <QPainter>

#include <algorithm>
#include <QStyleOption>

namespace {
constexpr int kPanelGap = 2;
}

TStatusBarCont::TStatusBarCont(QWidget *parent) : QStatusBar(parent)
{
    // The panels and the children placed on them are the bar's content; the
    // size grip would cover the last panel.
    setSizeGripEnabled(false);
    // Tall enough for a line of panel text and a progress bar on it, even
    // with no widget in the bar's own layout.
    setMinimumHeight(std::max(19, fontMetrics().height() + 6));
}

void TStatusBarCont::AddPanel(const TStatusPanel &panel)
{
    panels_.push_back(panel);
    if (panel.FitText)
        panels_.back().Width = std::max(panel.MinWidth, TextWidth(PanelCount() - 1, panel.Text));
    update();
}

int TStatusBarCont::TextWidth(int index, const QString &text) const
{
    if (text.isEmpty())
        return 0;
    if (OnMeasurePanel)
        return OnMeasurePanel(index, text);
    return fontMetrics().horizontalAdvance(text) + 4;
}

void TStatusBarCont::SetPanelText(int index, const QString &text)
{
    if (index < 0 || size_t(index) >= panels_.size())
        return;
    TStatusPanel &panel = panels_[size_t(index)];
    panel.Text = text;
    if (panel.FitText) {
        const int width = std::max(panel.MinWidth, TextWidth(index, text));
        if (width != panel.Width) {
            // The panels after it move: the whole bar and what sits on it.
            panel.Width = width;
            update();
            emit PanelsResized();
            return;
        }
    }
    update(PanelRect(index));
}

void TStatusBarCont::SetPanelWidth(int index, int width)
{
    if (index < 0 || size_t(index) >= panels_.size())
        return;
    panels_[size_t(index)].Width = std::max(0, width);
    update();
}

QRect TStatusBarCont::PanelRect(int index) const
{
    if (index < 0 || size_t(index) >= panels_.size())
        return {};
    int left = 0;
    for (int i = 0; i < index; ++i)
        left += panels_[size_t(i)].Width + kPanelGap;
    int right = size_t(index) + 1 == panels_.size() ? width() : left + panels_[size_t(index)].Width;
    if (right < left)
        right = left;
    return QRect(QPoint(left, kPanelGap), QPoint(right - 1, height() - 1));
}

void TStatusBarCont::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    for (int i = 0; i < PanelCount(); ++i) {
        QRect r = PanelRect(i);
        if (r.isEmpty())
            continue;
        QStyleOptionFrame frame;
        frame.initFrom(this);
        frame.rect = r;
        frame.state |= QStyle::State_Sunken;
        frame.lineWidth = 1;
        style()->drawPrimitive(QStyle::PE_FrameStatusBarItem, &frame, &painter, this);
        painter.save();
        painter.setClipRect(r);
        const TStatusPanel &p = panels_[size_t(i)];
        if (p.Style == psOwnerDraw) {
            if (OnDrawPanel)
                OnDrawPanel(this, i, r, painter);
        } else {
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(r.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, p.Text);
        }
        painter.restore();
    }
    // A temporary message covers the panels, as on any status bar.
    if (!currentMessage().isEmpty()) {
        painter.fillRect(rect(), palette().window());
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect().adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, currentMessage());
    }
}
