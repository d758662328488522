#pragma once
// The user's special folders, from the XDG user folders of the desktop.
#include <string>

// Shell folder identifiers understood by GetSpecialFolderPath.
constexpr int kFolderDesktop = 0;
constexpr int kFolderPersonal = 5;

// The user's desktop (0) or documents (5) folder from the XDG user folders,
// without a trailing separator; empty for any other identifier or when no home
// folder is known.
std::string GetSpecialFolderPath(int folderId);
std::string GetDesktopFolder();
std::string GetPersonalFolder();

