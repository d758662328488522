#include "platform/CdToc.h"

#include <gtest/gtest.h>

namespace {

struct Track { uint8_t number, control; uint32_t lba; };

// A READ TOC reply with LBA addresses; the lead-out is track 0xAA.
std::vector<uint8_t> Reply(uint8_t first, uint8_t last, std::vector<Track> tracks)
{
    std::vector<uint8_t> r = {0, 0, first, last};
    for (auto t : tracks) {
        uint8_t d[8] = {0, uint8_t(0x10 | t.control), t.number, 0, uint8_t(t.lba >> 24), uint8_t(t.lba >> 16),
                        uint8_t(t.lba >> 8), uint8_t(t.lba)};
        r.insert(r.end(), d, d + 8);
    }
    r[0] = uint8_t((r.size() - 2) >> 8), r[1] = uint8_t(r.size() - 2);
    return r;
}

std::vector<uint8_t> ThreeAudioTracks()
{
    return Reply(1, 3, {{1, 0, 0}, {2, 0, 15000}, {3, 0, 30000}, {0xAA, 0, 45000}});
}

} // namespace

// Addresses given as LBA are read by the other cases; here the minute/second/frame form.
TEST(CdToc, ParsesMinuteSecondFrameAddresses)
{
    std::string error;
    // 00:02:00 is sector 0; 03:20:15 is (200 * 75 + 15) - 150.
    std::vector<uint8_t> r = {0, 18, 1, 1, 0, 0x10, 1, 0, 0, 0, 2, 0, 0, 0x10, 0xAA, 0, 0, 3, 20, 15};
    auto toc = ParseCdToc(r, true, error);
    ASSERT_TRUE(toc) << error;
    EXPECT_EQ(toc->tracks[0].lba, 0u);
    EXPECT_EQ(toc->leadOutLba, 200u * 75 + 15 - 150);
    r[19] = 75; // frame out of range
    EXPECT_FALSE(ParseCdToc(r, true, error));
}

TEST(CdToc, ListsAudioTracksAsTrackFiles)
{
    std::string error;
    // A mixed disc: data track 1, audio tracks 2 and 10 (numbers name the files).
    auto toc = ParseCdToc(Reply(1, 10, {{1, 4, 0}, {2, 0, 9000}, {10, 0, 20000}, {0xAA, 0, 30000}}), false, error);
    ASSERT_TRUE(toc) << error;
    auto entries = AudioCdRootEntries(*toc, 123456789);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "Track02.cda");
    EXPECT_EQ(entries[1].name, "Track10.cda");
    for (auto &e : entries) {
        EXPECT_EQ(e.size, 44u);
        EXPECT_FALSE(e.isDirectory);
        EXPECT_EQ(e.attributes, uint32_t(FILE_ATTR_READONLY));
        EXPECT_EQ(e.lastWriteTime, 123456789u);
    }
}

TEST(CdToc, RejectsEveryTruncation)
{
    auto full = ThreeAudioTracks();
    std::string error;
    for (size_t n = 0; n < full.size(); ++n) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + long(n));
        EXPECT_FALSE(ParseCdToc(cut, false, error)) << "length " << n;
    }
    // A length field claiming more than the reply holds.
    full[1] += 8;
    EXPECT_FALSE(ParseCdToc(full, false, error));
}

TEST(CdToc, SurvivesEveryCorruptedByte)
{
    // Whatever a drive returns, parsing either fails cleanly or gives a table
    // whose tracks are in order and end before the lead-out.
    auto good = ThreeAudioTracks();
    std::string error;
    for (bool msf : {false, true})
        for (size_t i = 0; i < good.size(); ++i)
            for (int value : {0x00, 0x01, 0x3B, 0x4A, 0x7F, 0xAA, 0xFF}) {
                auto bad = good;
                bad[i] = uint8_t(value);
                auto toc = ParseCdToc(bad, msf, error);
                if (!toc)
                    continue;
                ASSERT_FALSE(toc->tracks.empty());
                for (size_t t = 1; t < toc->tracks.size(); ++t)
                    ASSERT_LT(toc->tracks[t - 1].number, toc->tracks[t].number);
                ASSERT_GE(toc->leadOutLba, toc->tracks.back().lba);
                ASSERT_LE(AudioCdRootEntries(*toc, 0).size(), 99u);
            }
}

TEST(CdToc, RejectsInconsistentTables)
{
    std::string error;
    // A length that is not whole descriptors.
    auto ragged = ThreeAudioTracks();
    ragged.push_back(0);
    ragged[1] += 1;
    // No lead-out; tracks out of order, outside the range, after the lead-out; the lead-out before the last
    // track; a bad track range in the header.
    for (const auto &r : {Reply(1, 2, {{1, 0, 0}, {2, 0, 100}}), Reply(1, 2, {{2, 0, 0}, {1, 0, 100}, {0xAA, 0, 200}}),
                          Reply(1, 2, {{1, 0, 0}, {5, 0, 100}, {0xAA, 0, 200}}),
                          Reply(1, 1, {{1, 0, 0}, {0xAA, 0, 200}, {1, 0, 300}}), Reply(1, 1, {{1, 0, 500}, {0xAA, 0, 200}}),
                          Reply(0, 1, {{1, 0, 0}, {0xAA, 0, 200}}), Reply(3, 2, {{1, 0, 0}, {0xAA, 0, 200}}), ragged}) {
        error.clear();
        EXPECT_FALSE(ParseCdToc(r, false, error)) << r.size();
        EXPECT_FALSE(error.empty());
    }
}

// Three tracks or more, and the total size, are asserted by the audio CD volume case.
TEST(CdToc, AudioSerialOfFewerThanThreeTracksAddsThePlayingLength)
{
    std::string error;
    // Track starts 00:02:00 and 03:22:00, then the playing length in frames.
    auto two = ParseCdToc(Reply(1, 2, {{1, 0, 0}, {2, 0, 15000}, {0xAA, 0, 45000}}), false, error);
    ASSERT_TRUE(two);
    EXPECT_EQ(AudioCdSerial(*two), ((0u << 16) | (2u << 8)) + ((3u << 16) | (22u << 8)) + 45000u);
}

TEST(CdToc, ProbingSomethingThatIsNoDriveFindsNoDisc)
{
    EXPECT_FALSE(ProbeOpticalDrive("/nonexistent/sr9").opened);
    auto notDrive = ProbeOpticalDrive("/dev/null");
    EXPECT_TRUE(notDrive.opened);
    EXPECT_FALSE(notDrive.discPresent);
    EXPECT_TRUE(notDrive.toc.empty());
}
