#pragma once
// The scan of a folder of archives: drive e: (label "ARCH") bound to the
// folder, and a main window whose scan table takes the records of disc
// "e: [arch]", number 1.
#include <memory>
#include <string>
#include <vector>

#include "app/Main.h"
#include "platform/VolumeService.h"
#include "storage/ExMemDS.h"

inline std::unique_ptr<TMainForm> OpenArchiveScanForm(const std::string &data, const std::string &disc)
{
    VolumeInfo v;
    v.letter = 'e';
    v.type = DRIVE_FIXED;
    v.ready = true;
    v.label = "ARCH";
    v.mountPoint = disc;
    v.totalBytes = 1 << 20;
    VolumeService::SetCurrent(std::make_unique<FixedVolumeService>(std::vector<VolumeInfo>{v}));
    auto form = std::make_unique<TMainForm>(nullptr, data);
    form->ExMemoryData1->Open();
    form->Scan.DiscName = "e: [arch]";
    form->Scan.DiscNumber = "1";
    return form;
}
