// The worked examples in docs/ are the bytes the program writes. Each checked
// block of a page is named after its fence ("```hex empty-disc-table") and is
// compared with the file the program writes for the same case, so a change of
// format that leaves a page behind fails here.
#include <sstream>

#include "app/catalog/Settings.h"
#include "platform/VolumeLetters.h"
#include "util/FileCommit.h"

#include "app/DiscTestSupport.h"

using namespace disctest;

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

TEST(FileDocs, TablesOfTheTableAndCataloguePages)
{
    orbtest::TempDir dir;
    const std::string disc = dir.file("Music_cdname.d"), files = dir.file("Music.d");
    ASSERT_TRUE(OpenCatalogTable(disc, DiscTableLayout(), {}).created);
    ASSERT_TRUE(OpenCatalogTable(files, FileTableLayout(), {}).created);
    const std::string plain = orbtest::readFile(disc);
    ExpectHexBlock(Page("table-file.md"), "empty-disc-table", plain);
    ExpectHexBlock(Page("catalogue.md"), "empty-file-table", orbtest::readFile(files));
    {
        TOpenTableResult r = OpenCatalogTable(disc, DiscTableLayout(), {});
        AddRecord(*r.table, {{"CdName", "e: [PHOTOS]"}, {"Number", "1"}, {"CdSize", "650.31 mb"},
                             {"CdIdCode", "1234567890"}, {"CType", 3}});
        r.table->Save();
    }
    ExpectHexBlock(Page("table-file.md"), "disc-record", orbtest::readFile(disc));
    // An empty protected table is the plain one with the kind 'P' and the
    // 40-byte key block after the kind byte.
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

TEST(FileDocs, TreeAndSettingsFilesOfTheirPages)
{
    orbtest::TempDir dir;
    const std::string page = Page("tree-file.md");
    ASSERT_TRUE(WriteTreeFile(dir.file("empty.dat"), {}));
    ExpectHexBlock(page, "empty-tree", orbtest::readFile(dir.file("empty.dat")));
    const std::vector<TTreeRecord> nodes = {{0, "Holidays", 0, 1, NodeKindGroup},
                                            {1, "e: [PHOTOS]", 0, 1, NodeKindDisc},
                                            {2, "2019", 0, 1, NodeKindNone}};
    ASSERT_TRUE(WriteTreeFile(dir.file("three.dat"), nodes));
    const std::string bytes = orbtest::readFile(dir.file("three.dat"));
    ExpectHexBlock(page, "tree-example", bytes);
    std::vector<TTreeRecord> back;
    ASSERT_TRUE(DecodeTreeStream(bytes, back));
    EXPECT_EQ(back, nodes);

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
    ASSERT_FALSE(fs::exists("/no/such/folder"));
    const std::string told = TextBlock(page, "text", "letter-map-mistakes-told", "\n");
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(problem + "\n" + bad.FolderProblems() + "\n", told);
    EXPECT_EQ(bad.LetterOf("uuid:4A3B-1C2D"), 'd');
    EXPECT_EQ(bad.FolderBindings().at('t'), "/no/such/folder");
}

} // namespace

// The journal shown in table-file.md is one the program finishes: its names,
// its tabs and its checksum are the format's.
TEST(FileDocs, TheJournalShownIsFinishedByTheOpen)
{
    const std::vector<std::string> lines = Block(Page("table-file.md"), "text", "commit-journal");
    ASSERT_EQ(lines.size(), 7u);
    orbtest::TempDir dir;
    const std::string data = dir.file("data");
    std::string journal;
    for (const std::string &line : lines)
        journal += line + "\n";
    dir.write("data/" + std::string(CommitJournalName), journal);
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        const size_t tab = lines[i].find('\t');
        ASSERT_NE(tab, std::string::npos) << lines[i];
        dir.write("data/" + lines[i].substr(0, tab), "new " + lines[i].substr(tab + 1));
    }
    std::string error;
    ASSERT_TRUE(FinishFileCommitsFor(data + "/CdNames/Music_cdname.d", error)) << error;
    for (const char *target : {"Music.d", "Music.~d", "CdNames/Music_cdname.d", "CdNames/Music_cdname.~d",
                               "CdNames/Music_cdname.dat"})
        EXPECT_EQ(orbtest::readFile(data + "/" + target), std::string("new ") + target);
    EXPECT_FALSE(fs::exists(data + "/" + std::string(CommitJournalName)));
    EXPECT_FALSE(fs::exists(data + "/" + std::string(CommitJournalName) + ".damaged"));
}
