// Status panels that fit their texts: they grow for a long text, shrink back
// to their own width for a short one, and the panels after them move.
#include <gtest/gtest.h>


#include "widgets/StatusBarCont.h"

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

    bar.SetPanelText(0, QStringLiteral(" 1 file"));
    EXPECT_EQ(bar.Panel(0).Width, 136);
    bar.SetPanelText(0, QString());
    EXPECT_EQ(bar.Panel(0).Width, 136);

    // A panel that does not fit its text keeps its width.
    bar.SetPanelText(1, longText);
    EXPECT_EQ(bar.Panel(1).Width, 50);

    // The owner's measure (another font) decides.
    bar.OnMeasurePanel = [](int, const QString &text) { return static_cast<int>(text.size()) * 100; };
    bar.SetPanelText(0, QStringLiteral("abc"));
    EXPECT_EQ(bar.Panel(0).Width, 300);
}
