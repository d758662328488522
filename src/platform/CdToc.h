#pragma once
// The table of contents of a disc in an optical drive, read through the Linux
// CD-ROM ioctls, and what the volume service makes of it for an audio CD: the
// track files of its root and its serial number.
#include "platform/VolumeService.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct CdTocTrack {
    uint8_t number = 0;  // 1..99
    uint8_t control = 0; // bit 2 set: data track
    uint32_t lba = 0;    // start sector
    bool audio() const { return (control & 0x04) == 0; }
};

struct CdTocInfo {
    uint8_t firstTrack = 0;
    uint8_t lastTrack = 0;
    std::vector<CdTocTrack> tracks; // in disc order
    uint32_t leadOutLba = 0;        // first sector after the last track
    bool hasAudio() const;
};

// Parses a READ TOC reply of format 0 (the layout the drive itself returns:
// 2-byte big-endian data length, first and last track, then 8-byte track
// descriptors ending with the lead-out, track 0xAA). `msf` tells whether the
// addresses are minute/second/frame or logical sectors. Every length is
// checked; nullopt with a message in `error` for a malformed reply.
std::optional<CdTocInfo> ParseCdToc(const std::vector<uint8_t> &reply, bool msf, std::string &error);

// Track files of an audio CD's root: Track01.cda .. TrackNN.cda, one per audio
// track named by its track number, each the 44-byte file the system has always
// shown, read-only, with the given time.
std::vector<VolumeEntry> AudioCdRootEntries(const CdTocInfo &toc, uint64_t fileTime);

// Size of the audio CD volume in bytes: its sectors up to the lead-out at 2352
// bytes of sound each.
uint64_t AudioCdTotalBytes(const CdTocInfo &toc);

// Serial number of an audio CD, computed from the track start addresses as the
// system has always done, so catalogues made before keep matching.
uint32_t AudioCdSerial(const CdTocInfo &toc);

// State of one optical drive, from its device opened without blocking.
struct OpticalDriveState {
    bool opened = false;      // false: no such device or no permission
    bool discPresent = false;
    std::vector<uint8_t> toc; // READ TOC reply (LBA addresses); empty without a readable TOC
};
OpticalDriveState ProbeOpticalDrive(const std::string &device);

// Reads one entry of the table of contents (track 0xAA: the lead-out): the
// ADR/control byte and the start sector; false when it cannot be read.
using CdTocEntryReader = std::function<bool(uint8_t track, uint8_t &adrControl, uint32_t &lba)>;

// The READ TOC reply (LBA addresses) that ParseCdToc reads, built from the
// track range of the header and the entries `entry` reads; nullopt with a
// message in `error` for a bad range or an entry that cannot be read.
std::optional<std::vector<uint8_t>> MakeLbaTocReply(uint8_t first, uint8_t last, const CdTocEntryReader &entry,
                                                    std::string &error);

// Reads the TOC through CDROMREADTOCHDR / CDROMREADTOCENTRY into the layout
// ParseCdToc reads (LBA addresses).
std::optional<std::vector<uint8_t>> ReadCdTocReply(int fd, std::string &error);
