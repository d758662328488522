#pragma once
// A temporary data folder with empty file and disc tables of the catalogue
// layout, English texts and a scripted prompt: what the tests of the main
// window fill with records, save as a catalogue and open.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/CatalogTables.h"
#include "app/LangUnit.h"
#include "platform/Prompt.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"

class MainFormTablesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangEnglish);
        data = dir.file("DiVovData");
        std::filesystem::create_directories(std::filesystem::path(data) / "CdNames");
        files.Name = "files";
        AddFieldDefs(files, FileTableLayout());
        files.Open();
        discs.Name = "discs";
        AddFieldDefs(discs, DiscTableLayout());
        discs.Open();
    }
    void TearDown() override { langunit::SetCurrentLanguage(langunit::LangSlovak); }

    orbtest::TempDir dir;
    std::string data;
    TFlatTable files, discs;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
};
