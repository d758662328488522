#include "platform/ShellInfo.h"

#include <gtest/gtest.h>

TEST(ShellInfo, TypeNamesByNameAndAttributes)
{
    // Folders, whatever their name; the file need not exist.
    EXPECT_EQ(ShellInfo::TypeName("e:\\photos.2004", kFileAttributeDirectory), "File folder");
    EXPECT_EQ(ShellInfo::TypeName("*e:\\no\\such\\readme", kFileAttributeNormal), "File");
    EXPECT_EQ(ShellInfo::TypeName("*name.", kFileAttributeNormal), "File");
    // Unknown extensions read "<EXT> File".
    EXPECT_EQ(ShellInfo::TypeName("*.qqz", kFileAttributeNormal), "QQZ File");
    EXPECT_EQ(ShellInfo::TypeName("e:\\dir.x\\y.Q1", kFileAttributeArchive), "Q1 File");
    // Known ones take the type's description, first letter in capitals, and
    // the same for any case of the extension.
    const QString txt = ShellInfo::TypeName("*.txt", kFileAttributeNormal);
    EXPECT_FALSE(txt.isEmpty());
    EXPECT_NE(txt, "TXT File");
    EXPECT_TRUE(txt.at(0).isUpper());
    EXPECT_EQ(ShellInfo::TypeName("*.TXT", kFileAttributeNormal), txt);
    EXPECT_EQ(ShellInfo::ExtensionOf("a.b\\c"), "");
    EXPECT_EQ(ShellInfo::ExtensionOf("*.ZIP"), ".zip");
}

TEST(ShellInfo, IconsInBothSizesAndCached)
{
    for (ShellIconSize size : {ShellIconSize::Small, ShellIconSize::Large}) {
        const int px = size == ShellIconSize::Small ? 16 : 32;
        for (const QIcon &icon : {ShellInfo::ClosedFolderIcon(size), ShellInfo::OpenFolderIcon(size),
                                  ShellInfo::FileIcon("*.txt", kFileAttributeNormal, size),
                                  ShellInfo::FileIcon("*.qqz", kFileAttributeNormal, size),
                                  ShellInfo::FileIcon("*readme", kFileAttributeNormal, size),
                                  ShellInfo::FileIcon("*.exe", kFileAttributeNormal, size)}) {
            ASSERT_FALSE(icon.isNull());
            const QPixmap pm = icon.pixmap(px, px);
            EXPECT_EQ(pm.width(), px);
            EXPECT_FALSE(pm.toImage().allGray() && pm.toImage().pixel(px / 2, px / 2) == 0);
        }
    }
    // Open and closed folders differ; a folder attribute gives the closed one.
    EXPECT_NE(ShellInfo::ClosedFolderIcon().pixmap(16).toImage(), ShellInfo::OpenFolderIcon().pixmap(16).toImage());
    EXPECT_EQ(ShellInfo::FileIcon("x.txt", kFileAttributeDirectory).cacheKey(), ShellInfo::ClosedFolderIcon().cacheKey());
    // Cached per extension: the same icon object comes back.
    EXPECT_EQ(ShellInfo::FileIcon("*.txt", 0).cacheKey(), ShellInfo::FileIcon("c:\\other.TXT", 0).cacheKey());
    const ShellFileInfo info = ShellInfo::FileInfo("*.qqz", kFileAttributeNormal);
    EXPECT_EQ(info.typeName, "QQZ File");
    EXPECT_FALSE(info.icon.isNull());
}
