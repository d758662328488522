// The name index keeps its last answer; it must never outlive a change of the names.
#include <gtest/gtest.h>

#include "storage/DataSet.h"

namespace {

TEST(NameIndexCache, LastAnswerFollowsClearAndAdd)
{
    TNameIndex index;
    EXPECT_EQ(index.Find("Path"), -1);
    index.Add("Path", 3);
    EXPECT_EQ(index.Find("Path"), 3);
    EXPECT_EQ(index.Find("PATH"), 3);
    EXPECT_EQ(index.Find("Path"), 3);
    index.Add("path", 5); // the first of equal names wins
    EXPECT_EQ(index.Find("path"), 3);
    index.Clear();
    EXPECT_EQ(index.Find("Path"), -1);
    index.Add("Name", 0);
    EXPECT_EQ(index.Find("Path"), -1);
    index.Add("Path", 1);
    EXPECT_EQ(index.Find("Path"), 1);
    TNameIndex copy = index;
    copy.Clear();
    EXPECT_EQ(copy.Find("Path"), -1);
    EXPECT_EQ(index.Find("Path"), 1);
}

} // namespace
