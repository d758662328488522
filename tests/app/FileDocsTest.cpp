// The worked examples in docs/ are the bytes the program writes. Each checked
// block of a page is named after its fence ("```hex empty-disc-table") and is
// compared with the file the program writes for the same case, so a change of
// format that leaves a page behind fails here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/CatalogTables.h"
#include "app/Settings.h"
#include "app/TreeFile.h"
#include "platform/VolumeLetters.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"

namespace {

std::string Page(const std::string &name)
{
    return orbtest::readFile(std::string(ORB_SOURCE_DIR) + "/docs/" + name);
}

// The lines of the fenced block that opens with "```<kind> <id>"; empty when
// the page has no such block.
std::vector<std::string> Block(const std::string &page, const std::string &kind, const std::string &id)
{
    std::vector<std::string> lines;
    std::istringstream in(page);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!inside) {
            inside = line == "```" + kind + " " + id;
            continue;
        }
        if (line.rfind("```", 0) == 0)
            return lines;
        lines.push_back(line);
    }
    return {};
}

// Checks a hex block against `bytes`. Each line is "OOOO  hh hh ... | note":
// the offset of its first byte, the bytes, and after "|" what they mean. A line
// "..." leaves out bytes the page shows elsewhere. The block must cover the
// file to its last byte, with every offset right.
void ExpectHexBlock(const std::string &page, const std::string &id, const std::string &bytes)
{
    SCOPED_TRACE("block " + id);
    const std::vector<std::string> lines = Block(page, "hex", id);
    ASSERT_FALSE(lines.empty()) << "no block";
    size_t pos = 0;
    bool skipped = false;
    for (const std::string &line : lines) {
        SCOPED_TRACE(line);
        if (line == "...") {
            skipped = true;
            continue;
        }
        std::istringstream words(line.substr(0, line.find('|')));
        std::string word;
        ASSERT_TRUE(words >> word);
        char *end = nullptr;
        const size_t offset = std::strtoul(word.c_str(), &end, 16);
        ASSERT_TRUE(word.size() == 4 && *end == '\0') << "the line does not begin with a 4-digit offset";
        if (skipped)
            ASSERT_GE(offset, pos);
        else
            ASSERT_EQ(offset, pos) << "offset does not follow the line before";
        skipped = false;
        std::string shown;
        while (words >> word) {
            ASSERT_EQ(word.size(), 2u) << word;
            shown += char(std::strtoul(word.c_str(), &end, 16));
            ASSERT_EQ(*end, '\0') << word;
        }
        ASSERT_FALSE(shown.empty());
        ASSERT_LE(offset + shown.size(), bytes.size()) << "past the end of the file";
        EXPECT_EQ(shown, bytes.substr(offset, shown.size())) << "bytes differ";
        pos = offset + shown.size();
    }
    EXPECT_FALSE(skipped);
    EXPECT_EQ(pos, bytes.size()) << "the block stops before the end of the file";
}

// A text block: its lines, each ended by `lineEnd`.
std::string TextBlock(const std::string &page, const std::string &kind, const std::string &id,
                      const std::string &lineEnd)
{
    std::string text;
    for (const std::string &line : Block(page, kind, id))
        text += line + lineEnd;
    return text;
}

std::string EmptyDiscTable(const orbtest::TempDir &dir)
{
    const std::string file = dir.file("Music_cdname.d");
    EXPECT_TRUE(OpenCatalogTable(file, DiscTableLayout(), {}).created);
    return file;
}

TEST(FileDocs, EmptyTableOfTheTableFormatPage)
{
    orbtest::TempDir dir;
    ExpectHexBlock(Page("table-file.md"), "empty-disc-table", orbtest::readFile(EmptyDiscTable(dir)));
}

TEST(FileDocs, RecordOfTheTableFormatPage)
{
    orbtest::TempDir dir;
    const std::string file = EmptyDiscTable(dir);
    {
        TOpenTableResult r = OpenCatalogTable(file, DiscTableLayout(), {});
        TFlatTable &t = *r.table;
        t.Append();
        t.FieldByName("CdName").SetAsString("e: [PHOTOS]");
        t.FieldByName("Number").SetAsString("1");
        t.FieldByName("CdSize").SetAsString("650.31 mb");
        t.FieldByName("CdIdCode").SetAsString("1234567890");
        t.FieldByName("CType").SetAsInteger(3);
        t.Post();
        t.Save();
    }
    ExpectHexBlock(Page("table-file.md"), "disc-record", orbtest::readFile(file));
}

// The page says an empty protected table is the plain one with the kind 'P'
// and the 40-byte key block after the kind byte.
TEST(FileDocs, ProtectedEmptyTableIsThePlainOneWithAKeyBlock)
{
    orbtest::TempDir dir;
    const std::string plain = orbtest::readFile(EmptyDiscTable(dir));
    TFlatTable t;
    t.SetLoadMode(lmClear);
    AddFieldDefs(t, DiscTableLayout());
    t.Open();
    t.SetPassword("secret");
    t.SaveToFile(dir.file("Locked_cdname.d"));
    const std::string locked = orbtest::readFile(dir.file("Locked_cdname.d"));
    ASSERT_EQ(locked.size(), plain.size() + 40);
    EXPECT_EQ(locked[4], 'P');
    EXPECT_EQ(uint8_t(locked[0]), plain.size() + 40); // the length, low byte (below 256 here)
    EXPECT_EQ(locked.substr(45), plain.substr(5));
}

TEST(FileDocs, EmptyFileTableOfTheCataloguePage)
{
    orbtest::TempDir dir;
    const std::string file = dir.file("Music.d");
    ASSERT_TRUE(OpenCatalogTable(file, FileTableLayout(), {}).created);
    ExpectHexBlock(Page("catalogue.md"), "empty-file-table", orbtest::readFile(file));
}

TEST(FileDocs, TreeFilesOfTheTreePage)
{
    orbtest::TempDir dir;
    const std::string page = Page("tree-file.md");
    ASSERT_TRUE(WriteTreeFile(dir.file("empty.dat"), {}));
    ExpectHexBlock(page, "empty-tree", orbtest::readFile(dir.file("empty.dat")));
    const std::vector<TTreeRecord> nodes = {
        {0, "Holidays", 0, 1, NodeKindGroup},
        {1, "e: [PHOTOS]", 0, 1, NodeKindDisc},
        {2, "2019", 0, 1, NodeKindNone},
    };
    ASSERT_TRUE(WriteTreeFile(dir.file("three.dat"), nodes));
    const std::string bytes = orbtest::readFile(dir.file("three.dat"));
    ExpectHexBlock(page, "tree-example", bytes);
    std::vector<TTreeRecord> back;
    ASSERT_TRUE(DecodeTreeStream(bytes, back));
    EXPECT_EQ(back, nodes);
}

TEST(FileDocs, DefaultSettingsFileOfTheSettingsPage)
{
    orbtest::TempDir dir;
    TSettings s;
    ApplyDefaultSettings(s);
    ASSERT_TRUE(WriteSettingsFile(dir.file("cat.ini"), s));
    const std::string shown = TextBlock(Page("settings.md"), "ini", "default-settings", "\r\n");
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown, orbtest::readFile(dir.file("cat.ini")));
}

TEST(FileDocs, LetterMapsOfTheDriveLetterPage)
{
    orbtest::TempDir dir;
    const std::string page = Page("drive-letters.md");

    VolumeLetterMap fresh;
    std::string problem;
    fresh.Parse("", problem);
    fresh.AddHeaderComment();
    ASSERT_TRUE(fresh.Save(dir.file("driveletters.map"), problem));
    const std::string empty = TextBlock(page, "text", "new-letter-map", "\n");
    ASSERT_FALSE(empty.empty());
    EXPECT_EQ(empty, orbtest::readFile(dir.file("driveletters.map")));

    bool changed = false;
    fresh.Assign({"uuid:4A3B-1C2D", "optical:/dev/sr0"}, changed);
    EXPECT_EQ(TextBlock(page, "text", "letter-map-two-volumes", "\n"), fresh.Text());

    VolumeLetterMap bad;
    bad.Parse(TextBlock(page, "text", "letter-map-with-mistakes", "\n"), problem);
    // The missing folder is the example's last line, so its mistake comes last.
    ASSERT_FALSE(std::filesystem::exists("/no/such/folder"));
    const std::string told = TextBlock(page, "text", "letter-map-mistakes-told", "\n");
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(problem + "\n" + bad.FolderProblems() + "\n", told);
    EXPECT_EQ(bad.LetterOf("uuid:4A3B-1C2D"), 'd');
    EXPECT_EQ(bad.FolderBindings().at('t'), "/no/such/folder");
}

} // namespace
