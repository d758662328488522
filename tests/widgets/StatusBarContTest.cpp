// The status bar: panels, owner drawing, a hosted progress bar, and panels
// that fit their texts (they grow for a long text, shrink back to their own
// width for a short one, and the panels after them move).
#include "widgets/StatusBarCont.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QMainWindow>
#include <QPainter>
#include <QProgressBar>

TEST(StatusBarCont, HostsAProgressBarWhereTheOwnerPutIt)
{
    QMainWindow window;
    auto *bar = new TStatusBarCont;
    window.setStatusBar(bar);
    bar->AddPanel({"Files", 80, psText});
    bar->AddPanel({"", 100, psText});
    auto *progress = new QProgressBar(bar);
    progress->setGeometry(90, 2, 120, 14);
    progress->setRange(0, 400);
    progress->setValue(200);
    window.resize(400, 200);
    window.show();
    bar->showMessage(QString());
    bar->resize(500, 22);
    EXPECT_EQ(progress->parentWidget(), bar);
    EXPECT_EQ(progress->geometry(), QRect(90, 2, 120, 14));
    EXPECT_TRUE(progress->isVisible());
    // Drawn over the panels: the bar's picture differs where the progress bar sits.
    const QImage withBar = bar->grab().toImage().copy(90, 2, 120, 14);
    progress->hide();
    EXPECT_NE(withBar, bar->grab().toImage().copy(90, 2, 120, 14));
}

TEST(StatusBarCont, PanelsAndOwnerDrawing)
{
    TStatusBarCont bar;
    bar.resize(300, 20);
    bar.AddPanel({"a", 50, psOwnerDraw});
    bar.AddPanel({"b", 60, psText});
    bar.AddPanel({"c", 10, psText});
    EXPECT_EQ(bar.PanelRect(0).left(), 0);
    EXPECT_EQ(bar.PanelRect(0).width(), 50);
    EXPECT_EQ(bar.PanelRect(1).left(), 52);
    EXPECT_EQ(bar.PanelRect(2).right(), 299); // the last panel takes the rest
    EXPECT_TRUE(bar.PanelRect(3).isNull());
    bar.SetPanelText(7, "ignored");
    bar.SetPanelText(1, "files: 3");
    EXPECT_EQ(bar.Panel(1).Text, "files: 3");
    std::vector<int> drawn;
    bar.OnDrawPanel = [&](TStatusBarCont *sender, int panel, const QRect &rect, QPainter &canvas) {
        EXPECT_EQ(sender, &bar);
        EXPECT_EQ(rect, bar.PanelRect(panel));
        canvas.fillRect(rect, Qt::red);
        drawn.push_back(panel);
    };
    EXPECT_EQ(bar.grab().toImage().pixelColor(20, 10), QColor(Qt::red));
    EXPECT_EQ(drawn, std::vector<int>{0});
}

TEST(StatusBarFit, PanelsFollowTheirTexts)
{
    TStatusBarCont bar;
    bar.resize(1400, 24);
    bar.AddPanel(TStatusPanel{QString(), 136, psText, true, 136});
    bar.AddPanel(TStatusPanel{QString(), 50, psText}); // a fixed one
    bar.AddPanel(TStatusPanel{});
    int moved = 0;
    QObject::connect(&bar, &TStatusBarCont::PanelsResized, [&moved] { ++moved; });
    const QString longText = QStringLiteral(" 3092 súborov - 258019.61 mb and some more words");
    bar.SetPanelText(0, longText);
    const int needed = bar.fontMetrics().horizontalAdvance(longText) + 4;
    EXPECT_EQ(bar.Panel(0).Width, std::max(136, needed));
    EXPECT_GE(bar.PanelRect(0).width(), bar.fontMetrics().horizontalAdvance(longText));
    EXPECT_GT(bar.PanelRect(1).left(), bar.PanelRect(0).right());
    EXPECT_EQ(moved, needed > 136 ? 1 : 0);
    for (const QString &shorter : {QStringLiteral(" 1 file"), QString()}) {
        bar.SetPanelText(0, shorter);
        EXPECT_EQ(bar.Panel(0).Width, 136);
    }
    bar.SetPanelText(1, longText);
    EXPECT_EQ(bar.Panel(1).Width, 50) << "a panel that does not fit its text keeps its width";
    // The owner's measure (another font) decides.
    bar.OnMeasurePanel = [](int, const QString &text) { return static_cast<int>(text.size()) * 100; };
    bar.SetPanelText(0, QStringLiteral("abc"));
    EXPECT_EQ(bar.Panel(0).Width, 300);
}
