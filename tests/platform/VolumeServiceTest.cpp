#include "platform/VolumeService.h"
#include "platform/VolumeSystem.h"

#include "support/ObeyPermissions.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>
#include <fstream>

namespace fs = std::filesystem;

namespace {

VolumeInfo Volume(char letter, int type, std::string mountPoint, std::string label = {}, uint32_t serial = 0)
{
    VolumeInfo v;
    v.letter = letter;
    v.type = type;
    v.ready = true;
    v.mountPoint = std::move(mountPoint);
    v.label = std::move(label);
    v.serial = serial;
    return v;
}

const VolumeEntry *Find(const std::vector<VolumeEntry> &v, const std::string &name)
{
    auto it = std::find_if(v.begin(), v.end(), [&](const VolumeEntry &e) { return e.name == name; });
    return it == v.end() ? nullptr : &*it;
}

} // namespace

TEST(VolumePaths, StoredAndLocalPathsRoundTrip)
{
    FixedVolumeService svc({Volume('c', DRIVE_FIXED, "/"), Volume('f', DRIVE_REMOVABLE, "/media/me/My Stick"),
                            Volume('g', DRIVE_FIXED, "/media/me/My Stick/inner/")});
    EXPECT_EQ(svc.LocalPath("f:\\docs\\a.txt"), "/media/me/My Stick/docs/a.txt");
    EXPECT_EQ(svc.LocalPath("F:\\docs\\"), "/media/me/My Stick/docs/");
    EXPECT_EQ(svc.LocalPath("f:\\"), "/media/me/My Stick");
    EXPECT_EQ(svc.LocalPath("f:"), "/media/me/My Stick");
    EXPECT_EQ(svc.LocalPath("c:\\etc\\x"), "/etc/x");
    // A "/" in a stored name is a "\" of the Linux name.
    EXPECT_EQ(svc.LocalPath("f:\\a/b.txt"), "/media/me/My Stick/a\\b.txt");
    EXPECT_EQ(svc.StoredPath("/media/me/My Stick/a\\b.txt"), "f:\\a/b.txt");

    for (const char *stored : {"f:\\docs\\a.txt", "f:\\docs\\", "f:\\", "c:\\etc\\x", "c:\\", "f:\\a/b\\c/d\\",
                               "g:\\deep\\x y.txt"}) {
        auto local = svc.LocalPath(stored);
        ASSERT_TRUE(local) << stored;
        EXPECT_EQ(svc.StoredPath(*local), stored) << *local;
    }
    // The drive whose root holds the path most closely wins.
    EXPECT_EQ(svc.StoredPath("/media/me/My Stick/inner/x"), "g:\\x");
    EXPECT_EQ(svc.StoredPath("/media/me/My Sticker/x"), "c:\\media\\me\\My Sticker\\x");
    EXPECT_EQ(svc.StoredPath("/media/me/My Stick"), "f:\\");
}

TEST(VolumePaths, PathsThatLeaveTheDriveOrNameNoDriveAreRefused)
{
    FixedVolumeService svc({Volume('f', DRIVE_REMOVABLE, "/media/stick")});
    EXPECT_FALSE(svc.LocalPath("f:\\..\\..\\etc\\passwd"));
    EXPECT_FALSE(svc.LocalPath("f:\\docs\\.\\a"));
    EXPECT_FALSE(svc.LocalPath("f:docs"));
    EXPECT_FALSE(svc.LocalPath("e:\\docs"));  // no such drive
    EXPECT_FALSE(svc.LocalPath("\\docs"));
    EXPECT_FALSE(svc.LocalPath(""));
    EXPECT_FALSE(svc.LocalPath("1:\\x"));
    EXPECT_FALSE(svc.StoredPath("relative/path"));
    EXPECT_FALSE(svc.StoredPath("/media/stick/../../etc"));
    EXPECT_FALSE(svc.StoredPath("/elsewhere/x"));   // no root drive in this list
    EXPECT_EQ(svc.LocalPath("f:\\\\docs\\\\a"), "/media/stick/docs/a"); // doubled separators
}

TEST(VolumePaths, NotReadyDrivesHaveNoLocalPath)
{
    VolumeInfo cd;
    cd.letter = 'e';
    cd.type = DRIVE_CDROM;
    FixedVolumeService svc({cd});
    EXPECT_EQ(svc.GetDriveType('e'), DRIVE_CDROM);
    EXPECT_FALSE(svc.LocalPath("e:\\x"));
    std::string label = "unchanged";
    uint32_t serial = 7;
    EXPECT_FALSE(svc.GetVolumeInformation('e', label, serial));
    EXPECT_EQ(label, "unchanged");
    EXPECT_EQ(serial, 7u);
    uint64_t a = 1, b = 2, c = 3;
    EXPECT_FALSE(svc.GetDiskFreeSpaceEx('e', a, b, c));
    EXPECT_EQ(b, 2u);
}

TEST(VolumeQueries, DriveFactsByLetterAndRoot)
{
    auto hd = Volume('c', DRIVE_FIXED, "/", "", 0x1234);
    hd.totalBytes = 1000;
    hd.freeBytes = 400;
    hd.totalFreeBytes = 500;
    FixedVolumeService svc({Volume('E', DRIVE_CDROM, "/media/cd", "MYDISC", 0xCAFEBABE), hd});
    EXPECT_EQ(svc.GetDriveType("E:\\"), DRIVE_CDROM);
    EXPECT_EQ(svc.GetDriveType("e:/"), DRIVE_CDROM);
    EXPECT_EQ(svc.GetDriveType('d'), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(svc.GetDriveType(""), DRIVE_NO_ROOT_DIR);
    std::string label;
    uint32_t serial = 0;
    ASSERT_TRUE(svc.GetVolumeInformation('E', label, serial));
    EXPECT_EQ(label, "MYDISC");
    EXPECT_EQ(serial, 0xCAFEBABEu);
    uint64_t freeToCaller, total, totalFree;
    ASSERT_TRUE(svc.GetDiskFreeSpaceEx('c', freeToCaller, total, totalFree));
    EXPECT_EQ(total, 1000u);
    EXPECT_EQ(freeToCaller, 400u);
    EXPECT_EQ(totalFree, 500u);
    EXPECT_EQ(svc.GetLogicalDrives(), (1u << 2) | (1u << 4));
    EXPECT_EQ(svc.GetLogicalDriveStrings(), (std::vector<std::string>{"c:\\", "e:\\"}));
}

TEST(VolumeQueries, FixedListEmitsDeviceChangeOnlyWhenItChanges)
{
    FixedVolumeService svc({Volume('c', DRIVE_FIXED, "/")});
    int changes = 0;
    QObject::connect(&svc, &VolumeService::DeviceChange, [&] { ++changes; });
    svc.SetDrives({Volume('c', DRIVE_FIXED, "/")});
    EXPECT_EQ(changes, 0);
    svc.SetDrives({Volume('c', DRIVE_FIXED, "/"), Volume('d', DRIVE_CDROM, "/media/cd")});
    EXPECT_EQ(changes, 1);
}

TEST(VolumeQueries, CurrentServiceCanBeReplaced)
{
    VolumeService::SetCurrent(std::make_unique<FixedVolumeService>(
        std::vector<VolumeInfo>{Volume('q', DRIVE_RAMDISK, "/mnt/ram")}));
    EXPECT_EQ(VolumeService::Current().GetDriveType('q'), DRIVE_RAMDISK);
    VolumeService::SetCurrent(nullptr);
}

TEST(VolumeListing, ListsARealFolderWithAttributes)
{
    orbtest::TempDir dir;
    dir.write("root/file.txt", "hello");
    dir.write("root/.hidden", "x");
    dir.write("root/back\\slash.txt", "abc");
    fs::create_directories(dir.path() / "root" / "sub");
    fs::create_directories(dir.path() / "root" / ".git");
    fs::create_directory_symlink(dir.path() / "root" / "sub", dir.path() / "root" / "loop");
    fs::permissions(dir.path() / "root" / "file.txt", fs::perms::owner_write | fs::perms::group_write |
                                                          fs::perms::others_write, fs::perm_options::remove);
    FixedVolumeService svc({Volume('t', DRIVE_FIXED, (dir.path() / "root").string())});
    std::vector<VolumeEntry> entries;
    std::string error;
    ASSERT_TRUE(svc.ListFolder("t:\\", entries, error)) << error;
    EXPECT_EQ(entries.size(), 6u);
    const VolumeEntry *file = Find(entries, "file.txt");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size, 5u);
    EXPECT_FALSE(file->isDirectory);
    EXPECT_EQ(file->attributes, uint32_t(FILE_ATTR_ARCHIVE | FILE_ATTR_READONLY));
    EXPECT_GT(file->lastWriteTime, 0u);
    EXPECT_GT(file->creationTime, 0u);
    ASSERT_TRUE(Find(entries, "sub"));
    EXPECT_EQ(Find(entries, "sub")->attributes, uint32_t(FILE_ATTR_DIRECTORY));
    EXPECT_TRUE(Find(entries, "sub")->isDirectory);
    ASSERT_TRUE(Find(entries, ".git"));
    EXPECT_EQ(Find(entries, ".git")->attributes, uint32_t(FILE_ATTR_DIRECTORY | FILE_ATTR_HIDDEN));
    ASSERT_TRUE(Find(entries, ".hidden"));
    EXPECT_EQ(Find(entries, ".hidden")->attributes, uint32_t(FILE_ATTR_ARCHIVE | FILE_ATTR_HIDDEN));
    // A link to a folder is recorded but marked so the scan does not walk it.
    ASSERT_TRUE(Find(entries, "loop"));
    EXPECT_EQ(Find(entries, "loop")->attributes, uint32_t(FILE_ATTR_DIRECTORY | FILE_ATTR_REPARSE_POINT));
    // The stored form of a name with "\", which maps back to the same file.
    ASSERT_TRUE(Find(entries, "back/slash.txt"));
    auto local = svc.LocalPath("t:\\back/slash.txt");
    ASSERT_TRUE(local);
    EXPECT_EQ(orbtest::readFile(*local), "abc");

    ASSERT_TRUE(svc.ListFolder("t:\\sub\\", entries, error));
    EXPECT_TRUE(entries.empty());
    EXPECT_FALSE(svc.ListFolder("t:\\missing\\", entries, error));
    EXPECT_NE(error.find("cannot read"), std::string::npos);
    EXPECT_FALSE(svc.ListFolder("u:\\", entries, error));
    EXPECT_FALSE(svc.ListFolder("t:\\..\\", entries, error));
}

TEST(VolumeListing, AudioCdRootListsTrackFiles)
{
    VolumeInfo cd;
    cd.letter = 'e';
    cd.type = DRIVE_CDROM;
    cd.ready = true;
    cd.label = "Audio CD";
    for (int i = 1; i <= 3; ++i) {
        VolumeEntry e;
        e.name = "Track0" + std::to_string(i) + ".cda";
        e.size = 44;
        cd.virtualRoot.push_back(e);
    }
    FixedVolumeService svc({cd});
    std::vector<VolumeEntry> entries;
    std::string error;
    ASSERT_TRUE(svc.ListFolder("e:\\", entries, error));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].name, "Track03.cda");
    EXPECT_FALSE(svc.ListFolder("e:\\sub\\", entries, error));
    EXPECT_FALSE(svc.LocalPath("e:\\Track01.cda")); // no local file behind a track
}

// The system service on a made-up machine: a mount table, sysfs and /dev in a
// temporary folder.
class SystemVolumes : public ::testing::Test {
protected:
    void SetUp() override
    {
        sys = dir.path() / "sys";
        dev = dir.path() / "dev";
        fs::create_directories(sys / "block" / "sr0");
        fs::create_directories(sys / "block" / "sr1");
        fs::create_directories(sys / "block" / "sda");
        fs::create_directories(sys / "dev" / "block" / "8:17");
        fs::create_directories(dev / "disk" / "by-label");
        fs::create_directories(dev / "disk" / "by-uuid");
        dir.write("sys/dev/block/8:17/removable", "1\n");
        dir.write("dev/sr0", "");
        dir.write("dev/sr1", "");
        dir.write("dev/sdb1", "");
        dir.write("dev/sdc1", "");
        fs::create_symlink("../../sdb1", dev / "disk" / "by-label" / "My\\x20Stick");
        fs::create_symlink("../../sdb1", dev / "disk" / "by-uuid" / "1A2B-3C4D");
        fs::create_symlink("../../sdc1", dev / "disk" / "by-uuid" / "5E6F-0001");
    }

    // Options for a service over the fake system with this mount table.
    SystemVolumeOptions Options(const std::string &table, const std::string &letterMap = "data/driveletters.map")
    {
        SystemVolumeOptions o;
        o.letterMapPath = dir.file(letterMap);
        o.mountInfoPath = dir.write("mountinfo", table);
        o.sysRoot = sys.string();
        o.devRoot = dev.string();
        o.pollIntervalMs = 0;
        return o;
    }

    std::unique_ptr<SystemVolumeService> Start(const std::string &table)
    {
        fs::create_directories(dir.path() / "data");
        return std::make_unique<SystemVolumeService>(Options(table));
    }

    static std::string Line(int id, const char *dev, const char *mp, const char *type, const char *source)
    {
        return std::to_string(id) + " 1 " + dev + " / " + mp + " rw - " + type + " " + source + " rw\n";
    }

    orbtest::TempDir dir;
    fs::path sys, dev;
    const std::string root = "1 0 254:0 / / rw - ext4 /dev/vda rw\n"
                             "2 1 0:21 / /proc rw - proc proc rw\n";
    const std::string stick = Line(10, "8:17", "/media/me/My\\040Stick", "vfat", "/dev/sdb1");
    const std::string otherStick = Line(11, "8:33", "/media/me/OTHER", "vfat", "/dev/sdc1");
    const std::string share = Line(12, "0:50", "/mnt/share", "cifs", "//server/Docs");
};

TEST_F(SystemVolumes, GivesRootCAndOthersLettersFromD)
{
    auto svc = Start(root + stick + share);
    auto drives = svc->Drives();
    std::string letters;
    for (auto &d : drives)
        letters += d.letter;
    // The stick, then the share, then the two optical drives.
    EXPECT_EQ(letters, "cdefg");
    EXPECT_EQ(svc->GetDriveType('c'), DRIVE_FIXED);
    EXPECT_EQ(svc->GetDriveType('d'), DRIVE_REMOVABLE);
    EXPECT_EQ(svc->GetDriveType('e'), DRIVE_REMOTE);
    EXPECT_EQ(svc->GetDriveType('f'), DRIVE_CDROM);
    EXPECT_EQ(svc->GetDriveType('g'), DRIVE_CDROM);
    EXPECT_EQ(svc->GetDriveType('h'), DRIVE_NO_ROOT_DIR);
    std::string label;
    uint32_t serial = 0;
    ASSERT_TRUE(svc->GetVolumeInformation('d', label, serial));
    EXPECT_EQ(label, "My Stick"); // from the by-label link: the device itself holds no file system
    EXPECT_EQ(serial, 0x1A2B3C4Du);
    EXPECT_EQ(svc->Drive('e')->remoteName, "//server/Docs");
    EXPECT_EQ(svc->Drive('d')->mountPoint, "/media/me/My Stick");
    // Optical drives without a disc are listed but not ready.
    EXPECT_FALSE(svc->GetVolumeInformation('f', label, serial));
    EXPECT_EQ(svc->GetLogicalDriveStrings().size(), 5u);
    EXPECT_TRUE(svc->LetterMapProblem().empty()) << svc->LetterMapProblem();
}

TEST_F(SystemVolumes, LettersSurviveRestartsAndUnplugging)
{
    char stickLetter, shareLetter;
    {
        auto svc = Start(root + stick + share);
        stickLetter = svc->StoredPath("/media/me/My Stick/x")->at(0);
        shareLetter = svc->StoredPath("/mnt/share")->at(0);
    }
    {
        // The stick is unplugged, another one comes: it must not take the
        // first stick's letter.
        auto svc = Start(root + share + otherStick);
        EXPECT_EQ(svc->StoredPath("/mnt/share")->at(0), shareLetter);
        char other = svc->StoredPath("/media/me/OTHER")->at(0);
        EXPECT_NE(other, stickLetter);
        EXPECT_EQ(svc->GetDriveType(stickLetter), DRIVE_NO_ROOT_DIR);
    }
    {
        // The first stick comes back at another folder: same letter.
        std::string moved = Line(10, "8:17", "/media/me/elsewhere", "vfat", "/dev/sdb1");
        auto svc = Start(root + moved);
        EXPECT_EQ(svc->StoredPath("/media/me/elsewhere/a.txt"), std::string(1, stickLetter) + ":\\a.txt");
    }
    std::string map = orbtest::readFile(dir.file("data/driveletters.map"));
    EXPECT_NE(map.find(std::string(1, stickLetter) + "=uuid:1A2B-3C4D"), std::string::npos) << map;
}

TEST_F(SystemVolumes, MountedDataDiscShowsItsLabelAndDescriptorSerial)
{
    // The drive holds an ISO 9660 image: primary descriptor at sector 16, terminator after it.
    std::string img(16 * 2048, '\0');
    std::string pvd(2048, '\0');
    pvd[0] = 1;
    pvd.replace(1, 5, "CD001");
    pvd[6] = 1;
    pvd.replace(8, 32, std::string(32, ' '));
    pvd.replace(40, 32, "MYDISC" + std::string(26, ' '));
    std::string end(2048, '\0');
    end[0] = char(255);
    end.replace(1, 5, "CD001");
    end[6] = 1;
    dir.write("dev/sr0", img + pvd + end + std::string(64 * 2048, '\0'));
    uint8_t sum[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < pvd.size(); ++i)
        sum[i % 4] = uint8_t(sum[i % 4] + uint8_t(pvd[i]));
    uint32_t expected = (uint32_t(sum[0]) << 24) | (uint32_t(sum[1]) << 16) | (uint32_t(sum[2]) << 8) | sum[3];

    auto svc = Start(root + Line(20, "11:0", "/media/me/MYDISC", "iso9660", "/dev/sr0"));
    auto stored = svc->StoredPath("/media/me/MYDISC/x");
    ASSERT_TRUE(stored);
    char letter = stored->at(0);
    EXPECT_EQ(svc->GetDriveType(letter), DRIVE_CDROM);
    std::string label;
    uint32_t serial = 0;
    ASSERT_TRUE(svc->GetVolumeInformation(letter, label, serial));
    EXPECT_EQ(serial, expected);
    EXPECT_EQ(label, "MYDISC");
    EXPECT_EQ(svc->Drive(letter)->device, "/dev/sr0");
    // One drive, one letter: the mounted disc is the drive sr0, and sr1 is the other drive.
    int cdroms = 0;
    for (auto &d : svc->Drives())
        cdroms += d.type == DRIVE_CDROM;
    EXPECT_EQ(cdroms, 2);
    // The letter belongs to the drive: with the disc gone it stays the drive's.
    auto again = Start(root);
    EXPECT_EQ(again->GetDriveType(letter), DRIVE_CDROM);
    EXPECT_FALSE(again->GetVolumeInformation(letter, label, serial));
}

TEST_F(SystemVolumes, AudioCdIsAVolumeListingItsTracks)
{
    // sr1 holds a disc with two audio tracks and a data track; sr0 is empty.
    std::vector<uint8_t> toc = {0, 34, 1, 3,
                                0, 0x10, 1, 0, 0, 0, 0, 0,
                                0, 0x10, 2, 0, 0, 0, 0x3A, 0x98,   // 15000
                                0, 0x14, 3, 0, 0, 0, 0x75, 0x30,   // 30000, data
                                0, 0x10, 0xAA, 0, 0, 0, 0xAF, 0xC8}; // 45000
    SystemVolumeOptions o = Options(root);
    bool discIn = true;
    o.probeOptical = [&](const std::string &device) {
        OpticalDriveState s;
        s.opened = true;
        if (discIn && device.size() >= 3 && device.compare(device.size() - 3, 3, "sr1") == 0) {
            s.discPresent = true;
            s.toc = toc;
        }
        return s;
    };
    fs::create_directories(dir.path() / "data");
    SystemVolumeService svc(o);
    int changes = 0;
    QObject::connect(&svc, &VolumeService::DeviceChange, [&] { ++changes; });
    // Letters: sr0 d:, sr1 e:.
    std::string label;
    uint32_t serial = 0;
    ASSERT_TRUE(svc.GetVolumeInformation('e', label, serial));
    EXPECT_EQ(label, "Audio CD");
    // Track starts 00:02:00, 03:22:00, 06:42:00, summed as packed minute/second/frame.
    EXPECT_EQ(serial, ((0u << 16) | (2u << 8)) + ((3u << 16) | (22u << 8)) + ((6u << 16) | (42u << 8)));
    EXPECT_FALSE(svc.GetVolumeInformation('d', label, serial));
    std::vector<VolumeEntry> entries;
    std::string error;
    ASSERT_TRUE(svc.ListFolder("e:\\", entries, error)) << error;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "Track01.cda");
    EXPECT_EQ(entries[1].name, "Track02.cda");
    EXPECT_GT(entries[0].creationTime, 0u);
    uint64_t f, total, tf;
    ASSERT_TRUE(svc.GetDiskFreeSpaceEx('e', f, total, tf));
    EXPECT_EQ(total, 45000ull * 2352);
    // The disc comes out: the drive stays, not ready, and listeners hear of it.
    discIn = false;
    svc.Refresh();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(svc.GetDriveType('e'), DRIVE_CDROM);
    EXPECT_FALSE(svc.ListFolder("e:\\", entries, error));
}

TEST_F(SystemVolumes, ClonedSticksGetTwoLetters)
{
    // Three file systems carry the same id (and here even name the same device).
    std::string a = Line(10, "8:17", "/media/me/A", "vfat", "/dev/sdb1");
    std::string b = Line(11, "8:33", "/media/me/B", "vfat", "/dev/sdb1");
    std::string c = Line(12, "8:49", "/media/me/C", "vfat", "/dev/sdb1");
    auto svc = Start(root + a + b + c);
    auto la = svc->StoredPath("/media/me/A"), lb = svc->StoredPath("/media/me/B"), lc = svc->StoredPath("/media/me/C");
    ASSERT_TRUE(la && lb && lc);
    EXPECT_NE(la->at(0), lb->at(0));
    EXPECT_NE(lb->at(0), lc->at(0));
    EXPECT_NE(la->at(0), lc->at(0));
}

TEST_F(SystemVolumes, LettersOfASessionHoldUntilTheMapCanBeWritten)
{
    // The data folder does not exist yet.
    SystemVolumeService svc(Options(root + stick, "not-yet/driveletters.map"));
    char first = svc.StoredPath("/media/me/My Stick")->at(0);
    EXPECT_NE(svc.LetterMapProblem().find("cannot be written"), std::string::npos);
    // The share arrives; the stick keeps its letter although it was never saved.
    dir.write("mountinfo", share + root + stick);
    svc.Refresh();
    EXPECT_EQ(svc.StoredPath("/media/me/My Stick")->at(0), first);
    // Once the folder exists the map is written.
    fs::create_directories(dir.path() / "not-yet");
    dir.write("mountinfo", root + stick);
    svc.Refresh();
    EXPECT_NE(orbtest::readFile(dir.file("not-yet/driveletters.map")).find("=uuid:1A2B-3C4D"), std::string::npos);
}

TEST_F(SystemVolumes, BoundFolderIsASubstitutedDrive)
{
    dir.write("scanme/a.txt", "12345");
    dir.write("data/driveletters.map", "t=folder:" + (dir.path() / "scanme").string() + "\n");
    auto svc = Start(root);
    EXPECT_EQ(svc->GetDriveType('t'), DRIVE_FIXED);
    std::vector<VolumeEntry> entries;
    std::string error;
    ASSERT_TRUE(svc->ListFolder("t:\\", entries, error)) << error;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "a.txt");
    EXPECT_EQ(entries[0].size, 5u);
    EXPECT_EQ(svc->LocalPath("t:\\a.txt"), (dir.path() / "scanme" / "a.txt").string());
    EXPECT_EQ(svc->StoredPath((dir.path() / "scanme" / "a.txt").string()), "t:\\a.txt");
    // It shows the facts of the volume that holds it: here the root's.
    std::string label, rootLabel;
    uint32_t serial = 0, rootSerial = 1;
    ASSERT_TRUE(svc->GetVolumeInformation('t', label, serial));
    ASSERT_TRUE(svc->GetVolumeInformation('c', rootLabel, rootSerial));
    EXPECT_EQ(serial, rootSerial);
    uint64_t f, total, tf;
    EXPECT_TRUE(svc->GetDiskFreeSpaceEx('t', f, total, tf));
    EXPECT_GT(total, 0u);
    // The folder goes away: nothing behind the letter, and the binding stays.
    fs::remove_all(dir.path() / "scanme");
    svc->Refresh();
    EXPECT_EQ(svc->GetDriveType('t'), DRIVE_NO_ROOT_DIR);
}

TEST_F(SystemVolumes, MountChangesAreNoticedAndReported)
{
    auto svc = Start(root);
    int changes = 0;
    QObject::connect(svc.get(), &VolumeService::DeviceChange, [&] { ++changes; });
    svc->Refresh();
    EXPECT_EQ(changes, 0);
    dir.write("mountinfo", root + stick);
    svc->Refresh();
    EXPECT_EQ(changes, 1);
    auto stored = svc->StoredPath("/media/me/My Stick");
    ASSERT_TRUE(stored);
    char letter = stored->at(0);
    EXPECT_EQ(svc->GetDriveType(letter), DRIVE_REMOVABLE);
    // A question asked before the next refresh sees the change at once and
    // the listeners hear of it afterwards.
    dir.write("mountinfo", root);
    EXPECT_EQ(svc->GetDriveType(letter), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(changes, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(changes, 2);
}

TEST_F(SystemVolumes, BrokenLetterMapLinesAreReportedNotLost)
{
    dir.write("data/driveletters.map", "nonsense line\nd=uuid:1A2B-3C4D\n");
    auto svc = Start(root + share + stick);
    EXPECT_EQ(svc->GetDriveType('d'), DRIVE_REMOVABLE);
    EXPECT_NE(svc->LetterMapProblem().find("line 1"), std::string::npos);
    std::string map = orbtest::readFile(dir.file("data/driveletters.map"));
    EXPECT_EQ(map.rfind("nonsense line\nd=uuid:1A2B-3C4D\n", 0), 0u) << map;
}

TEST_F(SystemVolumes, LetterMapThatCannotBeReadIsNeverWrittenOver)
{
    // The user's map may hold folder bindings: when it cannot be read, a new
    // volume gets a letter for this session only and the file stays as it is.
    const std::string userMap = "# mine\nt=folder:/srv\n";
    const std::string mapPath = dir.write("data/driveletters.map", userMap);
    ::chmod(mapPath.c_str(), 0);
    {
        orbtest::TObeyPermissions obey;
        if (!obey.Active())
            GTEST_SKIP() << "this root may not lower its own capabilities";
        auto svc = Start(root + stick);
        EXPECT_EQ(svc->GetDriveType('d'), DRIVE_REMOVABLE);
        EXPECT_NE(svc->LetterMapProblem().find("cannot be read"), std::string::npos) << svc->LetterMapProblem();
    }
    ::chmod(mapPath.c_str(), 0644);
    EXPECT_EQ(orbtest::readFile(mapPath), userMap);
}

TEST(SystemVolumesHere, ThisMachinesRootIsDriveC)
{
    orbtest::TempDir dir;
    SystemVolumeOptions o;
    o.letterMapPath = dir.file("driveletters.map");
    o.pollIntervalMs = 0;
    SystemVolumeService svc(o);
    auto c = svc.Drive('c');
    ASSERT_TRUE(c);
    EXPECT_EQ(c->mountPoint, "/");
    EXPECT_TRUE(c->ready);
    uint64_t freeToCaller = 0, total = 0, totalFree = 0;
    ASSERT_TRUE(svc.GetDiskFreeSpaceEx('c', freeToCaller, total, totalFree));
    EXPECT_GT(total, 0u);
    EXPECT_LE(freeToCaller, totalFree);
    EXPECT_EQ(svc.StoredPath("/etc/hostname"), "c:\\etc\\hostname");
    std::vector<VolumeEntry> entries;
    std::string error;
    ASSERT_TRUE(svc.ListFolder("c:\\", entries, error)) << error;
    ASSERT_TRUE(Find(entries, "etc"));
    EXPECT_EQ(Find(entries, "etc")->attributes & FILE_ATTR_REPARSE_POINT, 0u);
    // /proc is a file system of its own: listed, but not part of c:'s walk.
    ASSERT_TRUE(Find(entries, "proc"));
    EXPECT_NE(Find(entries, "proc")->attributes & FILE_ATTR_REPARSE_POINT, 0u);
    // Drive() answers with current sizes.
    EXPECT_GT(c->totalBytes, 0u);
}
