// Faults met while using the whole program the way a user does (second pass):
// each test repeats the steps that went wrong and checks what the user saw.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/VolumeSystem.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

// On the very first start the letter map is taken up only after the main
// window has filled its "Load from" list; a folder the user had already bound
// must reach that list, which refreshes on DeviceChange.
TEST(UsageFaults2, FirstStartBoundFolderReachesTheDriveLists)
{
    orbtest::TempDir dir;
    fs::create_directories(dir.path() / "data");
    dir.write("photos/a.jpg", "x");
    dir.write("data/driveletters.map", "t=folder:" + dir.file("photos") + "\n");
    SystemVolumeOptions o;
    o.mountInfoPath = dir.write("mountinfo", "1 0 254:0 / / rw - ext4 /dev/vda rw\n");
    o.sysRoot = dir.file("sys");
    o.devRoot = dir.file("dev");
    o.pollIntervalMs = 0;
    SystemVolumeService svc(o); // first start: no map yet
    ASSERT_FALSE(svc.Drive('t').has_value());
    bool told = false;
    bool listedThen = false;
    QObject::connect(&svc, &VolumeService::DeviceChange, [&] {
        told = true;
        listedThen = svc.Drive('t').has_value();
    });
    svc.SetLetterMapPath(dir.file("data/driveletters.map"));
    EXPECT_TRUE(told);
    EXPECT_TRUE(listedThen);
}
