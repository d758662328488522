#pragma once
// A status bar that holds child controls as well as its panels, so that a
// progress bar can sit on it at a place of the owner's choosing.
//
// Children given to it keep the geometry the owner set (the bar lays out
// nothing it was not asked to) and are drawn over the panels.
#include <QStatusBar>

#include <functional>
#include <vector>

class QPainter;

enum TStatusPanelStyle { psText, psOwnerDraw };

struct TStatusPanel {
    QString Text;
    int Width = 50; // the last panel takes the rest of the bar
    TStatusPanelStyle Style = psText;
    // Grows and shrinks with its text, never below MinWidth: a text is never
    // cut by a panel that was sized for a shorter one or another language.
    bool FitText = false;
    int MinWidth = 0;
};

class TStatusBarCont : public QStatusBar {
    Q_OBJECT
public:
    explicit TStatusBarCont(QWidget *parent = nullptr);

    int PanelCount() const { return int(panels_.size()); }
    const TStatusPanel &Panel(int index) const { return panels_.at(size_t(index)); }
    void AddPanel(const TStatusPanel &panel);
    void SetPanelText(int index, const QString &text);
    void SetPanelWidth(int index, int width);
    // Rectangle of a panel inside the bar; empty for an index out of range.
    QRect PanelRect(int index) const;

    // Width the text of a panel needs, margins included (an owner-drawn panel
    // may paint in another font). Unset: the bar's font and 2 pixels a side.
    std::function<int(int Panel, const QString &Text)> OnMeasurePanel;
    int TextWidth(int index, const QString &text) const;

    // Paints a panel of style psOwnerDraw.
    std::function<void(TStatusBarCont *StatusBar, int Panel, const QRect &Rect, QPainter &Canvas)> OnDrawPanel;

signals:
    // A panel changed its width to fit its text (children placed on the
    // panels after it may have to move).
    void PanelsResized();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::vector<TStatusPanel> panels_;
};
