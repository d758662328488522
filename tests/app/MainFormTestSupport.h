#pragma once
// Fixtures of the main window's tests: a temporary data folder with English texts and a prompt
// double, catalogue records written as the engine stores them, short ways to look at the window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/browse/FileListView.h"
#include "app/catalog/CatalogTables.h"
#include "app/search/SearchListView.h"
#include "platform/Prompt.h"
#include "storage/FlatTbl.h"
#include "support/TempDir.h"
#include "ui_MainForm.h"
#include "widgets/StatusBarCont.h"

// Answers from a list of actions: each runs once (it may change the world first, as a user
// inserting a disc while a message box is up does) and gives its answer; past the list, Cancel.
class ActingPrompt : public Prompt {
public:
    std::vector<std::function<PromptResult()>> Actions;
    std::vector<PromptRequest> Asked;
    PromptResult Ask(const PromptRequest &request) override
    {
        Asked.push_back(request);
        return Asked.size() > Actions.size() ? PromptResult::Cancel : Actions[Asked.size() - 1]();
    }
};

// The data folder "DiVovData" (with its CdNames folder) in a temporary folder; English while a
// test runs, the starting language after it.
template <class PromptT = ScriptedPrompt>
class DataFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        langunit::SetCurrentLanguage(langunit::LangEnglish);
        data = dir.file("DiVovData");
        std::filesystem::create_directories(std::filesystem::path(data) / "CdNames");
    }
    void TearDown() override
    {
        TMainForm::RunModal = nullptr;
        langunit::SetCurrentLanguage(langunit::LangSlovak);
    }
    // Settings that open catalogue `catalog` at start.
    void Ini(const std::string &catalog)
    {
        dir.write("DiVovData/cat.ini",
                  "[CatalogSettings]\nSetup1=0\nSetup12=1\nSetup16=0\nSetup20=1\nSetup_Text4=" + catalog + "\n");
    }
    // Settings that open catalogue "Music" at start, and that catalogue, empty.
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
    // The same on screen as the active window, so that its lists take the focus.
    std::unique_ptr<TMainForm> OpenActive()
    {
        auto form = std::make_unique<TMainForm>(nullptr, data);
        form->show();
        QApplication::setActiveWindow(form.get());
        QApplication::processEvents();
        return form;
    }

    orbtest::TempDir dir;
    std::string data;
    PromptT prompt;
    PromptScope scope{prompt};
};

// Every folder and file of a real folder tree in name order, as a scan meets them: `take` gets
// each with its drive-based folder, trailing backslash included ("e:\docs\" for root/docs).
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

// A field of a record: text, or a whole number for the integer fields.
struct FieldValue {
    FieldValue(const char *n, std::string v) : name(n), text(std::move(v)) {}
    FieldValue(const char *n, const char *v) : name(n), text(v) {}
    FieldValue(const char *n, int v) : name(n), number(v), isNumber(true) {}
    const char *name;
    std::string text;
    int number = 0;
    bool isNumber = false;
};

inline void AppendRecord(TFlatTable &t, std::initializer_list<FieldValue> values)
{
    t.Append();
    for (const FieldValue &v : values)
        v.isNumber ? t.FieldByName(v.name).SetAsInteger(v.number) : t.FieldByName(v.name).SetAsString(v.text);
    t.Post();
}

// Field `field` of the first record whose `keyField` is `key` (and `keyField2` `key2`) in the
// table file `path`, as stored on disc; "<missing>" without such a record.
inline std::string StoredField(const std::string &path, const char *keyField, const std::string &key,
                               const char *field, const char *keyField2 = nullptr, const std::string &key2 = {})
{
    TFlatTable t;
    t.SetTableName(path);
    t.Open();
    for (t.First(); !t.Eof(); t.Next())
        if (t.FieldByName(keyField).AsString() == key && (!keyField2 || t.FieldByName(keyField2).AsString() == key2))
            return t.FieldByName(field).AsString();
    return "<missing>";
}

// The file list's row named `name`, -1 without one.
inline int ListRowOf(TMainForm &form, const std::string &name)
{
    const auto &rows = form.ui->LinksListView->Model()->Rows();
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].Name == name)
            return int(i);
    return -1;
}

inline std::vector<std::string> ListNamesOf(TMainForm &form)
{
    std::vector<std::string> out;
    for (const TFileRow &r : form.ui->LinksListView->Model()->Rows())
        out.push_back(r.Name);
    return out;
}

// Opens `disc` as a click on its tree node does.
inline void OpenDisc(TMainForm &form, const std::string &disc)
{
    ASSERT_GE(form.SelectTreeNodeByText(disc), 0);
    form.TreeView1Click();
}

inline QString StatusText(TMainForm &form, int panel) { return form.ui->StatusBar1->Panel(panel).Text; }

// A key pressed and released on `w`.
inline void SendKey(QWidget *w, int key, bool press = true, bool release = true)
{
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier), up(QEvent::KeyRelease, key, Qt::NoModifier);
    if (press)
        QApplication::sendEvent(w, &down);
    if (release)
        QApplication::sendEvent(w, &up);
}

class MainFormTablesTest : public DataFolderTest<> {
protected:
    void SetUp() override
    {
        DataFolderTest::SetUp();
        for (auto [table, name, layout] : {std::tuple{&files, "files", FileTableLayout()},
                                           std::tuple{&discs, "discs", DiscTableLayout()}}) {
            table->Name = name;
            AddFieldDefs(*table, layout);
            table->Open();
        }
    }
    // Both tables saved as catalogue "Cat", opened at start with `ini` added.
    void SaveCat(const std::string &ini)
    {
        files.SaveToFile(data + "/Cat.d");
        discs.SaveToFile(data + "/CdNames/Cat_cdname.d");
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup20=1\nSetup_Text4=Cat\n" + ini);
    }

    TFlatTable files, discs;
};
