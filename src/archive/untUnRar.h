#pragma once
// Run-time binding of the RAR listing library ("libunrar.so").
//
// The library is looked up beside the executable first (the build puts every
// binary and shared library in one folder), then through the system's library
// path, so a library the user installed under the same name works as well as
// ours. The binding is process-wide and reference-counted: every user calls
// UnRarAcquire() once and UnRarRelease() once when it is done; the library is
// unloaded, and every entry cleared, only when the last user lets go.
#include "archive/rarlib/RarApi.h"

#include <string>
#include <vector>

// The library's file name on this system.
extern const char *const UnRarLibraryName;

// The entry cells of the library. The extended open and header entries and the
// volume and data callbacks are looked up too; a library without them still
// binds, and users fall back to the plain entries.
struct TUnRarEntries {
    decltype(&::RAROpenArchive) RAROpenArchive = nullptr;
    decltype(&::RAROpenArchiveEx) RAROpenArchiveEx = nullptr;
    decltype(&::RARCloseArchive) RARCloseArchive = nullptr;
    decltype(&::RARReadHeader) RARReadHeader = nullptr;
    decltype(&::RARReadHeaderEx) RARReadHeaderEx = nullptr;
    decltype(&::RARProcessFile) RARProcessFile = nullptr;
    decltype(&::RARSetCallback) RARSetCallback = nullptr;
    decltype(&::RARSetChangeVolProc) RARSetChangeVolProc = nullptr;
    decltype(&::RARSetProcessDataProc) RARSetProcessDataProc = nullptr;
    decltype(&::RARSetPassword) RARSetPassword = nullptr;
    decltype(&::RARGetDllVersion) RARGetDllVersion = nullptr;

    // True when every entry the listing calls is present.
    bool Complete() const;
};

// The places tried in order: beside the executable, then the bare name for the
// system's search.
std::vector<std::string> UnRarSearchPaths();

// Takes a reference on the library, loading it on first use. Returns the entry
// cells when the library is loaded (the caller then owes one UnRarRelease()),
// or nullptr when no usable library was found (nothing is owed).
const TUnRarEntries *UnRarAcquire();
// Drops a reference taken by a successful UnRarAcquire().
void UnRarRelease();

// The process-wide "loaded" flag, the number of references held, and the path
// the library was loaded from (empty when not loaded).
bool UnRarLoaded();
int UnRarReferences();
std::string UnRarLoadedPath();
