#include <gtest/gtest.h>

#include "app/Main.h"

TEST(MainForm, CaptionStartsWithProgramName)
{
    TMainForm form;
    EXPECT_TRUE(form.windowTitle().startsWith(QStringLiteral("Orbalist")));
}
