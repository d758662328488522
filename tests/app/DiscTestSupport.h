#pragma once
// Catalogues written to real files for the disc and catalogue tests, read back
// from disk, and a way to make a folder unwritable even for a test run as root.
#include <gtest/gtest.h>

#include <QDir>
#include <QTreeWidget>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "app/LangUnit.h"
#include "app/Main.h"
#include "app/catalog/CatalogTables.h"
#include "app/catalog/TreeFile.h"
#include "platform/Prompt.h"
#include "storage/FlatTbl.h"
#include "support/ObeyPermissions.h"
#include "support/TempDir.h"
#include "util/BaseFileUtils.h"

namespace disctest {

namespace fs = std::filesystem;

using TObeyPermissions = orbtest::TObeyPermissions;
using Names = std::vector<std::string>;

// A folder read-only for its lifetime.
class TReadOnlyFolder {
public:
    explicit TReadOnlyFolder(std::string folder) : folder_(std::move(folder)) { ::chmod(folder_.c_str(), 0555); }
    ~TReadOnlyFolder() { ::chmod(folder_.c_str(), 0755); }

private:
    std::string folder_;
};

// For its lifetime the file helpers take the process as started a little
// from now, as a later start of the program would: every file written so far
// is older than the process. The real start is put back at the end, also
// when a check ends the test early.
class TLaterStart {
public:
    TLaterStart() { SetProcessStartForTests(std::chrono::system_clock::now() + std::chrono::seconds(5)); }
    ~TLaterStart() { SetProcessStartForTests(started_); }
    TLaterStart(const TLaterStart &) = delete;
    TLaterStart &operator=(const TLaterStart &) = delete;

private:
    // The process's start as the file helpers took it (this header is read
    // before any test runs).
    static inline const std::chrono::system_clock::time_point started_ = std::chrono::system_clock::now();
};

// Appends one record with the given field values.
inline void AddRecord(TFlatTable &t, std::initializer_list<std::pair<const char *, TVariant>> values)
{
    t.Append();
    for (const auto &[name, value] : values)
        if (const auto *i = std::get_if<std::int64_t>(&value))
            t.FieldByName(name).SetAsInteger(static_cast<std::int32_t>(*i));
        else
            t.FieldByName(name).SetValue(value);
    t.Post();
}

// Every file of a folder tree with its bytes.
inline std::map<std::string, std::string> Snapshot(const std::string &folder)
{
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); it != fs::recursive_directory_iterator(); ++it)
        out[fs::relative(it->path(), folder).string()] =
            it->is_regular_file() ? orbtest::readFile(it->path().string()) : std::string("<dir>");
    return out;
}

struct TDiscSpec {
    std::string name;
    std::string number;
    std::string note;
    std::string serial;
    int kind = 0;
    std::string picture; // bytes of CdPicture
    int files = 3;       // file records made for it
    bool operator==(const TDiscSpec &) const = default;
};

// A catalogue of discs built in memory and written to its files.
struct TCatalogBuilder {
    TFlatTable files, discs;
    std::vector<TTreeRecord> tree;
    bool withTree = false;

    TCatalogBuilder()
    {
        AddFieldDefs(files, FileTableLayout());
        files.Open();
        AddFieldDefs(discs, DiscTableLayout());
        discs.Open();
    }

    void Disc(const TDiscSpec &d)
    {
        AddRecord(discs, {{"CdName", d.name}, {"Number", d.number}, {"CdNote", d.note}, {"CdSize", "2 mb"},
                          {"CdIdCode", d.serial}, {"CType", d.kind}});
        if (!d.picture.empty()) {
            discs.Edit();
            discs.FieldByName("CdPicture").SetAsBytes(d.picture);
            discs.Post();
        }
        files.DisableControls();
        for (int i = 0; i < d.files; ++i)
            AddRecord(files, {{"Path", i == 0 ? "e:\\" : "e:\\dir\\"},
                              {"Name", i == 0 ? std::string("dir") : "file" + std::to_string(i) + ".txt"},
                              {"Namecd", d.name}, {"Number", d.number}, {"Size", std::to_string(100 + i)},
                              {"Attrib", i == 0 ? 0x10 : 0x20}, {"Type", i == 0 ? 0 : 1},
                              {"Note", i == 1 ? "note of " + d.name : ""}, {"CreateDate", "01.02.2003"},
                              {"CdIdCode", d.serial}});
        files.EnableControls();
    }

    void Write(const std::string &data, const std::string &name)
    {
        fs::create_directories(fs::path(data) / "CdNames");
        files.SaveToFile(data + "/" + name + ".d");
        discs.SaveToFile(data + "/CdNames/" + name + "_cdname.d");
        if (withTree)
            WriteTreeFile(data + "/CdNames/" + name + "_cdname.dat", tree);
    }
};

// What a catalogue's files hold, read back from disk.
struct TCatalogOnDisk {
    Names discNames;
    std::map<std::string, TDiscSpec> disc;           // the disc record, `files` counted in the file table
    std::map<std::string, int> filesPerDisc;         // file records per Namecd
    std::map<std::string, std::string> fileNumberOf; // Number of the disc's file records (last seen)
    std::vector<TTreeRecord> tree;
    bool treeExists = false;

    static TCatalogOnDisk Read(const std::string &data, const std::string &name)
    {
        TCatalogOnDisk c;
        TFlatTable files;
        files.SetTableName(data + "/" + name + ".d");
        files.Open();
        for (files.First(); !files.Eof(); files.Next()) {
            const std::string n = files.FieldByName("Namecd").AsString();
            ++c.filesPerDisc[n];
            c.fileNumberOf[n] = files.FieldByName("Number").AsString();
        }
        TFlatTable discs;
        discs.SetTableName(data + "/CdNames/" + name + "_cdname.d");
        discs.Open();
        for (discs.First(); !discs.Eof(); discs.Next()) {
            const std::string n = discs.FieldByName("CdName").AsString();
            c.discNames.push_back(n);
            const auto files = c.filesPerDisc.find(n);
            c.disc[n] = {n, discs.FieldByName("Number").AsString(), discs.FieldByName("CdNote").AsString(),
                         discs.FieldByName("CdIdCode").AsString(), discs.FieldByName("CType").AsInteger(),
                         discs.FieldByName("CdPicture").AsBytes(), files == c.filesPerDisc.end() ? 0 : files->second};
        }
        const std::string treeFile = data + "/CdNames/" + name + "_cdname.dat";
        c.treeExists = fs::exists(treeFile);
        if (c.treeExists)
            ReadTreeFile(treeFile, c.tree);
        return c;
    }
};

inline Names TreeTexts(const std::vector<TTreeRecord> &records)
{
    Names out;
    for (const TTreeRecord &r : records)
        out.push_back(std::string(static_cast<size_t>(r.level) * 2, ' ') + r.text);
    return out;
}

// The top-level texts of a tree view, in order.
inline Names TopTexts(QTreeWidget *tree)
{
    Names out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        out.push_back(tree->topLevelItem(i)->text(0).toStdString());
    return out;
}

} // namespace disctest
