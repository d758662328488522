#include "archive/untUnRar.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>

const char *const UnRarLibraryName = "libunrar.so";

namespace {

struct Binding {
    std::mutex lock;
    void *handle = nullptr;
    int references = 0;
    std::string path;
    TUnRarEntries entries;
};

Binding &TheBinding()
{
    static Binding binding;
    return binding;
}

template <typename T> void Bind(void *handle, const char *name, T &cell)
{
    cell = reinterpret_cast<T>(dlsym(handle, name));
}

} // namespace

bool TUnRarEntries::Complete() const
{
    return RAROpenArchive && RARCloseArchive && RARReadHeader && RARProcessFile && RARSetCallback &&
           RARSetPassword && RARGetDllVersion;
}

std::vector<std::string> UnRarSearchPaths()
{
    std::vector<std::string> paths;
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && exe.has_parent_path())
        paths.push_back((exe.parent_path() / UnRarLibraryName).string());
    paths.emplace_back(UnRarLibraryName);
    return paths;
}

const TUnRarEntries *UnRarAcquire()
{
    Binding &b = TheBinding();
    std::lock_guard<std::mutex> guard(b.lock);
    if (!b.handle) {
        for (const std::string &path : UnRarSearchPaths()) {
            // A path with a slash is opened as it stands; the bare name goes
            // through the system's search.
            if (path.find('/') != std::string::npos && !std::filesystem::exists(path))
                continue;
            void *h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!h)
                continue;
            TUnRarEntries e;
            Bind(h, "RAROpenArchive", e.RAROpenArchive);
            Bind(h, "RAROpenArchiveEx", e.RAROpenArchiveEx);
            Bind(h, "RARCloseArchive", e.RARCloseArchive);
            Bind(h, "RARReadHeader", e.RARReadHeader);
            Bind(h, "RARReadHeaderEx", e.RARReadHeaderEx);
            Bind(h, "RARProcessFile", e.RARProcessFile);
            Bind(h, "RARSetCallback", e.RARSetCallback);
            Bind(h, "RARSetChangeVolProc", e.RARSetChangeVolProc);
            Bind(h, "RARSetProcessDataProc", e.RARSetProcessDataProc);
            Bind(h, "RARSetPassword", e.RARSetPassword);
            Bind(h, "RARGetDllVersion", e.RARGetDllVersion);
            if (!e.Complete()) {
                dlclose(h);
                continue;
            }
            b.handle = h;
            b.entries = e;
            b.path = path;
            break;
        }
        if (!b.handle)
            return nullptr;
    }
    ++b.references;
    return &b.entries;
}

void UnRarRelease()
{
    Binding &b = TheBinding();
    std::lock_guard<std::mutex> guard(b.lock);
    if (b.references <= 0)
        return;
    if (--b.references > 0)
        return;
    dlclose(b.handle);
    b.handle = nullptr;
    b.entries = TUnRarEntries();
    b.path.clear();
}

bool UnRarLoaded()
{
    Binding &b = TheBinding();
    std::lock_guard<std::mutex> guard(b.lock);
    return b.handle != nullptr;
}

int UnRarReferences()
{
    Binding &b = TheBinding();
    std::lock_guard<std::mutex> guard(b.lock);
    return b.references;
}

std::string UnRarLoadedPath()
{
    Binding &b = TheBinding();
    std::lock_guard<std::mutex> guard(b.lock);
    return b.path;
}
