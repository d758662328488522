#pragma once
// What the tests of the RAR listing library share: the binding, listing and
// processing an archive through the C entries, the callbacks they answer with,
// and the sample archives.
#include "archive/RarWriter.h"
#include "archive/untUnRar.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// Designated initializers leave the fields not named at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace rarlibtest
{

using namespace rartest;
using Strings = std::vector<std::string>;

class Api
{
public:
    Api() : e_(UnRarAcquire()) {}
    ~Api()
    {
        if (e_)
            UnRarRelease();
    }
    const TUnRarEntries *operator->() const { return e_; }
    explicit operator bool() const { return e_ != nullptr; }

private:
    const TUnRarEntries *e_;
};

inline std::vector<char> CStr(const std::string &s)
{
    std::vector<char> v(s.begin(), s.end());
    v.push_back(0);
    return v;
}

struct Listing {
    unsigned openResult = 0, cmtState = 0, arcFlags = 0;
    std::string comment;
    Strings names;
    std::vector<RARHeaderDataEx> h;
    int last = 0; // the result that ended the loop
};

inline Listing List(const Api &api, const std::string &path, unsigned mode = RAR_OM_LIST,
                    UNRARCALLBACK cb = nullptr, LPARAM user = 0, unsigned cmtBufSize = 1024)
{
    Listing out;
    std::vector<char> name = CStr(path), cmt(cmtBufSize + 1, 0);
    RAROpenArchiveDataEx d{};
    d.ArcName = name.data();
    d.OpenMode = mode;
    d.CmtBuf = cmt.data();
    d.CmtBufSize = cmtBufSize;
    d.Callback = cb;
    d.UserData = user;
    HANDLE h = api->RAROpenArchiveEx(&d);
    out.openResult = d.OpenResult;
    out.cmtState = d.CmtState;
    out.arcFlags = d.Flags;
    if (d.CmtState == 1 || d.CmtState == ERAR_SMALL_BUF)
        out.comment = std::string(cmt.data(), strnlen(cmt.data(), cmtBufSize));
    if (!h)
        return out;
    auto hd = std::make_unique<RARHeaderDataEx>();
    for (;;) {
        std::memset(hd.get(), 0, sizeof *hd);
        if ((out.last = api->RARReadHeaderEx(h, hd.get())) != ERAR_SUCCESS)
            break;
        out.names.push_back(hd->FileName);
        out.h.push_back(*hd);
        if ((out.last = api->RARProcessFile(h, RAR_SKIP, nullptr, nullptr)) != ERAR_SUCCESS)
            break;
    }
    api->RARCloseArchive(h);
    return out;
}

inline uint64_t Size(uint32_t low, uint32_t high)
{
    return uint64_t(low) | uint64_t(high) << 32;
}

inline std::vector<Rar4Member> Sample4()
{
    return {Rar4Member{.name = "docs", .directory = true, .attr = 0x10},
            Rar4Member{.name = "docs\\readme.txt", .data = "hello, catalogue\n", .window = 3, .attr = 0x21},
            Rar4Member{.name = "empty.bin", .host = 3, .attr = 0x81A4, .unpVer = 20}};
}

inline std::vector<Rar5Member> Sample5()
{
    return {Rar5Member{.name = "pics", .directory = true, .attr = 0x10},
            Rar5Member{.name = "pics/Žltý kôň.jpg",
                       .data = std::string(3000, 'x'),
                       .host = 1,
                       .attr = 0644,
                       .dictCode = 5},
            Rar5Member{.name = "notes.txt", .data = "note", .mtime = std::nullopt}};
}

// An archive opened through the plain entry, closed with the object.
struct Plain {
    Plain(const Api &a, const std::string &path, unsigned mode = RAR_OM_LIST) : api(a), name(CStr(path))
    {
        d.ArcName = name.data();
        d.OpenMode = mode;
        h = api->RAROpenArchive(&d);
    }
    ~Plain()
    {
        if (h)
            api->RARCloseArchive(h);
    }
    const Api &api;
    std::vector<char> name;
    RAROpenArchiveData d{};
    HANDLE h = nullptr;
};

struct DataLog {
    std::string data;
    bool stop = false;
};

inline int DataCallback(UINT msg, LPARAM user, LPARAM p1, LPARAM p2)
{
    auto *log = reinterpret_cast<DataLog *>(user);
    if (msg == UCM_PROCESSDATA) {
        log->data.append(reinterpret_cast<const char *>(p1), size_t(p2));
        return log->stop ? -1 : 1;
    }
    return msg == UCM_CHANGEVOLUME ? 1 : 0;
}

// Opens `path` for extraction and runs `operation` on every member; the results in order.
inline std::vector<int> ProcessAll(const Api &api, const std::string &path, int operation,
                                   const std::string &dest, DataLog *log = nullptr)
{
    std::vector<int> results;
    std::vector<char> destPath = CStr(dest);
    Plain a(api, path, RAR_OM_EXTRACT);
    if (!a.h)
        return {int(a.d.OpenResult)};
    if (log)
        api->RARSetCallback(a.h, DataCallback, LPARAM(log));
    RARHeaderData hd{};
    while (api->RARReadHeader(a.h, &hd) == 0)
        results.push_back(api->RARProcessFile(a.h, operation, destPath.data(), nullptr));
    return results;
}

struct VolumeLog {
    std::vector<std::pair<std::string, int>> calls;
    std::string replacement; // named when asked; empty declines
};

inline int VolumeCallback(UINT msg, LPARAM user, LPARAM p1, LPARAM p2)
{
    auto *log = reinterpret_cast<VolumeLog *>(user);
    if (msg != UCM_CHANGEVOLUME)
        return 0;
    log->calls.emplace_back(reinterpret_cast<char *>(p1), int(p2));
    if (p2 == RAR_VOL_ASK) {
        if (log->replacement.empty())
            return -1;
        std::strcpy(reinterpret_cast<char *>(p1), log->replacement.c_str());
    }
    return 1;
}

inline const Rar4Options kFirst4{
    .volume = true, .newNumbering = true, .firstVolume = true, .nextVolume = true};
inline const Rar4Options kNext4{.volume = true, .newNumbering = true};
inline const Rar4Member kSplit1{.name = "movie.avi", .data = "0123456789", .splitAfter = true};

// Two volumes; "movie.avi" runs from the first into the second.
inline void WriteVolumes4(const orbtest::TempDir &dir, const std::string &first, const std::string &second)
{
    dir.write(first, WriteRar4({{.name = "a.txt", .data = "first"}, kSplit1}, kFirst4));
    dir.write(second, WriteRar4({{.name = "movie.avi",
                                  .data = "ABCDEFGHIJ",
                                  .splitBefore = true,
                                  .crc = TestCrc32("0123456789ABCDEFGHIJ")},
                                 {.name = "b.txt", .data = "second"}},
                                kNext4));
}

inline std::string Sample(size_t size)
{
    std::string s;
    for (size_t i = 0; s.size() < size; ++i)
        s += "line " + std::to_string(i) + " of the packed member\n";
    s.resize(size);
    return s;
}

// What bsdtar extracts of `member` from `path` (its own RAR decoders).
inline std::string BsdtarExtract(const std::string &path, const std::string &member)
{
    std::string out;
    FILE *p = popen(("LC_ALL=C.UTF-8 bsdtar -xOf '" + path + "' '" + member + "' 2>/dev/null").c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    pclose(p);
    return out;
}

inline Rar4Member Packed4(const std::string &name, const std::string &text)
{
    return {.name = name,
            .data = PackLiterals29(text),
            .method = 0x33,
            .unpSize = text.size(),
            .crc = TestCrc32(text)};
}

inline Rar5Member Packed5(const std::string &name, const std::string &text)
{
    return {.name = name,
            .data = PackLiterals50(text),
            .method = 3,
            .unpSize = text.size(),
            .crc = TestCrc32(text)};
}

class RarLib : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(api); }
    Api api;
    orbtest::TempDir dir;
};

struct PasswordLog {
    std::string given; // empty: refuse
    int asked = 0;
};

inline int PasswordCallback(UINT msg, LPARAM user, LPARAM p1, LPARAM p2)
{
    auto *log = reinterpret_cast<PasswordLog *>(user);
    if (msg == UCM_CHANGEVOLUME)
        return 1;
    if (msg != UCM_NEEDPASSWORD)
        return 0;
    ++log->asked;
    if (log->given.empty() || log->given.size() >= size_t(p2))
        return -1;
    std::strcpy(reinterpret_cast<char *>(p1), log->given.c_str());
    return 1;
}

inline Strings Names(const std::vector<Rar4Member> &m)
{
    Strings out;
    for (const auto &x : m) {
        std::string n = x.name;
        std::replace(n.begin(), n.end(), '\\', '/');
        out.push_back(n);
    }
    return out;
}

inline Strings Names(const std::vector<Rar5Member> &m)
{
    Strings out;
    for (const auto &x : m)
        out.push_back(x.name);
    return out;
}

} // namespace rarlibtest
