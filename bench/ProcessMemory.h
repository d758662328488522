#pragma once
// This process's memory, in KiB: the peak resident size so far and the
// resident size now.
#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

namespace benchdata {

// The peak of this program image (VmHWM). getrusage's maximum is not used: it carries the
// peak of the process image an exec replaced, so a child forked from a large benchmark
// process and exec'd would report its parent's size.
inline long PeakRssKb()
{
    long kb = 0;
    if (FILE *f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmHWM: %ld", &kb) == 1)
                break;
        std::fclose(f);
    }
    if (kb == 0) {
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        kb = ru.ru_maxrss;
    }
    return kb;
}

inline long CurrentRssKb()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace benchdata
