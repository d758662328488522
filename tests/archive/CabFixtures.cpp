#include "archive/CabFixtures.h"

#include "archive/ZipFixtures.h"

#include <sstream>
#include <stdexcept>

namespace cabtest {

std::vector<CabEntry> CabextractListing(const std::string &cabPath)
{
    // Rows look like "      1234 | 06.12.2026 17:00:44 | dir/name.txt".
    const std::string out = ziptest::RunTool("cabextract", {"-q", "-l", cabPath}, ".");
    std::vector<CabEntry> list;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const size_t bar1 = line.find(" | ");
        const size_t bar2 = bar1 == std::string::npos ? bar1 : line.find(" | ", bar1 + 3);
        if (bar2 == std::string::npos)
            continue;
        const std::string size = line.substr(0, bar1);
        if (size.find_first_not_of(' ') == std::string::npos ||
            size.find_first_not_of(" 0123456789") != std::string::npos)
            continue;
        CabEntry e;
        e.Size = std::stoull(size);
        int d = 0, mo = 0, y = 0, h = 0, mi = 0, s = 0;
        if (std::sscanf(line.c_str() + bar1 + 3, "%d.%d.%d %d:%d:%d", &d, &mo, &y, &h, &mi, &s) == 6) {
            // Days from the civil date, then to the 1899-12-30 epoch.
            const int yy = mo <= 2 ? y - 1 : y;
            const int era = yy / 400, yoe = yy - era * 400, mp = (mo + 9) % 12;
            const int doe = yoe * 365 + yoe / 4 - yoe / 100 + (153 * mp + 2) / 5 + d - 1;
            e.DateTime = era * 146097.0 + doe - 719468 + 25569 + (h * 3600 + mi * 60 + s) / 86400.0;
        }
        e.Name = line.substr(bar2 + 3);
        for (char &c : e.Name)
            if (c == '/')
                c = '\\';
        list.push_back(e);
    }
    return list;
}

std::string BuildCab(const std::vector<HandFile> &files, uint16_t folders)
{
    const uint32_t firstFile = 36 + 8u * folders; // the header, then the folder records
    std::string records;
    for (const auto &f : files) {
        ziptest::Le(records, {{f.Size, 4}, {0, 4}, {f.Folder, 2}, {f.Date, 2}, {f.Time, 2}, {f.Attribs, 2}});
        records += f.Name + '\0';
    }
    const uint32_t dataStart = firstFile + static_cast<uint32_t>(records.size());
    std::string out = "MSCF";
    ziptest::Le(out, {{0, 4}, {dataStart, 4}, {0, 4}, {firstFile, 4}, {0, 4}, {3, 1}, {1, 1}, {folders, 2},
                      {files.size(), 2}, {0, 2}, {0x1234, 2}, {0, 2}});
    for (uint16_t i = 0; i < folders; ++i)
        ziptest::Le(out, {{dataStart, 4}, {0, 2}, {0, 2}}); // no data blocks, stored
    return out + records;
}

} // namespace cabtest
