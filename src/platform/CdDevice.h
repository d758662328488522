#pragma once
// The command interface of the machine's optical drives, as the audio-CD code
// and the volume service use it: SCSI commands through SG_IO (on a node of the
// SCSI generic driver or on the drive's block device), the CD-ROM ioctls, and
// what sysfs tells about the drives.
//
// One process-wide layer serves the program (CdDeviceLayer::Current). Tests put
// a made-up one in its place that answers with byte buffers, and the program
// can be started with a simulated drive (see SimulatedCdDeviceLayer), so no
// test needs a real drive.
#include "platform/CdToc.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The answer to one SCSI command.
struct CdScsiResult {
    int error = 0;               // errno of the call; 0 when the command reached the drive
    bool checkCondition = false; // the drive (or the adapter) reported a failure with sense data
    std::vector<uint8_t> data;   // what came back, at most the length asked for
    bool ok() const { return error == 0 && !checkCondition; }
};

// One node of the SCSI generic driver, or the SCSI address of a drive.
struct CdScsiDevice {
    std::string node;  // "/dev/sg1"
    int host = 0, channel = 0, target = 0, lun = 0;
    int type = -1;     // SCSI peripheral device type; 5 is a CD/DVD drive
    std::string block; // "/dev/sr0" when the kernel binds a block device to it
};

class CdDeviceLayer {
public:
    virtual ~CdDeviceLayer() = default;

    // The process-wide layer; the system's own unless one was installed.
    static CdDeviceLayer &Current();
    // Installs a layer (takes ownership); nullptr goes back to the system's.
    static void SetCurrent(std::unique_ptr<CdDeviceLayer> layer);

    // Names ("sr0", "sr1" ...) of the optical block devices; the system layer
    // lists them under sysRoot + "/block".
    virtual std::vector<std::string> OpticalDrives(const std::string &sysRoot) const = 0;
    // The nodes of the SCSI generic driver, ordered by host, channel, target
    // and unit; empty when the driver is not there.
    virtual std::vector<CdScsiDevice> GenericDevices() const = 0;
    // Number of SCSI host adapters; -1 when the SCSI generic driver is missing.
    virtual int ScsiHostCount() const = 0;
    // SCSI address of a drive's block device ("/dev/sr0").
    virtual bool ScsiAddress(const std::string &device, CdScsiDevice &address) const = 0;
    // Sends a 6- or 10-byte command for data in through SG_IO on `device`
    // (a generic node or a block device), asking for `length` bytes.
    virtual CdScsiResult Scsi(const std::string &device, const std::vector<uint8_t> &cdb, size_t length,
                              unsigned timeoutMs) const = 0;
    // CDROMREADTOCHDR: first and last track. False with errno in `error`.
    virtual bool TocHeader(const std::string &device, uint8_t &first, uint8_t &last, int &error) const = 0;
    // CDROMREADTOCENTRY in LBA form for a track (0xAA: the lead-out).
    virtual bool TocEntry(const std::string &device, uint8_t track, uint8_t &adrControl, uint32_t &lba,
                          int &error) const = 0;
    // Whether the device can be opened, holds a disc, and its table of contents.
    virtual OpticalDriveState Probe(const std::string &device) const = 0;
};

// The machine's own drives.
class SystemCdDeviceLayer : public CdDeviceLayer {
public:
    std::vector<std::string> OpticalDrives(const std::string &sysRoot) const override;
    std::vector<CdScsiDevice> GenericDevices() const override;
    int ScsiHostCount() const override;
    bool ScsiAddress(const std::string &device, CdScsiDevice &address) const override;
    CdScsiResult Scsi(const std::string &device, const std::vector<uint8_t> &cdb, size_t length,
                      unsigned timeoutMs) const override;
    bool TocHeader(const std::string &device, uint8_t &first, uint8_t &last, int &error) const override;
    bool TocEntry(const std::string &device, uint8_t track, uint8_t &adrControl, uint32_t &lba,
                  int &error) const override;
    OpticalDriveState Probe(const std::string &device) const override;
};

// A made-up drive: what it answers to each command, as bytes.
struct SimulatedCdDrive {
    std::string block = "/dev/sr0";
    std::string generic = "/dev/sg0"; // empty: no generic node
    int host = 0, channel = 0, target = 0, lun = 0;
    std::vector<uint8_t> inquiry;     // INQUIRY reply
    std::vector<uint8_t> toc;         // READ TOC reply in MSF form; empty: no disc
    int blockError = 0;               // errno of SG_IO on the block device (0: it answers)
    int genericError = 0;             // errno of SG_IO on the generic node
    bool ioctls = true;               // the CD-ROM ioctls answer from `toc`
};

// Drives that answer from byte buffers.
class SimulatedCdDeviceLayer : public CdDeviceLayer {
public:
    explicit SimulatedCdDeviceLayer(std::vector<SimulatedCdDrive> drives = {}, int hosts = 1)
        : drives_(std::move(drives)), hosts_(hosts)
    {
    }
    std::vector<SimulatedCdDrive> &Drives() { return drives_; }
    // Commands seen, as "device opcode" ("/dev/sr0 43").
    mutable std::vector<std::string> Log;

    std::vector<std::string> OpticalDrives(const std::string &sysRoot) const override;
    std::vector<CdScsiDevice> GenericDevices() const override;
    int ScsiHostCount() const override { return hosts_; }
    bool ScsiAddress(const std::string &device, CdScsiDevice &address) const override;
    CdScsiResult Scsi(const std::string &device, const std::vector<uint8_t> &cdb, size_t length,
                      unsigned timeoutMs) const override;
    bool TocHeader(const std::string &device, uint8_t &first, uint8_t &last, int &error) const override;
    bool TocEntry(const std::string &device, uint8_t track, uint8_t &adrControl, uint32_t &lba,
                  int &error) const override;
    OpticalDriveState Probe(const std::string &device) const override;

private:
    const SimulatedCdDrive *Find(const std::string &device, bool *generic = nullptr) const;
    std::vector<SimulatedCdDrive> drives_;
    int hosts_;
};

// Reads the table of contents through the layer's CDROMREADTOCHDR /
// CDROMREADTOCENTRY into the layout ParseCdToc reads (LBA addresses).
std::optional<std::vector<uint8_t>> ReadCdTocReply(const CdDeviceLayer &layer, const std::string &device,
                                                   std::string &error);

// INQUIRY reply of a drive with these identification texts (each padded
// with blanks to its field's width).
std::vector<uint8_t> MakeInquiryReply(const std::string &vendor, const std::string &product,
                                      const std::string &revision);

// A READ TOC reply in MSF form. `starts` are the track starts as
// minute/second/frame, all audio unless listed in `dataTracks` (indexes).
struct CdMsf {
    uint8_t minute = 0, second = 0, frame = 0;
};
std::vector<uint8_t> MakeMsfTocReply(uint8_t firstTrack, const std::vector<CdMsf> &starts, CdMsf leadOut,
                                     const std::vector<size_t> &dataTracks = {});

// A drive holding an audio CD described as "m:ss:ff m:ss:ff ... m:ss:ff":
// the start of each track, the last one the lead-out (2 to 100 times).
// nullopt with the reason in `error` for any other text.
std::optional<SimulatedCdDrive> SimulatedAudioCd(const std::string &description, std::string &error);
