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

// Label and serial of a ready drive.
std::optional<std::pair<std::string, uint32_t>> Info(const VolumeService &svc, char letter)
{
    std::string label;
    uint32_t serial = 0;
    if (!svc.GetVolumeInformation(letter, label, serial))
        return std::nullopt;
    return std::make_pair(label, serial);
}

std::vector<VolumeEntry> List(const VolumeService &svc, const std::string &folder)
{
    std::vector<VolumeEntry> entries;
    std::string error;
    EXPECT_TRUE(svc.ListFolder(folder, entries, error)) << folder << ": " << error;
    return entries;
}

uint64_t TotalBytes(const VolumeService &svc, char letter)
{
    uint64_t f = 0, total = 0, tf = 0;
    EXPECT_TRUE(svc.GetDiskFreeSpaceEx(letter, f, total, tf)) << letter;
    return total;
}

} // namespace

TEST(VolumePaths, StoredAndLocalPathsRoundTrip)
{
    FixedVolumeService svc({Volume('c', DRIVE_FIXED, "/"), Volume('f', DRIVE_REMOVABLE, "/media/me/My Stick"),
                            Volume('g', DRIVE_FIXED, "/media/me/My Stick/inner/")});
    // A "/" in a stored name is a "\" of the Linux name.
    const std::pair<const char *, const char *> local[] = {
        {"f:\\docs\\a.txt", "/media/me/My Stick/docs/a.txt"}, {"F:\\docs\\", "/media/me/My Stick/docs/"},
        {"f:\\", "/media/me/My Stick"}, {"f:", "/media/me/My Stick"}, {"c:\\etc\\x", "/etc/x"},
        {"f:\\a/b.txt", "/media/me/My Stick/a\\b.txt"}};
    for (const auto &[stored, path] : local)
        EXPECT_EQ(svc.LocalPath(stored), path) << stored;
    for (const char *stored : {"f:\\docs\\a.txt", "f:\\docs\\", "f:\\", "c:\\etc\\x", "c:\\", "f:\\a/b\\c/d\\",
                               "g:\\deep\\x y.txt"}) {
        auto path = svc.LocalPath(stored);
        ASSERT_TRUE(path) << stored;
        EXPECT_EQ(svc.StoredPath(*path), stored) << *path;
    }
    // The drive whose root holds the path most closely wins.
    EXPECT_EQ(svc.StoredPath("/media/me/My Stick/inner/x"), "g:\\x");
    EXPECT_EQ(svc.StoredPath("/media/me/My Sticker/x"), "c:\\media\\me\\My Sticker\\x");
    EXPECT_EQ(svc.StoredPath("/media/me/My Stick"), "f:\\");
}

TEST(VolumePaths, PathsThatLeaveTheDriveOrNameNoDriveAreRefused)
{
    FixedVolumeService svc({Volume('f', DRIVE_REMOVABLE, "/media/stick")});
    // e: is no drive here, and there is no root drive in this list.
    for (const char *stored : {"f:\\..\\..\\etc\\passwd", "f:\\docs\\.\\a", "f:docs", "e:\\docs", "\\docs", "", "1:\\x"})
        EXPECT_FALSE(svc.LocalPath(stored)) << stored;
    for (const char *path : {"relative/path", "/media/stick/../../etc", "/elsewhere/x"})
        EXPECT_FALSE(svc.StoredPath(path)) << path;
    EXPECT_EQ(svc.LocalPath("f:\\\\docs\\\\a"), "/media/stick/docs/a"); // doubled separators
}

TEST(VolumeQueries, DriveFactsByLetterAndRoot)
{
    auto hd = Volume('c', DRIVE_FIXED, "/", "", 0x1234);
    hd.totalBytes = 1000, hd.freeBytes = 400, hd.totalFreeBytes = 500;
    VolumeInfo cd;
    cd.letter = 'e';
    cd.type = DRIVE_CDROM;
    FixedVolumeService svc({Volume('E', DRIVE_CDROM, "/media/cd", "MYDISC", 0xCAFEBABE), hd}), empty({cd});
    EXPECT_EQ(svc.GetDriveType("E:\\"), DRIVE_CDROM);
    EXPECT_EQ(svc.GetDriveType("e:/"), DRIVE_CDROM);
    EXPECT_EQ(svc.GetDriveType('d'), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(svc.GetDriveType(""), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(Info(svc, 'E'), std::make_pair(std::string("MYDISC"), 0xCAFEBABEu));
    uint64_t freeToCaller, total, totalFree;
    ASSERT_TRUE(svc.GetDiskFreeSpaceEx('c', freeToCaller, total, totalFree));
    EXPECT_EQ(total * 1000000 + freeToCaller * 1000 + totalFree, 1000400500u);
    EXPECT_EQ(svc.GetLogicalDrives(), (1u << 2) | (1u << 4));
    EXPECT_EQ(svc.GetLogicalDriveStrings(), (std::vector<std::string>{"c:\\", "e:\\"}));
    // A drive that is not ready: no local path, and the answers stay untouched.
    EXPECT_EQ(empty.GetDriveType('e'), DRIVE_CDROM);
    EXPECT_FALSE(empty.LocalPath("e:\\x"));
    std::string label = "unchanged";
    uint32_t serial = 7;
    EXPECT_FALSE(empty.GetVolumeInformation('e', label, serial));
    EXPECT_EQ(label, "unchanged");
    EXPECT_EQ(serial, 7u);
    uint64_t a = 1, b = 2, c = 3;
    EXPECT_FALSE(empty.GetDiskFreeSpaceEx('e', a, b, c));
    EXPECT_EQ(b, 2u);
}

TEST(VolumeQueries, DeviceChangeOnlyWhenTheListChangesAndCurrentIsReplaceable)
{
    FixedVolumeService svc({Volume('c', DRIVE_FIXED, "/")});
    int changes = 0;
    QObject::connect(&svc, &VolumeService::DeviceChange, [&] { ++changes; });
    svc.SetDrives({Volume('c', DRIVE_FIXED, "/")});
    EXPECT_EQ(changes, 0);
    svc.SetDrives({Volume('c', DRIVE_FIXED, "/"), Volume('d', DRIVE_CDROM, "/media/cd")});
    EXPECT_EQ(changes, 1);
    VolumeService::SetCurrent(std::make_unique<FixedVolumeService>(std::vector<VolumeInfo>{Volume('q', DRIVE_RAMDISK, "/mnt/ram")}));
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
    fs::permissions(dir.path() / "root" / "file.txt", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    FixedVolumeService svc({Volume('t', DRIVE_FIXED, (dir.path() / "root").string())});
    std::vector<VolumeEntry> entries = List(svc, "t:\\");
    EXPECT_EQ(entries.size(), 6u);
    // A link to a folder is recorded but marked so the scan does not walk it; a "\" in a name is stored as "/".
    const std::pair<const char *, uint32_t> attributes[] = {
        {"file.txt", FILE_ATTR_ARCHIVE | FILE_ATTR_READONLY}, {"sub", FILE_ATTR_DIRECTORY},
        {".git", FILE_ATTR_DIRECTORY | FILE_ATTR_HIDDEN}, {".hidden", FILE_ATTR_ARCHIVE | FILE_ATTR_HIDDEN},
        {"loop", FILE_ATTR_DIRECTORY | FILE_ATTR_REPARSE_POINT}, {"back/slash.txt", FILE_ATTR_ARCHIVE}};
    for (const auto &[name, attr] : attributes) {
        const VolumeEntry *e = Find(entries, name);
        ASSERT_TRUE(e) << name;
        EXPECT_EQ(e->attributes, attr) << name;
        EXPECT_EQ(e->isDirectory, (attr & FILE_ATTR_DIRECTORY) != 0) << name;
    }
    const VolumeEntry *file = Find(entries, "file.txt");
    EXPECT_EQ(file->size, 5u);
    EXPECT_GT(file->lastWriteTime, 0u);
    EXPECT_GT(file->creationTime, 0u);
    auto local = svc.LocalPath("t:\\back/slash.txt");
    ASSERT_TRUE(local);
    EXPECT_EQ(orbtest::readFile(*local), "abc");
    EXPECT_TRUE(List(svc, "t:\\sub\\").empty());
    std::string error;
    EXPECT_FALSE(svc.ListFolder("t:\\missing\\", entries, error));
    EXPECT_NE(error.find("cannot read"), std::string::npos);
    EXPECT_FALSE(svc.ListFolder("u:\\", entries, error));
    EXPECT_FALSE(svc.ListFolder("t:\\..\\", entries, error));
}

TEST(VolumeListing, AudioCdRootListsTrackFiles)
{
    VolumeInfo cd = Volume('e', DRIVE_CDROM, "", "Audio CD");
    for (int i = 1; i <= 3; ++i) {
        VolumeEntry e;
        e.name = "Track0" + std::to_string(i) + ".cda";
        e.size = 44;
        cd.virtualRoot.push_back(e);
    }
    FixedVolumeService svc({cd});
    std::vector<VolumeEntry> entries = List(svc, "e:\\");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].name, "Track03.cda");
    std::string error;
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
        for (const fs::path &p : {sys / "block" / "sr0", sys / "block" / "sr1", sys / "block" / "sda",
                                  dev / "disk" / "by-label", dev / "disk" / "by-uuid"})
            fs::create_directories(p);
        dir.write("sys/dev/block/8:17/removable", "1\n");
        for (const char *name : {"dev/sr0", "dev/sr1", "dev/sdb1", "dev/sdc1"})
            dir.write(name, "");
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
    const std::string stick = Line(10, "8:17", "/media/me/My\\040Stick", "vfat", "/dev/sdb1"),
                      otherStick = Line(11, "8:33", "/media/me/OTHER", "vfat", "/dev/sdc1"),
                      share = Line(12, "0:50", "/mnt/share", "cifs", "//server/Docs");
};

TEST_F(SystemVolumes, GivesRootCAndOthersLettersFromD)
{
    auto svc = Start(root + stick + share);
    std::string letters;
    for (auto &d : svc->Drives())
        letters += d.letter;
    // The stick, then the share, then the two optical drives.
    EXPECT_EQ(letters, "cdefg");
    const std::pair<char, int> types[] = {{'c', DRIVE_FIXED}, {'d', DRIVE_REMOVABLE}, {'e', DRIVE_REMOTE},
                                          {'f', DRIVE_CDROM}, {'g', DRIVE_CDROM}, {'h', DRIVE_NO_ROOT_DIR}};
    for (const auto &[letter, type] : types)
        EXPECT_EQ(svc->GetDriveType(letter), type) << letter;
    // The label from the by-label link: the device itself holds no file system.
    EXPECT_EQ(Info(*svc, 'd'), std::make_pair(std::string("My Stick"), 0x1A2B3C4Du));
    EXPECT_EQ(svc->Drive('e')->remoteName, "//server/Docs");
    EXPECT_EQ(svc->Drive('d')->mountPoint, "/media/me/My Stick");
    // Optical drives without a disc are listed but not ready.
    EXPECT_FALSE(Info(*svc, 'f'));
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
    std::string pvd(2048, '\0'), end(2048, '\0');
    pvd.replace(0, 7, "\1CD001\1");
    pvd.replace(8, 64, std::string(32, ' ') + "MYDISC" + std::string(26, ' '));
    end.replace(0, 7, "\xff" "CD001\1");
    dir.write("dev/sr0", std::string(16 * 2048, '\0') + pvd + end + std::string(64 * 2048, '\0'));
    uint8_t sum[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < pvd.size(); ++i)
        sum[i % 4] = uint8_t(sum[i % 4] + uint8_t(pvd[i]));
    uint32_t expected = (uint32_t(sum[0]) << 24) | (uint32_t(sum[1]) << 16) | (uint32_t(sum[2]) << 8) | sum[3];

    auto svc = Start(root + Line(20, "11:0", "/media/me/MYDISC", "iso9660", "/dev/sr0"));
    auto stored = svc->StoredPath("/media/me/MYDISC/x");
    ASSERT_TRUE(stored);
    char letter = stored->at(0);
    EXPECT_EQ(svc->GetDriveType(letter), DRIVE_CDROM);
    EXPECT_EQ(Info(*svc, letter), std::make_pair(std::string("MYDISC"), expected));
    EXPECT_EQ(svc->Drive(letter)->device, "/dev/sr0");
    // One drive, one letter: the mounted disc is the drive sr0, and sr1 is the other drive.
    int cdroms = 0;
    for (auto &d : svc->Drives())
        cdroms += d.type == DRIVE_CDROM;
    EXPECT_EQ(cdroms, 2);
    // The letter belongs to the drive: with the disc gone it stays the drive's.
    auto again = Start(root);
    EXPECT_EQ(again->GetDriveType(letter), DRIVE_CDROM);
    EXPECT_FALSE(Info(*again, letter));
}

TEST_F(SystemVolumes, AudioCdIsAVolumeListingItsTracks)
{
    // sr1 holds a disc with two audio tracks and a data track; sr0 is empty.
    std::vector<uint8_t> toc = {0, 34, 1, 3, 0, 0x10, 1, 0, 0, 0, 0, 0, 0, 0x10, 2, 0, 0, 0, 0x3A, 0x98 /* 15000 */,
                                0, 0x14, 3, 0, 0, 0, 0x75, 0x30 /* 30000, data */, 0, 0x10, 0xAA, 0, 0, 0, 0xAF, 0xC8 /* 45000 */};
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
    // Letters: sr0 d:, sr1 e:. Track starts 00:02:00, 03:22:00, 06:42:00, summed as packed minute/second/frame.
    EXPECT_EQ(Info(svc, 'e'), std::make_pair(std::string("Audio CD"),
                                             ((0u << 16) | (2u << 8)) + ((3u << 16) | (22u << 8)) + ((6u << 16) | (42u << 8))));
    EXPECT_FALSE(Info(svc, 'd'));
    std::vector<VolumeEntry> entries = List(svc, "e:\\");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "Track01.cda");
    EXPECT_EQ(entries[1].name, "Track02.cda");
    EXPECT_GT(entries[0].creationTime, 0u);
    EXPECT_EQ(TotalBytes(svc, 'e'), 45000ull * 2352);
    // The disc comes out: the drive stays, not ready, and listeners hear of it.
    discIn = false;
    svc.Refresh();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(svc.GetDriveType('e'), DRIVE_CDROM);
    std::string error;
    EXPECT_FALSE(svc.ListFolder("e:\\", entries, error));
}

TEST_F(SystemVolumes, ClonedSticksGetTwoLetters)
{
    // Three file systems carry the same id (and here even name the same device).
    auto svc = Start(root + Line(10, "8:17", "/media/me/A", "vfat", "/dev/sdb1") +
                     Line(11, "8:33", "/media/me/B", "vfat", "/dev/sdb1") + Line(12, "8:49", "/media/me/C", "vfat", "/dev/sdb1"));
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
    // Told apart from the volume that holds it, so a scan does not take the file system's size for the folder's.
    EXPECT_TRUE(svc->Drive('t')->boundFolder);
    EXPECT_FALSE(svc->Drive('c')->boundFolder);
    std::vector<VolumeEntry> entries = List(*svc, "t:\\");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "a.txt");
    EXPECT_EQ(entries[0].size, 5u);
    EXPECT_EQ(svc->LocalPath("t:\\a.txt"), (dir.path() / "scanme" / "a.txt").string());
    EXPECT_EQ(svc->StoredPath((dir.path() / "scanme" / "a.txt").string()), "t:\\a.txt");
    // It shows the facts of the volume that holds it: here the root's.
    ASSERT_TRUE(Info(*svc, 't') && Info(*svc, 'c'));
    EXPECT_EQ(Info(*svc, 't')->second, Info(*svc, 'c')->second);
    EXPECT_GT(TotalBytes(*svc, 't'), 0u);
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
    const char letter = svc->StoredPath("/media/me/My Stick").value_or("?").at(0);
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
    std::vector<VolumeEntry> entries = List(svc, "c:\\");
    ASSERT_TRUE(Find(entries, "etc"));
    EXPECT_EQ(Find(entries, "etc")->attributes & FILE_ATTR_REPARSE_POINT, 0u);
    // /proc is a file system of its own: listed, but not part of c:'s walk.
    ASSERT_TRUE(Find(entries, "proc"));
    EXPECT_NE(Find(entries, "proc")->attributes & FILE_ATTR_REPARSE_POINT, 0u);
    // Drive() answers with current sizes.
    EXPECT_GT(c->totalBytes, 0u);
}

TEST_F(SystemVolumes, MapOnlyReadUntilTheStartHasDecided)
{
    // A start that may still end at the question about a damaged catalogue reads
    // the map but writes nothing, neither a new map nor a letter added to one.
    fs::create_directories(dir.path() / "data");
    const std::string mapPath = dir.file("data/driveletters.map");
    SystemVolumeOptions o = Options(root + stick + otherStick);
    o.letterMapWritable = false;
    {
        SystemVolumeService svc(o);
        EXPECT_GE(svc.Drives().size(), 3u);
        EXPECT_FALSE(fs::exists(mapPath));
    }
    const std::string userMap = "# mine\nf=uuid:1A2B-3C4D\n";
    dir.write("data/driveletters.map", userMap);
    SystemVolumeService svc(o);
    char stickLetter = 0, otherLetter = 0;
    for (auto &d : svc.Drives()) {
        if (d.mountPoint == "/media/me/My Stick")
            stickLetter = d.letter;
        if (d.mountPoint == "/media/me/OTHER")
            otherLetter = d.letter;
    }
    EXPECT_EQ(stickLetter, 'f') << "the map's letter applies";
    EXPECT_NE(otherLetter, 0) << "the new volume gets a letter in memory";
    EXPECT_EQ(orbtest::readFile(mapPath), userMap);
    // Once the start has its catalogue, the letters given are kept in the map.
    svc.SetLetterMapPath(mapPath);
    EXPECT_NE(orbtest::readFile(mapPath).find(std::string(1, otherLetter) + "=uuid:5E6F-0001"), std::string::npos)
        << orbtest::readFile(mapPath);
    EXPECT_EQ(orbtest::readFile(mapPath).rfind(userMap, 0), 0u);
    // A later start whose map already holds every letter: nothing is written
    // and the drives are not gone through again.
    const std::string kept = orbtest::readFile(mapPath);
    SystemVolumeService later(o);
    int told = 0;
    QObject::connect(&later, &VolumeService::DeviceChange, [&] { ++told; });
    later.SetLetterMapPath(mapPath);
    EXPECT_EQ(told, 0);
    EXPECT_EQ(orbtest::readFile(mapPath), kept);
}
