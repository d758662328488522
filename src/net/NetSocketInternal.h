// What the socket component's own files share and nothing outside them uses.
#pragma once

#include "net/NetSocket.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// A name lookup running on its own thread; the component keeps the one it waits for.
struct TLookupJob {
    std::mutex M;
    TMsgWindow *Target = nullptr; // cleared under M when the reply is no longer wanted
    uint64_t Id = 0;
    int Error = 0;
    std::vector<std::string> Results;
};

namespace netsocket {
// Sets the last socket error from errno and returns it.
int SetLastFromErrno();
} // namespace netsocket
