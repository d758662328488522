// The drive inventory and the table of contents through made-up drives that
// answer with byte buffers: the SCSI generic path, the pass-through path and
// its ioctl fallback, and every kind of bad answer.
#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

#include "cdaudio/AspiCD.h"
#include "cdaudio/Cddb.h"
#include "net/NetTestUtil.h"
#include "platform/CdDevice.h"
#include "platform/VolumeService.h"
#include "platform/VolumeSystem.h"
#include "support/TempDir.h"

namespace {

VolumeInfo Volume(char letter, int type)
{
    VolumeInfo v;
    v.letter = letter;
    v.type = type;
    v.ready = true;
    v.label = type == DRIVE_CDROM ? "Audio CD" : "";
    v.device = type == DRIVE_CDROM ? "/dev/sr0" : "";
    v.mountPoint = type == DRIVE_CDROM ? "" : "/";
    return v;
}

// The example disc: tracks at 0:02:00 and 3:10:00, lead-out at 6:00:00.
SimulatedCdDrive ExampleDrive()
{
    SimulatedCdDrive d;
    d.host = 1;
    d.target = 2;
    d.lun = 0;
    d.inquiry = MakeInquiryReply("VENDOR", "CD-ROM DRIVE", "1.02");
    d.toc = MakeMsfTocReply(1, {{0, 2, 0}, {3, 10, 0}}, {6, 0, 0});
    return d;
}

class CdDriveTest : public ::testing::Test {
protected:
    void Install(std::vector<SimulatedCdDrive> drives, int hosts = 1)
    {
        auto layer = std::make_unique<SimulatedCdDeviceLayer>(std::move(drives), hosts);
        sim = layer.get();
        CdDeviceLayer::SetCurrent(std::move(layer));
    }
    void SetUp() override
    {
        VolumeService::SetCurrent(
            std::make_unique<FixedVolumeService>(std::vector<VolumeInfo>{Volume('c', DRIVE_FIXED), Volume('e', DRIVE_CDROM)}));
        Install({ExampleDrive()});
        CdInterfaceAvailable(); // as the component does first: the pass-through is this system's path
        saved = CdUserMessage;
        CdUserMessage = [this](const std::string &text, const std::string &caption) {
            messages.push_back(caption + ": " + text);
        };
    }
    void TearDown() override
    {
        CdUserMessage = saved;
        CdDeviceLayer::SetCurrent(nullptr);
        VolumeService::SetCurrent(nullptr);
    }
    SimulatedCdDrive &Drive() { return sim->Drives()[0]; }
    // Reads drive 0 through `iface` after listing the drives.
    bool Read(TCDInterface iface, CdToc &toc)
    {
        CdDriveList list;
        GetCDList(list, iface);
        return ReadTOC(list, 0, toc, iface);
    }

    SimulatedCdDeviceLayer *sim = nullptr;
    std::vector<std::string> messages;
    std::function<void(const std::string &, const std::string &)> saved;
};

} // namespace

TEST_F(CdDriveTest, ListsDrivesOnBothPaths)
{
    CdDriveList list;
    ASSERT_TRUE(GetCDList(list, cdiAutoDetect));
    ASSERT_EQ(list.Count, 1);
    const CdDriveInfo &d = list.Drives[0];
    EXPECT_EQ(std::tie(d.DriveLetter, d.Vendor, d.ProductId, d.Revision, d.Description),
              std::tuple('e', "VENDOR  ", "CD-ROM DRIVE    ", "1.02", "VENDOR  CD-ROM DRIVE    1.02"));
    EXPECT_EQ(std::tuple(+d.HaId, +d.Target), std::tuple(1, 2));

    // The generic path finds the drive by its SCSI address; the letter is
    // that of its block device, in upper case.
    CdDriveList generic;
    ASSERT_TRUE(GetCDList(generic, cdiASPI));
    ASSERT_EQ(generic.Count, 1);
    EXPECT_EQ(generic.Drives[0].DriveLetter, 'E');
    EXPECT_EQ(generic.Drives[0].Description, d.Description);
    EXPECT_NE(std::find(sim->Log.begin(), sim->Log.end(), "/dev/sg0 12"), sim->Log.end());
}

TEST_F(CdDriveTest, NoUsablePathRaisesItsText)
{
    Install({ExampleDrive()}, -1); // no SCSI generic driver
    CdDriveList list;
    EXPECT_EQ(nettest::Raised<std::runtime_error>([&] { GetCDList(list, cdiASPI); }),
              "No usable interface available or selected interface not available");
    list.Count = 1;
    EXPECT_EQ(nettest::Raised<std::runtime_error>([&] { GetDriveInfo(0, list, cdiASPI); }),
              "No usable interface available");
    CdToc toc;
    EXPECT_THROW(ReadTOC(list, 0, toc, cdiASPI), std::runtime_error);
    // The automatic choice still has the pass-through.
    EXPECT_TRUE(GetCDList(list, cdiAutoDetect));
}

TEST_F(CdDriveTest, UnidentifiedDriveStaysListedByItsRoot)
{
    Drive().blockError = EIO;
    CdDriveList list;
    ASSERT_TRUE(GetCDList(list, cdiAutoDetect));
    ASSERT_EQ(list.Count, 1);
    EXPECT_EQ(list.Drives[0].Description, "e:\\");
    // A short INQUIRY answer leaves the missing fields empty.
    Drive().blockError = 0;
    Drive().inquiry.resize(20);
    ASSERT_TRUE(GetCDList(list, cdiAutoDetect));
    EXPECT_EQ(list.Drives[0].Vendor, "VENDOR  ");
    EXPECT_EQ(list.Drives[0].ProductId, "CD-R");
    EXPECT_EQ(list.Drives[0].Revision, "");
}

TEST_F(CdDriveTest, ReadsTheExampleDiscOnEveryPath)
{
    for (TCDInterface iface : {cdiAutoDetect, cdiASPI, cdiNTSCSI}) {
        SCOPED_TRACE(iface);
        CdToc toc;
        ASSERT_FALSE(Read(iface, toc));
        ASSERT_EQ(toc.TrackCount, 2);
        const TocEntry &a = toc.Tracks[0], &b = toc.Tracks[1], &end = toc.LeadOut;
        EXPECT_EQ(
            std::tuple(+a.Minute, +a.Second, +b.Minute, +b.Second, +a.IsAudio, +end.Minute, +end.IsAudio),
            std::tuple(0, 2, 3, 10, -1, 6, 0));
        EXPECT_EQ(CddbDiscId(toc), 0x0c016602u);
    }
    // Without the block device's SCSI path, the ioctls give the same table.
    Drive().blockError = EIO;
    CdToc toc;
    ASSERT_FALSE(Read(cdiNTSCSI, toc));
    EXPECT_EQ(toc.TrackCount, 2);
    EXPECT_EQ(CddbDiscId(toc), 0x0c016602u);
    EXPECT_TRUE(messages.empty());
}

// Each table through both paths: the track count, the minute of the last
// track and of the lead-out, and which tracks are audio.
TEST_F(CdDriveTest, TablesOfContents)
{
    std::vector<uint8_t> mixed = MakeMsfTocReply(1, {{0, 2, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, {5, 0, 0}, {3});
    mixed[4 + 8 * 1 + 1] |= 0x01; // pre-emphasis
    mixed[4 + 8 * 2 + 1] |= 0x02; // copy permitted
    const struct {
        const char *what;
        std::vector<uint8_t> reply;
        bool none;
        int count, lastMinute, leadOutMinute;
        std::vector<int> audio;
    } cases[] = {
        {"first track 3 counts the tracks present",
         MakeMsfTocReply(3, {{0, 2, 0}, {2, 0, 0}, {4, 0, 0}}, {6, 0, 0}), false, 3, 4, 6, {-1, -1, -1}},
        {"data and audio tracks", mixed, false, 4, 3, 5, {-1, -1, -1, 0}},
    };
    for (const auto &c : cases)
        for (TCDInterface iface : {cdiASPI, cdiNTSCSI}) {
            SCOPED_TRACE(std::string(c.what) + " " + std::to_string(iface));
            Drive().toc = c.reply;
            CdToc toc;
            ASSERT_EQ(Read(iface, toc), c.none);
            ASSERT_EQ(toc.TrackCount, c.count);
            EXPECT_EQ(toc.Tracks[c.count - 1].Minute, c.lastMinute);
            EXPECT_EQ(toc.LeadOut.Minute, c.leadOutMinute);
            for (int i = 0; i < c.count; ++i)
                EXPECT_EQ(toc.Tracks[i].IsAudio, c.audio[static_cast<size_t>(i)]) << i;
        }
    // An empty drive: no disc; the ioctls still give the lead-out as one track.
    Drive().toc.clear();
    CdToc toc;
    EXPECT_TRUE(Read(cdiNTSCSI, toc));
    EXPECT_EQ(toc.TrackCount, 1);
    EXPECT_EQ(toc.Tracks[0].Minute, 0);
    EXPECT_EQ(toc.LeadOut.Minute, 0);
    EXPECT_TRUE(Read(cdiASPI, toc));
    EXPECT_EQ(toc.TrackCount, 0);
}

TEST_F(CdDriveTest, PermissionNoticeThenIoctls)
{
    Drive().blockError = EACCES;
    CdToc toc;
    ASSERT_FALSE(Read(cdiNTSCSI, toc));
    EXPECT_EQ(toc.TrackCount, 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("falling back to IOCTL"), std::string::npos);
    ASSERT_FALSE(Read(cdiNTSCSI, toc));
    EXPECT_EQ(messages.size(), 1u) << "the notice comes once";

    messages.clear();
    Drive().blockError = ENODEV;
    ASSERT_FALSE(Read(cdiNTSCSI, toc));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Error: IO Error: " + std::to_string(ENODEV) + "\n\r");

    messages.clear();
    Drive().blockError = ENOMEM;
    ASSERT_FALSE(Read(cdiNTSCSI, toc));
    EXPECT_TRUE(messages.empty());
}

// Every truncation and every corrupted byte of the header and of the
// descriptors gives a table that fits its reply or "no disc", never a read
// past the reply.
TEST_F(CdDriveTest, ShortAndGarbageAnswers)
{
    const std::vector<uint8_t> good = MakeMsfTocReply(1, {{0, 2, 0}, {3, 10, 0}, {4, 0, 0}}, {6, 0, 0});
    auto check = [&](const std::vector<uint8_t> &reply) {
        for (TCDInterface iface : {cdiASPI, cdiNTSCSI}) {
            Drive().toc = reply;
            Drive().ioctls = false;
            CdToc toc;
            const bool none = Read(iface, toc);
            ASSERT_GE(toc.TrackCount, 0);
            ASSERT_LE(toc.TrackCount, MaxTocTracks);
            if (!none) {
                ASSERT_GE(reply.size(), 4u + 8u * static_cast<size_t>(toc.TrackCount + 1));
            }
        }
    };
    for (size_t n = 0; n < good.size(); ++n)
        check(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(n)));
    for (size_t i = 0; i < good.size(); ++i)
        for (uint8_t v : {uint8_t(0), uint8_t(1), uint8_t(0x63), uint8_t(0xAA), uint8_t(0xFF)}) {
            std::vector<uint8_t> bad = good;
            bad[i] = v;
            check(bad);
        }
    // A header claiming 99 tracks over a reply holding three: the tracks
    // present count.
    std::vector<uint8_t> claim = good;
    claim[3] = 99;
    Drive().toc = claim;
    CdToc toc;
    EXPECT_FALSE(Read(cdiASPI, toc));
    EXPECT_EQ(toc.TrackCount, 3);
    // A data length beyond the reply is no table at all.
    claim = good;
    claim[1] = 0xF0;
    Drive().toc = claim;
    EXPECT_TRUE(Read(cdiASPI, toc));
    EXPECT_EQ(toc.TrackCount, 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(CdDriveTest, AtMost26Drives)
{
    std::vector<SimulatedCdDrive> drives;
    for (int i = 0; i < 30; ++i) {
        drives.push_back(ExampleDrive());
        drives.back().block = "/dev/sr" + std::to_string(i);
        drives.back().generic = "/dev/sg" + std::to_string(i);
        drives.back().target = i;
    }
    Install(drives);
    CdDriveList list;
    GetCDList(list, cdiASPI);
    EXPECT_EQ(list.Count, MaxCdDrives);
}

TEST(SimulatedAudioCd, DescriptionRules)
{
    std::string error;
    auto d = SimulatedAudioCd("0:02:00 3:10:00 6:00:00", error);
    ASSERT_TRUE(d) << error;
    EXPECT_EQ(d->toc, MakeMsfTocReply(1, {{0, 2, 0}, {3, 10, 0}}, {6, 0, 0}));
    for (const char *bad : {"", "0:02:00", "0:02:00 x", "0:02:00 1:60:00", "0:02:00 1:00:75", "0:01:00 1:00:00",
                            "0:02:00 0:02:00", "3:00:00 1:00:00", "0:02:00 1:00:00junk"})
        EXPECT_FALSE(SimulatedAudioCd(bad, error)) << bad;
    std::string many;
    for (int i = 0; i < 101; ++i)
        many += std::to_string(i + 1) + ":00:00 ";
    EXPECT_FALSE(SimulatedAudioCd(many, error));
}

// The volume service presents the simulated drive's disc as an audio CD.
TEST(SimulatedAudioCd, UnderTheVolumeService)
{
    orbtest::TempDir dir;
    std::string error;
    auto drive = SimulatedAudioCd("0:02:00 3:10:00 5:00:00 6:00:00", error);
    ASSERT_TRUE(drive);
    CdDeviceLayer::SetCurrent(std::make_unique<SimulatedCdDeviceLayer>(std::vector<SimulatedCdDrive>{*drive}));
    SystemVolumeOptions o;
    o.mountInfoPath = dir.write("mountinfo", "");
    o.sysRoot = dir.file("sys");
    o.devRoot = "/dev";
    o.pollIntervalMs = 0;
    {
        SystemVolumeService volumes(o);
        const auto drives = volumes.Drives();
        auto it = std::find_if(drives.begin(), drives.end(), [](const VolumeInfo &v) { return v.audioCd(); });
        ASSERT_NE(it, drives.end());
        EXPECT_EQ(it->label, "Audio CD");
        EXPECT_EQ(it->device, "/dev/sr0");
        ASSERT_EQ(it->virtualRoot.size(), 3u);
        EXPECT_EQ(it->virtualRoot[2].name, "Track03.cda");
    }
    CdDeviceLayer::SetCurrent(nullptr);
}

// The machine's own layer on things that are no drive: errors, never data.
TEST(SystemCdDeviceLayer, NoDriveBehindThePath)
{
    SystemCdDeviceLayer layer;
    CdScsiResult r = layer.Scsi("/nonexistent/sr9", InquiryCommand(), 100, 2000);
    EXPECT_EQ(r.error, ENOENT);
    EXPECT_TRUE(r.data.empty());
    r = layer.Scsi("/dev/null", InquiryCommand(), 100, 2000);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(layer.Scsi("/dev/null", {}, 100, 2000).error, EINVAL);
    uint8_t first = 0, last = 0;
    int error = 0;
    EXPECT_FALSE(layer.TocHeader("/dev/null", first, last, error));
    EXPECT_NE(error, 0);
    std::string why;
    EXPECT_FALSE(ReadCdTocReply(layer, "/nonexistent/sr9", why));
    EXPECT_FALSE(layer.Probe("/nonexistent/sr9").opened);
    CdScsiDevice address;
    EXPECT_FALSE(layer.ScsiAddress("/dev/nonexistent-sr", address));
}
