#pragma once
// This process's memory, in KiB: the peak resident size so far and the
// resident size now.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
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

// The memory one piece of work takes in a fresh copy of this benchmark program (exec'd,
// so nothing of the parent counts). The parent calls FreshChildMemoryKb with the
// child's settings as environment variables; the child's main finds `fdVariable` set
// and calls ReportChildMemory. `kb` gets the child's resident KiB before the work and
// its peak; false when the child gave none.
inline bool FreshChildMemoryKb(const char *fdVariable, const std::vector<std::pair<std::string, std::string>> &env,
                               long kb[2])
{
    kb[0] = kb[1] = 0;
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        ::setenv(fdVariable, std::to_string(fds[1]).c_str(), 1);
        for (const auto &[name, value] : env)
            ::setenv(name.c_str(), value.c_str(), 1);
        execl("/proc/self/exe", "peak", nullptr);
        _exit(1);
    }
    close(fds[1]);
    const bool got = pid > 0 && read(fds[0], kb, 2 * sizeof(long)) == ssize_t(2 * sizeof(long));
    close(fds[0]);
    int status = 0;
    if (pid > 0)
        waitpid(pid, &status, 0);
    return got;
}

// The child's side: runs `work` and writes the two figures to the pipe `fd` names. With
// `residentAfter`, the first figure is the resident size once the work is done (what a
// running program holds) instead of the one before it.
template <class Work>
int ReportChildMemory(const char *fd, Work &&work, bool residentAfter = false)
{
    long kb[2] = {CurrentRssKb(), 0};
    work();
    if (residentAfter)
        kb[0] = CurrentRssKb();
    kb[1] = PeakRssKb();
    return write(std::atoi(fd), kb, sizeof kb) == ssize_t(sizeof kb) ? 0 : 1;
}

} // namespace benchdata
