#pragma once
// Options for a volume service over a fake system that has only the root file
// system mounted (as c:), with its sys and dev folders in a test's folder.
#include "platform/VolumeSystem.h"
#include "support/TempDir.h"

namespace orbtest {

inline SystemVolumeOptions RootOnlyVolumeOptions(const TempDir &dir)
{
    SystemVolumeOptions o;
    o.mountInfoPath = dir.write("mountinfo", "1 0 254:0 / / rw - ext4 /dev/vda rw\n");
    o.sysRoot = dir.file("sys");
    o.devRoot = dir.file("dev");
    o.pollIntervalMs = 0;
    return o;
}

} // namespace orbtest
