// A folder bound to a letter is told apart from the volume that holds it, so
// that a scan does not take the file system's size for the folder's.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/VolumeSystem.h"
#include "support/RootOnlyVolumes.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

TEST(BoundFolder, IsMarkedAsBoundWhileItsFileSystemIsNot)
{
    orbtest::TempDir dir;
    fs::create_directories(dir.path() / "data");
    dir.write("photos/a.jpg", "x");
    dir.write("data/driveletters.map", "t=folder:" + dir.file("photos") + "\n");
    const SystemVolumeOptions o = orbtest::RootOnlyVolumeOptions(dir);
    SystemVolumeService svc(o);
    svc.SetLetterMapPath(dir.file("data/driveletters.map"));
    const auto bound = svc.Drive('t');
    ASSERT_TRUE(bound.has_value());
    EXPECT_TRUE(bound->boundFolder);
    EXPECT_EQ(bound->mountPoint, dir.file("photos"));
    const auto root = svc.Drive('c');
    ASSERT_TRUE(root.has_value());
    EXPECT_FALSE(root->boundFolder);
}
