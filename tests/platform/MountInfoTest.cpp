#include "platform/MountInfo.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// A desktop machine's table: system mounts, the root, a separate /home seen
// twice, a stick with a blank in its name, a data CD, a share, a user's RAM disk.
const char *kTable =
    "22 27 0:21 / /proc rw,relatime shared:12 - proc proc rw\n"
    "23 27 0:22 / /sys rw,relatime - sysfs sysfs rw\n"
    "24 27 0:6 / /dev rw,relatime - devtmpfs udev rw,size=100k\n"
    "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
    "31 23 0:28 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"
    "40 27 8:2 / /home rw,relatime shared:20 - ext4 /dev/sda2 rw\n"
    "41 27 8:1 / /boot/efi rw - vfat /dev/sda1 rw\n"
    "42 27 0:40 / /run/user/1000 rw - tmpfs tmpfs rw\n"
    "43 42 0:41 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
    "60 27 8:17 / /media/me/My\\040Stick rw,nosuid shared:30 - vfat /dev/sdb1 rw,uid=1000\n"
    "61 27 11:0 / /run/media/me/DATA\\011CD ro shared:31 - iso9660 /dev/sr0 ro\n"
    "62 27 0:50 / /mnt/share rw - cifs //server/Public\\040Docs rw\n"
    "63 27 0:51 / /tmp rw - tmpfs tmpfs rw\n"
    "64 27 0:52 / /mnt/ram rw - tmpfs tmpfs rw\n"
    "65 27 8:2 / /srv/home-again rw - ext4 /dev/sda2 rw\n"
    "66 27 7:3 / /snap/core/1 ro - squashfs /dev/loop3 ro\n"
    "67 27 0:60 / /var/lib/docker/overlay2/x/merged rw - overlay overlay rw\n"
    "68 27 0:61 / /mnt/nfs rw - nfs4 srv:/export rw\n";

std::vector<std::string> MountPoints(const std::vector<MountEntry> &v)
{
    std::vector<std::string> out;
    for (auto &e : v)
        out.push_back(e.mountPoint);
    return out;
}

} // namespace

TEST(MountInfo, UndoesOctalEscapesOnly)
{
    // An escape may end the field; too short, not octal, or out of byte range is no escape.
    const std::pair<const char *, const char *> cases[] = {
        {"My\\040Stick", "My Stick"}, {"a\\011b\\012c\\134d", "a\tb\nc\\d"}, {"tail\\040", "tail "},
        {"x\\04", "x\\04"}, {"x\\089", "x\\089"}, {"x\\777", "x\\777"}, {"end\\", "end\\"}};
    for (const auto &[field, want] : cases)
        EXPECT_EQ(UnescapeMountField(field), want) << field;
}

TEST(MountInfo, ParsesFieldsAroundOptionalFields)
{
    auto all = ParseMountInfo(kTable);
    ASSERT_EQ(all.size(), 18u);
    const MountEntry &s = all[9];
    EXPECT_EQ(std::to_string(s.mountId) + " " + std::to_string(s.parentId) + " " + std::to_string(s.major) + ":" +
                  std::to_string(s.minor) + " " + s.root + " " + s.mountPoint + " " + s.fsType + " " + s.source,
              "60 27 8:17 / /media/me/My Stick vfat /dev/sdb1");
    EXPECT_EQ(all[10].mountPoint, "/run/media/me/DATA\tCD");
    EXPECT_EQ(all[11].source, "//server/Public Docs");
}

TEST(MountInfo, SkipsMalformedLines)
{
    int bad = -1;
    auto all = ParseMountInfo("garbage\n"
                              "1 2 8:1 / /a rw - ext4\n"          // no source
                              "1 2 81 / /a rw - ext4 /dev/x rw\n"  // no major:minor
                              "x 2 8:1 / /a rw - ext4 /dev/x rw\n" // id not a number
                              "1 2 8:1 / relative rw - ext4 /dev/x rw\n"
                              "\n"
                              "5 1 8:1 / /ok rw - ext4 /dev/x rw",
                              &bad);
    EXPECT_EQ(bad, 5);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].mountPoint, "/ok");
}

TEST(MountInfo, CutsAndCorruptionsNeverBreakTheReader)
{
    std::string table = kTable;
    for (size_t n = 0; n < table.size(); n += 7) {
        auto all = ParseMountInfo(std::string_view(table).substr(0, n));
        for (auto &e : all)
            ASSERT_EQ(e.mountPoint[0], '/');
        CatalogueMounts(all);
    }
    for (size_t i = 0; i < table.size(); i += 3) {
        std::string bad = table;
        bad[i] = "\\ -:\n0"[i % 6];
        for (auto &e : CatalogueMounts(ParseMountInfo(bad)))
            ASSERT_FALSE(e.mountPoint.empty());
    }
}

TEST(MountInfo, KeepsWhatAUserCataloguesAndDropsTheRest)
{
    auto kept = CatalogueMounts(ParseMountInfo(kTable));
    EXPECT_EQ(MountPoints(kept),
              (std::vector<std::string>{"/", "/home", "/media/me/My Stick", "/run/media/me/DATA\tCD", "/mnt/share",
                                        "/mnt/ram", "/mnt/nfs"}));
    auto classOf = [&](const char *mp) {
        auto it = std::find_if(kept.begin(), kept.end(), [&](auto &e) { return e.mountPoint == mp; });
        return it == kept.end() ? MountClass::Skip : ClassifyMount(*it);
    };
    EXPECT_EQ(classOf("/home"), MountClass::Local);
    EXPECT_EQ(classOf("/mnt/share"), MountClass::Network);
    EXPECT_EQ(classOf("/mnt/nfs"), MountClass::Network);
    EXPECT_EQ(classOf("/mnt/ram"), MountClass::Ram);
}

// The root is kept whatever its file system; a later mount on the same folder hides the earlier; two folders
// of one device are two volumes, the same folder twice is one.
TEST(MountInfo, WhichOfOverlappingMountsAreKept)
{
    const std::pair<const char *, std::vector<std::string>> cases[] = {
        {"1 0 0:30 / / rw - overlay overlay rw\n2 1 0:31 / /tmp rw - tmpfs tmpfs rw\n", {"/ overlay"}},
        {"1 0 254:0 / / rw - ext4 /dev/vda rw\n2 1 8:17 / /media/x rw - vfat /dev/sdb1 rw\n"
         "3 2 8:33 / /media/x rw - vfat /dev/sdc1 rw\n", {"/ /dev/vda", "/media/x /dev/sdc1"}},
        {"1 0 0:33 /@ / rw - btrfs /dev/sda2 rw\n2 1 0:33 /@home /home rw - btrfs /dev/sda2 rw\n"
         "3 1 0:33 /@home /mnt/again rw - btrfs /dev/sda2 rw\n", {"/ /dev/sda2", "/home /dev/sda2"}}};
    for (const auto &[table, want] : cases) {
        std::vector<std::string> got;
        for (const MountEntry &e : CatalogueMounts(ParseMountInfo(table)))
            got.push_back(e.mountPoint + " " + e.source);
        EXPECT_EQ(got, want) << table;
    }
}

// System folders match whole names: "/bootleg" is not inside "/boot"; ram devices are RAM disks.
TEST(MountInfo, Classes)
{
    const struct { const char *mountPoint, *source; MountClass want; } cases[] = {
        {"/boot", "/dev/sdb1", MountClass::Skip},       {"/boot/efi", "/dev/sdb1", MountClass::Skip},
        {"/bootleg", "/dev/sdb1", MountClass::Local},   {"/tmpdata", "/dev/sdb1", MountClass::Local},
        {"/run/media/x", "/dev/sdb1", MountClass::Local}, {"/data/scratch", "/dev/ram0", MountClass::Ram}};
    for (const auto &c : cases) {
        MountEntry e;
        e.mountPoint = c.mountPoint, e.fsType = "ext4", e.source = c.source;
        EXPECT_EQ(ClassifyMount(e), c.want) << c.mountPoint;
    }
}
