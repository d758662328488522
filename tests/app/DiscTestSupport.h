#pragma once
// Catalogues written to real files for the disc-command tests, and a way to
// make a folder unwritable even for a test that runs as root.
#include <QDir>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "app/CatalogTables.h"
#include "app/Main.h"
#include "app/TreeFile.h"
#include "storage/FlatTbl.h"
#include "support/ObeyPermissions.h"
#include "support/TempDir.h"

namespace disctest {

namespace fs = std::filesystem;

using TObeyPermissions = orbtest::TObeyPermissions;

// A folder read-only for its lifetime.
class TReadOnlyFolder {
public:
    explicit TReadOnlyFolder(std::string folder) : folder_(std::move(folder)) { ::chmod(folder_.c_str(), 0555); }
    ~TReadOnlyFolder() { ::chmod(folder_.c_str(), 0755); }

private:
    std::string folder_;
};

struct TDiscSpec {
    std::string name;
    std::string number;
    std::string note;
    std::string serial;
    int kind = 0;
    std::string picture; // bytes of CdPicture
    int files = 3;       // file records made for it
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
        discs.Append();
        discs.FieldByName("CdName").SetAsString(d.name);
        discs.FieldByName("Number").SetAsString(d.number);
        discs.FieldByName("CdNote").SetAsString(d.note);
        discs.FieldByName("CdSize").SetAsString("2 mb");
        discs.FieldByName("CdIdCode").SetAsString(d.serial);
        discs.FieldByName("CType").SetAsInteger(d.kind);
        if (!d.picture.empty())
            discs.FieldByName("CdPicture").SetAsBytes(d.picture);
        discs.Post();
        files.DisableControls();
        for (int i = 0; i < d.files; ++i) {
            files.Append();
            files.FieldByName("Path").SetAsString(i == 0 ? "e:\\" : "e:\\dir\\");
            files.FieldByName("Name").SetAsString(i == 0 ? "dir" : "file" + std::to_string(i) + ".txt");
            files.FieldByName("Namecd").SetAsString(d.name);
            files.FieldByName("Number").SetAsString(d.number);
            files.FieldByName("Size").SetAsString(std::to_string(100 + i));
            files.FieldByName("Attrib").SetAsInteger(i == 0 ? 0x10 : 0x20);
            files.FieldByName("Type").SetAsInteger(i == 0 ? 0 : 1);
            files.FieldByName("Note").SetAsString(i == 1 ? "note of " + d.name : "");
            files.FieldByName("CreateDate").SetAsString("01.02.2003");
            files.FieldByName("CdIdCode").SetAsString(d.serial);
            files.Post();
        }
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
    std::vector<std::string> discNames;
    std::map<std::string, int> filesPerDisc;
    std::map<std::string, std::string> numberOf;   // disc record's Number
    std::map<std::string, std::string> noteOf;     // CdNote
    std::map<std::string, std::string> pictureOf;  // CdPicture bytes
    std::map<std::string, std::string> serialOf;   // CdIdCode
    std::map<std::string, int> kindOf;
    std::map<std::string, std::string> fileNumberOf; // Number of the disc's file records (last seen)
    std::vector<TTreeRecord> tree;
    bool treeExists = false;

    static TCatalogOnDisk Read(const std::string &data, const std::string &name)
    {
        TCatalogOnDisk c;
        TFlatTable discs;
        discs.SetTableName(data + "/CdNames/" + name + "_cdname.d");
        discs.Open();
        for (discs.First(); !discs.Eof(); discs.Next()) {
            const std::string n = discs.FieldByName("CdName").AsString();
            c.discNames.push_back(n);
            c.numberOf[n] = discs.FieldByName("Number").AsString();
            c.noteOf[n] = discs.FieldByName("CdNote").AsString();
            c.pictureOf[n] = discs.FieldByName("CdPicture").AsBytes();
            c.serialOf[n] = discs.FieldByName("CdIdCode").AsString();
            c.kindOf[n] = discs.FieldByName("CType").AsInteger();
        }
        TFlatTable files;
        files.SetTableName(data + "/" + name + ".d");
        files.Open();
        for (files.First(); !files.Eof(); files.Next()) {
            const std::string n = files.FieldByName("Namecd").AsString();
            ++c.filesPerDisc[n];
            c.fileNumberOf[n] = files.FieldByName("Number").AsString();
        }
        const std::string treeFile = data + "/CdNames/" + name + "_cdname.dat";
        c.treeExists = fs::exists(treeFile);
        if (c.treeExists)
            ReadTreeFile(treeFile, c.tree);
        return c;
    }
};

inline std::vector<std::string> TreeTexts(const std::vector<TTreeRecord> &records)
{
    std::vector<std::string> out;
    for (const TTreeRecord &r : records)
        out.push_back(std::string(static_cast<size_t>(r.level) * 2, ' ') + r.text);
    return out;
}

} // namespace disctest
