#pragma once
// This process's memory, in KiB: the peak resident size so far and the
// resident size now.
#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

namespace benchdata {

inline long PeakRssKb()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
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
