#pragma once
// Fixtures of the main window's tests: a temporary data folder with English
// texts and a prompt double, and the same with empty file and disc tables of
// the catalogue layout that a test fills with records, saves as a catalogue
// and opens.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/CatalogTables.h"
#include "app/LangUnit.h"
#include "app/Main.h"
#include "platform/Prompt.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"

// Answers from a list of actions: each runs once (it may change the world
// first, as a user inserting a disc while a message box is up does) and gives
// its answer; past the list, Cancel.
class ActingPrompt : public Prompt {
public:
    std::vector<std::function<PromptResult()>> Actions;
    std::vector<PromptRequest> Asked;
    PromptResult Ask(const PromptRequest &request) override
    {
        Asked.push_back(request);
        if (Asked.size() > Actions.size())
            return PromptResult::Cancel;
        return Actions[Asked.size() - 1]();
    }
};

// The data folder "DiVovData" (with its CdNames folder) in a temporary
// folder; English while a test runs, the starting language after it.
template <class PromptT = ScriptedPrompt>
class DataFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangEnglish);
        data = dir.file("DiVovData");
        std::filesystem::create_directories(std::filesystem::path(data) / "CdNames");
    }
    void TearDown() override { langunit::SetCurrentLanguage(langunit::LangSlovak); }

    // Settings that open catalogue `catalog` at start.
    void Ini(const std::string &catalog)
    {
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup12=1\nSetup16=0\nSetup20=1\nSetup_Text4=" +
                                           catalog + "\n");
    }
    // Settings that open catalogue "Music" at start, and that catalogue,
    // empty.
    void EmptyMusicCatalog()
    {
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup6=1\nSetup20=1\nSetup_Text4=Music\n");
        OpenCatalogTable(data + "/Music.d", FileTableLayout(), {});
        OpenCatalogTable(data + "/CdNames/Music_cdname.d", DiscTableLayout(), {});
    }
    // The main window on the data folder, shown.
    std::unique_ptr<TMainForm> Open()
    {
        auto form = std::make_unique<TMainForm>(nullptr, data);
        form->FormShow();
        return form;
    }

    orbtest::TempDir dir;
    std::string data;
    PromptT prompt;
    PromptScope scope{prompt};
};

// Every folder and file of a real folder tree in name order, as a scan meets
// them: `take` gets each with its drive-based folder, trailing backslash
// included (with `drive` "e:", "e:\docs\" for what lies in root/docs).
inline void WalkScannedTree(const std::filesystem::path &root, const std::string &drive,
                            const std::function<void(const std::string &folder, const std::filesystem::path &entry)> &take)
{
    std::vector<std::filesystem::path> entries;
    for (const auto &e : std::filesystem::recursive_directory_iterator(root))
        entries.push_back(e.path());
    std::sort(entries.begin(), entries.end());
    for (const std::filesystem::path &p : entries) {
        std::string folder = drive + "\\";
        for (const auto &part : std::filesystem::relative(p.parent_path(), root))
            if (part != ".")
                folder += part.string() + "\\";
        take(folder, p);
    }
}

class MainFormTablesTest : public DataFolderTest<> {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        files.Name = "files";
        AddFieldDefs(files, FileTableLayout());
        files.Open();
        discs.Name = "discs";
        AddFieldDefs(discs, DiscTableLayout());
        discs.Open();
    }

    TFlatTable files, discs;
};
