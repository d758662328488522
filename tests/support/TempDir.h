#pragma once
// A temporary folder for one test, removed with everything in it afterwards.
#include <filesystem>
#include <string>

namespace orbtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::string str() const { return path_.string(); }
    // Path of a file inside the folder.
    std::string file(const std::string &name) const { return (path_ / name).string(); }
    // Writes bytes to a file inside the folder (creating parent folders) and returns its path.
    std::string write(const std::string &name, const std::string &bytes) const;

private:
    std::filesystem::path path_;
};

// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::string &path);

} // namespace orbtest
