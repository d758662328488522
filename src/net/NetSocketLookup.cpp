// Name lookups: host names and addresses resolved on a worker thread and answered through the hidden window.
#include "net/NetSocket.h"
#include "net/NetSocketInternal.h"

#include <atomic>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

static std::atomic<uint64_t> gLookupId{0};

void TCustomNetSocket::StartLookup(const std::string &Name, bool Reverse, unsigned Msg)
{
    auto job = std::make_shared<TLookupJob>();
    job->Target = FWindow;
    job->Id = ++gLookupId;
    FLookup = job;
    std::thread([job, Name, Reverse, Msg]() {
        int err = 0;
        std::vector<std::string> results;
        if (!Reverse) {
            std::vector<uint32_t> addrs;
            err = NetSocketResolveName(Name, addrs);
            for (uint32_t a : addrs)
                results.push_back(NetInetNtoa(a));
            if (err == 0 && results.empty())
                err = WSANO_DATA;
        } else {
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_addr.s_addr = NetInetAddr(Name);
            char host[1025];
            int rc = getnameinfo(reinterpret_cast<sockaddr *>(&sa), sizeof sa, host, sizeof host, nullptr, 0,
                                 NI_NAMEREQD);
            if (rc != 0)
                err = NetSocketErrorFromResolver(rc);
            else
                results.emplace_back(host);
        }
        std::lock_guard<std::mutex> lock(job->M);
        job->Error = err;
        job->Results = std::move(results);
        if (job->Target)
            job->Target->PostMessage(Msg, job->Id, err);
    }).detach();
}

void TCustomNetSocket::DnsLookup(const std::string &HostName)
{
    if (HostName.empty()) {
        RaiseException("DNS lookup: invalid host name.");
        TriggerDNSLookupDone(WSAEINVAL);
        return;
    }
    if (FLookup)
        CancelDnsLookup();
    FDnsResult.clear();
    FDnsResultList.clear();
    if (NetSocketIsDottedIP(HostName)) {
        uint32_t a = NetInetAddr(HostName);
        if (a != 0xffffffffu || NetTrim(HostName) == "255.255.255.255") {
            FDnsResult = NetTrim(HostName);
            FDnsResultList.push_back(FDnsResult);
            TriggerDNSLookupDone(0);
            return;
        }
    }
    if (HostName.size() >= 256) {
        WSASetLastError(WSAEINVAL);
        RaiseException(HostName + ": can't start DNS lookup, error #" + std::to_string(WSAEINVAL));
        return;
    }
    StartLookup(HostName, false, WM_USER + 2);
}

void TCustomNetSocket::ReverseDnsLookup(const std::string &HostAddr)
{
    if (HostAddr.empty() || HostAddr.size() >= 257) {
        RaiseException("ReverseDnsLookup: Invalid host name.");
        TriggerDNSLookupDone(WSAEINVAL);
        return;
    }
    if (FLookup)
        CancelDnsLookup();
    FDnsResult.clear();
    FDnsResultList.clear();
    if (NetInetAddr(HostAddr) == 0xffffffffu && NetTrim(HostAddr) != "255.255.255.255") {
        WSASetLastError(WSAEINVAL);
        RaiseException(HostAddr + ": can't start DNS lookup, error #" + std::to_string(WSAEINVAL));
        return;
    }
    StartLookup(NetTrim(HostAddr), true, WM_USER + 3);
}

void TCustomNetSocket::CancelDnsLookup()
{
    if (!FLookup)
        return;
    {
        std::lock_guard<std::mutex> lock(FLookup->M);
        FLookup->Target = nullptr;
    }
    FLookup.reset();
    if (!FDestroying)
        TriggerDNSLookupDone(WSAEINTR);
}
