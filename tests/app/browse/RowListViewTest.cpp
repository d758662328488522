// The small-icons view of a row list: its grid is as wide as the longest name
// the list holds now, whatever filled the list before.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListView>

#include <algorithm>
#include <string>
#include <vector>

#include "app/search/SearchListView.h"

namespace {

constexpr int MinGrid = 160, IconAndGaps = 30;

void Fill(TSearchListView &list, const std::vector<std::string> &names)
{
    std::vector<TSearchRow> rows;
    for (const std::string &n : names) {
        TSearchRow r;
        r.Name = n;
        rows.push_back(r);
    }
    list.Model()->SetRows(std::move(rows));
}

int Advance(const TSearchListView &list, const std::string &name)
{
    return list.IconView()->fontMetrics().horizontalAdvance(QString::fromStdString(name));
}

} // namespace

TEST(RowListView, SmallIconGridFollowsEachFilling)
{
    TSearchListView list;
    list.resize(1200, 300);
    list.SetViewStyle(vsSmallIcon);
    list.show();
    QApplication::processEvents();
    const std::string shortName = "a.txt";
    const std::string longName(40, 'W');
    const auto grid = [&] { return list.IconView()->gridSize().width(); };
    const auto halfView = [&] { return std::max(MinGrid, list.IconView()->viewport()->width() / 2); };
    ASSERT_LT(Advance(list, longName) + IconAndGaps, halfView()) << "the long name must fit half the view";
    ASSERT_GT(Advance(list, longName) + IconAndGaps, MinGrid);

    Fill(list, {shortName, longName});
    EXPECT_EQ(grid(), Advance(list, longName) + IconAndGaps);
    // Shorter names after longer ones: the grid narrows again.
    Fill(list, {shortName});
    EXPECT_EQ(grid(), MinGrid);

    // Filled while another style shows: the small icons fit what is there now.
    list.SetViewStyle(vsReport);
    Fill(list, {longName, shortName});
    list.SetViewStyle(vsSmallIcon);
    EXPECT_EQ(grid(), Advance(list, longName) + IconAndGaps);

    // The bound follows the view's new size, not the one before it.
    Fill(list, {std::string(60, 'W')});
    list.resize(300, 300);
    QApplication::processEvents();
    EXPECT_EQ(grid(), halfView());
    list.resize(1200, 300);
    QApplication::processEvents();
    EXPECT_EQ(grid(), std::min(halfView(), Advance(list, std::string(60, 'W')) + IconAndGaps));
}
