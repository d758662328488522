#pragma once
// Test fixtures for the archive readers: external tools run without a shell,
// independent listings from Python's zipfile and cabextract, and small
// archives built byte by byte where the tools cannot make what a test needs.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace orbtest {
class TempDir;
}

namespace ziptest {

// Runs a tool with its arguments in `workDir` and returns its standard output.
// A missing tool, a start failure or a non-zero exit throws std::runtime_error
// naming the tool, so that a test without its peer fails loudly.
std::string RunTool(const std::string &program, const std::vector<std::string> &args, const std::string &workDir);

// One member as Python's zipfile lists it.
struct PyEntry {
    std::string Name;        // '/' replaced by '\', as the lister gives it
    uint64_t Size = 0;
    double DateTime = 0;     // days since 30 December 1899
    uint32_t ExternalAttr = 0;
    bool IsDir = false;
};
struct PyListing {
    std::vector<PyEntry> Entries;
    std::string Comment;
};
PyListing PythonZipListing(const std::string &zipPath);

// Little-endian writers for hand-built archives; Le appends each value in
// the given number of bytes.
void Put16(std::string &s, uint16_t v);
void Put32(std::string &s, uint32_t v);
void Put64(std::string &s, uint64_t v);
void Le(std::string &s, std::initializer_list<std::pair<uint64_t, int>> fields);

// A zip archive of stored members, built by hand.
struct HandMember {
    std::string RawName;     // bytes as stored
    std::string Data;
    uint16_t Flags = 0;
    uint8_t MadeBy = 20;
    uint8_t Host = 3;
    uint16_t DosDate = 0x5A21; // 2025-01-01
    uint16_t DosTime = 0x6000; // 12:00:00
    std::string Extra;       // central directory extra field
};
std::string BuildZip(const std::vector<HandMember> &members, const std::string &comment = {});

// gcab's cabinet `name` in `t` of in/readme.txt ("read me\n"), in/sub/data.bin
// (`dataSize` bytes 'd') and in/sub/deeper/empty.txt, stored or compressed.
std::string MakeGcab(const orbtest::TempDir &t, const std::string &name, bool compress, size_t dataSize = 40000);

} // namespace ziptest
