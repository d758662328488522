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
    QImage withBar = bar->grab().toImage();
    progress->hide();
    QImage without = bar->grab().toImage();
    bool differs = false;
    for (int x = 90; x < 210 && !differs; ++x)
        for (int y = 2; y < 16 && !differs; ++y)
            differs = withBar.pixel(x, y) != without.pixel(x, y);
    EXPECT_TRUE(differs);
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
    QImage image = bar.grab().toImage();
    EXPECT_EQ(drawn, std::vector<int>{0});
    EXPECT_EQ(image.pixelColor(20, 10), QColor(Qt::red));
}
