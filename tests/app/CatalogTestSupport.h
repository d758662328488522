#pragma once
// A temporary data folder with real catalogue files, a scripted prompt and a
// scripted dialog runner, for the tests of the catalogue commands.
#include "app/DiscTestSupport.h"

namespace cattest {

namespace fs = std::filesystem;

struct FileSpec {
    std::string disc;
    std::string name;
    std::string size = "0";
    int attrib = 0;
    int type = 1;
};

class CatalogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangEnglish);
        data = dir.file("DiVovData");
        fs::create_directories(fs::path(data) / "CdNames");
    }
    void TearDown() override
    {
        TMainForm::RunModal = nullptr;
        TMainForm::RunOpenDialog = nullptr;
        langunit::SetCurrentLanguage(langunit::LangSlovak);
    }
    void WriteIni(const std::string &ini) { dir.write("DiVovData/cat.ini", ini); }

    // Catalogue `name` in `folder` with the given discs (one file each).
    static void MakeCatalogIn(const std::string &folder, const std::string &name,
                              const std::vector<std::string> &discs, const std::string &password = std::string())
    {
        std::vector<FileSpec> files;
        for (const std::string &d : discs)
            files.push_back({d, "file.txt"});
        MakeCatalogFiles(folder, name, discs, files, password);
    }
    static void MakeCatalogFiles(const std::string &folder, const std::string &name,
                                 const std::vector<std::string> &discs, const std::vector<FileSpec> &files,
                                 const std::string &password = std::string())
    {
        fs::create_directories(fs::path(folder) / "CdNames");
        TFlatTable f;
        AddFieldDefs(f, FileTableLayout());
        f.Open();
        for (const FileSpec &s : files)
            disctest::AddRecord(f, {{"Path", "e:\\"}, {"Name", s.name}, {"Namecd", s.disc}, {"Number", "7"},
                                    {"Size", s.size}, {"Attrib", s.attrib}, {"Type", s.type},
                                    {"CreateDate", "01.02.2003 04:05"}, {"LastChange", "06.07.2008 09:10"}});
        if (!password.empty())
            f.SetPassword(password);
        f.SaveToFile(folder + "/" + name + ".d");
        TFlatTable d;
        AddFieldDefs(d, DiscTableLayout());
        d.Open();
        for (size_t i = 0; i < discs.size(); ++i)
            disctest::AddRecord(d, {{"CdName", discs[i]}, {"Number", std::to_string(i + 1)},
                                    {"CdSize", std::to_string(i + 1) + "00 mb"}});
        d.SaveToFile(folder + "/CdNames/" + name + "_cdname.d");
    }
    void MakeCatalog(const std::string &name, const std::vector<std::string> &discs)
    {
        MakeCatalogIn(data, name, discs);
    }
    // The names of the files of a folder, sorted.
    static std::vector<std::string> FilesOf(const std::string &folder)
    {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::vector<std::string> TextsAsked(const ScriptedPrompt &p)
    {
        std::vector<std::string> texts;
        for (const PromptRequest &r : p.Asked())
            texts.push_back(r.text.toStdString());
        return texts;
    }

    orbtest::TempDir dir;
    std::string data;
    ScriptedPrompt prompt;
    PromptScope scope{prompt};
};

} // namespace cattest
