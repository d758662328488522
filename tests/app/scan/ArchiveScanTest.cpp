// Archive members in the scan: real zip, cabinet and RAR archives on a folder
// bound to a drive letter, each listing switched on and off, damaged archives
// among good files, and what each member writer keeps of an archive that
// fails part way.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/catalog/CatalogTables.h"
#include "app/scan/MainScan.h"
#include "archive/RarWriter.h"
#include "support/BsdtarNames.h"
#include "util/BaseDateTime.h"

// The RAR fixture writer of the archive tests, built into this program too.
#include "archive/RarWriter.cpp"

#include "app/ArchiveTestSupport.h"

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

template <class Member> Member Named(const std::string &name, const std::string &data, bool directory = false)
{
    Member m;
    m.name = name;
    m.data = data;
    m.directory = directory;
    return m;
}
using rartest::Rar4Member;
const std::vector<Rar4Member> kTwo = {Named<Rar4Member>("docs\\a.txt", "first member"),
                                      Named<Rar4Member>("b.txt", "second member")};

class ArchiveScanTest : public scantest::FormTest<> {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        // Settings that name no catalogue: the start makes the first one.
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\n");
        disc = dir.file("disc");
        fs::create_directories(disc);
        form = OpenArchiveScanForm(data, disc);
        form->ScanSession.Volume = TakeScanVolume('e');
    }
    void Run(const std::string &command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }
    void Zip(const std::string &archive, const std::string &files)
    {
        Run("cd '" + dir.file("src") + "' && zip -qr '" + disc + "/" + archive + "' " + files);
    }
    // The good archives: a zip in a folder and its copy with an upper-case
    // extension, a cabinet and a RAR archive with a directory member.
    void GoodArchives()
    {
        dir.write("src/docs/readme.txt", "read me please");
        dir.write("src/b.bin", std::string(1000, 'b'));
        fs::create_directories(disc + "/sub");
        Zip("sub/a.zip", "docs b.bin");
        fs::copy_file(disc + "/sub/a.zip", disc + "/UP.ZIP");
        Run("cd '" + dir.file("src") + "' && gcab -c '" + disc + "/c.cab' docs/readme.txt b.bin >/dev/null 2>&1");
        Rar4Member folder = Named<Rar4Member>("dir", "", true);
        folder.attr = 0x10;
        dir.write("disc/r.rar", rartest::WriteRar4({Named<Rar4Member>("dir\\m.txt", "rar member"), folder}));
        dir.write("disc/plain.txt", "plain");
    }
    // The whole disc read with the listings given; each record as
    // path|name|size|type|attrib.
    Strings Read(bool zip, bool rar, bool cab)
    {
        form->ExMemoryData1->EmptyTable();
        form->Settings[3] = zip;
        form->Settings[4] = rar;
        form->Settings[5] = cab;
        EXPECT_TRUE(form->NacitajDisk("e:\\"));
        return scantest::Records(*form->ExMemoryData1, {"Path", "Name", "Size", "Type", "Attrib"});
    }
    // The records right after an archive's own record that lie inside it, as name|size|type|attrib.
    static Strings MembersOf(const Strings &rows, const std::string &folder, const std::string &name)
    {
        Strings out;
        const std::string inside = folder + name + "\\|";
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].rfind(folder + "|" + name + "|", 0) == 0)
                for (size_t j = i + 1; j < rows.size() && rows[j].rfind(inside, 0) == 0; ++j)
                    out.push_back(rows[j].substr(inside.size()));
        return out;
    }
    // How many rows start with `prefix`.
    static std::ptrdiff_t RowsStartingWith(const Strings &rows, const std::string &prefix)
    {
        return std::count_if(rows.begin(), rows.end(), [&](const std::string &r) { return r.rfind(prefix, 0) == 0; });
    }
    // The member names a writer adds for `file` of the disc, and its answer.
    Strings Members(char kind, const std::string &file, bool &read)
    {
        form->ExMemoryData1->EmptyTable();
        const std::string local = disc + "/" + file;
        read = kind == 'z'   ? form->WriteZipFile(file, "e:\\", local)
               : kind == 'r' ? form->WriteRarFile(file, "e:\\", local)
                             : form->WriteCabFile(file, "e:\\", local);
        Strings names;
        for (const std::string &r : scantest::Records(*form->ExMemoryData1, {"Path", "Name"})) {
            EXPECT_EQ(r.substr(0, r.find('|')), "e:\\" + file + "\\");
            names.push_back(r.substr(r.find('|') + 1));
        }
        return names;
    }

    std::string disc;
};

TEST_F(ArchiveScanTest, EachListingFollowsItsSetting)
{
    GoodArchives();
    const Strings off = Read(false, false, false);
    for (const auto &[folder, name] : {std::pair("e:\\sub\\", "a.zip"), {"e:\\", "c.cab"}, {"e:\\", "r.rar"}})
        EXPECT_TRUE(MembersOf(off, folder, name).empty()) << name;
    // Member records have no attributes; the folder entry of a zip is no member.
    const Strings zipOnly = Read(true, false, false);
    Strings zip = MembersOf(zipOnly, "e:\\sub\\", "a.zip");
    std::sort(zip.begin(), zip.end());
    EXPECT_EQ(zip, (Strings{"b.bin|1000|1|", "docs\\readme.txt|14|1|"}));
    EXPECT_EQ(MembersOf(zipOnly, "e:\\", "UP.ZIP").size(), 2u) << "an upper-case extension is listed too";
    EXPECT_TRUE(MembersOf(zipOnly, "e:\\", "c.cab").empty());
    const Strings cabOnly = Read(false, false, true);
    Strings cab = MembersOf(cabOnly, "e:\\", "c.cab");
    std::sort(cab.begin(), cab.end());
    EXPECT_EQ(cab, (Strings{"b.bin|1000|1|", "docs\\readme.txt|14|1|"}));
    EXPECT_TRUE(MembersOf(cabOnly, "e:\\sub\\", "a.zip").empty());
    // Directory members of a RAR archive are recorded like files.
    const Strings rarOnly = Read(false, true, false);
    EXPECT_EQ(MembersOf(rarOnly, "e:\\", "r.rar"), (Strings{"dir\\m.txt|10|1|", "dir|0|1|"}));
    EXPECT_TRUE(MembersOf(rarOnly, "e:\\", "c.cab").empty());
    // Members are files without attributes, with a creation date.
    TExMemoryData &t = *form->ExMemoryData1;
    for (t.First(); !t.Eof(); t.Next()) {
        EXPECT_FALSE(t.FieldByName("CreateDate").AsString().empty()) << t.FieldByName("Name").AsString();
        if (t.FieldByName("Path").AsString() == "e:\\r.rar\\") {
            EXPECT_EQ(t.FieldByName("Type").AsInteger(), 1);
            EXPECT_TRUE(t.FieldByName("Attrib").IsNull());
        }
    }
}

TEST_F(ArchiveScanTest, DamagedArchivesKeepTheirOwnRecordAndTheScanGoesOn)
{
    GoodArchives();
    const std::string zip = orbtest::readFile(disc + "/sub/a.zip");
    dir.write("disc/bad.zip", zip.substr(0, zip.size() / 2) + std::string(40, '\xff'));
    dir.write("disc/junk.zip", "this is no archive");
    dir.write("disc/bad.cab", "MSCF" + std::string(60, '\x7f'));
    const std::string rar = orbtest::readFile(disc + "/r.rar");
    dir.write("disc/bad.rar", rar.substr(0, rar.size() - 30));
    fs::create_directories(disc + "/folder.zip");
    dir.write("disc/zz_after.txt", "after");
    const Strings rows = Read(true, true, true);
    for (const char *bad : {"bad.zip", "junk.zip", "bad.cab", "folder.zip"})
        EXPECT_TRUE(MembersOf(rows, "e:\\", bad).empty()) << bad;
    for (const char *name : {"bad.zip", "junk.zip", "bad.cab", "bad.rar", "zz_after.txt", "folder.zip"})
        EXPECT_EQ(RowsStartingWith(rows, "e:\\|" + std::string(name) + "|"), 1) << name;
    EXPECT_EQ(MembersOf(rows, "e:\\sub\\", "a.zip").size(), 2u);
    EXPECT_EQ(MembersOf(rows, "e:\\", "c.cab").size(), 2u);
    EXPECT_EQ(MembersOf(rows, "e:\\", "r.rar").size(), 2u);
    // One notice at the end of the reading, counting and naming them. The
    // RAR cut short at its tail still lists the members before the cut: its
    // header was read, so it is not among the unreadable ones.
    ASSERT_EQ(prompt.Asked().size(), 1u);
    const std::string notice = prompt.Asked()[0].text.toStdString();
    EXPECT_EQ(form->ScanSession.Tally.unreadableArchives, 3) << notice;
    for (const char *bad : {"e:\\bad.zip", "e:\\junk.zip", "e:\\bad.cab"})
        EXPECT_NE(notice.find(bad), std::string::npos) << bad << "\n" << notice;
    EXPECT_EQ(notice.find("e:\\bad.rar"), std::string::npos) << notice;
    EXPECT_NE(notice.find("3 archive(s) could not be read"), std::string::npos) << notice;
}

TEST_F(ArchiveScanTest, RarMembersReadBeforeALaterErrorAreKept)
{
    const Strings both{"docs\\a.txt", "b.txt"};
    bool read = false;
    // A packed archive comment the reader cannot decode.
    rartest::Rar4Options packedComment;
    packedComment.comment = "a comment";
    packedComment.commentMethod = 0x33;
    dir.write("disc/comment.rar", rartest::WriteRar4(kTwo, packedComment));
    EXPECT_EQ(Members('r', "comment.rar", read), both);
    EXPECT_TRUE(read);
    // Cut short inside the third member's header: the third is lost, not the first two.
    std::vector<rartest::Rar4Member> three = kTwo;
    three.push_back(Named<Rar4Member>("c.txt", std::string(500, 'c')));
    const std::string whole = rartest::WriteRar4(three);
    const std::string cut = dir.write("disc/cut.rar", whole.substr(0, whole.size() - 7 - 500 - 10));
    EXPECT_EQ(Members('r', "cut.rar", read), both);
    EXPECT_TRUE(read);
    const Strings bsd = orbtest::BsdtarNames(cut);
    ASSERT_GE(bsd.size(), 2u);
    EXPECT_EQ(Strings(bsd.begin(), bsd.begin() + 2), (Strings{"docs/a.txt", "b.txt"}));
    // Format 5 alike.
    const std::string w5 = rartest::WriteRar5({Named<rartest::Rar5Member>("x/a5.txt", "five"),
                                               Named<rartest::Rar5Member>("b5.txt", std::string(400, '5'))});
    dir.write("disc/cut5.rar", w5.substr(0, w5.size() - 8 - 400 - 3));
    EXPECT_EQ(Members('r', "cut5.rar", read), (Strings{"x\\a5.txt"}));
    EXPECT_TRUE(read);
}

TEST_F(ArchiveScanTest, WritersSayWhetherTheArchiveCouldBeReadAndShowNoMessage)
{
    const std::string good = rartest::WriteRar4(kTwo);
    std::string first = good;
    first[7 + 13 + 3] ^= 0x40; // the first member header broken
    dir.write("src/t.txt", "t");
    Zip("good.zip", "t.txt");
    const struct {
        char kind;
        std::string file, bytes;
        size_t members;
        bool read;
    } cases[] = {{'r', "head.rar", good.substr(0, 7) + std::string(40, '\x33'), 0, false}, // main header broken
                 {'r', "junk.rar", "not an archive", 0, false},
                 {'r', "first.rar", first, 0, false},
                 {'z', "junk.zip", "not an archive either", 0, false},
                 {'c', "junk.cab", "MSCF" + std::string(60, '\x7f'), 0, false},
                 {'c', "none.cab", "plain text", 0, false},
                 {'r', "good.rar", good, 2, true},
                 {'r', "empty.rar", rartest::WriteRar4({}), 0, true},
                 {'z', "good.zip", "", 1, true}};
    for (const auto &c : cases) {
        if (!c.bytes.empty())
            dir.write("disc/" + c.file, c.bytes);
        bool read = !c.read;
        EXPECT_EQ(Members(c.kind, c.file, read).size(), c.members) << c.file;
        EXPECT_EQ(read, c.read) << c.file;
    }
    EXPECT_TRUE(prompt.Asked().empty()) << "archive troubles show no message during a scan";
}

// Guards a test against a reader that waits in the open of a named pipe: from
// `after` on it keeps opening the writing end of each pipe (which lets such a
// reader go, reading nothing) until it is dropped, and tells whether it had to.
class PipeWatchdog {
public:
    PipeWatchdog(Strings pipes, std::chrono::milliseconds after)
        : thread_([this, pipes = std::move(pipes), after] {
              const auto due = std::chrono::steady_clock::now() + after;
              while (!stop_) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
                  if (std::chrono::steady_clock::now() < due)
                      continue;
                  for (const std::string &p : pipes) {
                      // Fails at once while no reader has the pipe open.
                      const int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                      if (fd >= 0) {
                          fired_ = true;
                          ::close(fd);
                      }
                  }
              }
          })
    {
    }
    ~PipeWatchdog()
    {
        stop_ = true;
        thread_.join();
    }
    bool Fired() const { return fired_; }

private:
    std::atomic<bool> stop_{false}, fired_{false};
    std::thread thread_;
};

TEST_F(ArchiveScanTest, NamedPipesNamedLikeArchivesOrProgramsAreNeverWaitedOn)
{
    GoodArchives();
    Strings pipes;
    for (const char *name : {"fifo.zip", "fifo.rar", "fifo.cab", "fifo.exe", "sub/FIFO.RAR"}) {
        pipes.push_back(disc + "/" + name);
        ASSERT_EQ(::mkfifo(pipes.back().c_str(), 0600), 0) << name;
    }
    form->Settings[2] = 1; // icons of programs
    Strings rows;
    bool fired = false;
    {
        PipeWatchdog watchdog(pipes, std::chrono::seconds(3));
        rows = Read(true, true, true);
        fired = watchdog.Fired();
    }
    EXPECT_FALSE(fired) << "a reader waited in the open of a named pipe";
    // Each pipe keeps its own record, as a system file, with no members and no icon.
    for (const auto &[folder, name] : {std::pair("e:\\", "fifo.zip"), {"e:\\", "fifo.rar"}, {"e:\\", "fifo.cab"},
                                       {"e:\\", "fifo.exe"}, {"e:\\sub\\", "FIFO.RAR"}}) {
        EXPECT_EQ(RowsStartingWith(rows, folder + std::string("|") + name + "|0|1|"), 1) << name;
        EXPECT_TRUE(MembersOf(rows, folder, name).empty()) << name;
    }
    TExMemoryData &t = *form->ExMemoryData1;
    for (t.First(); !t.Eof(); t.Next()) {
        if (t.FieldByName("Name").AsString() == "fifo.exe") {
            EXPECT_TRUE(t.FieldByName("Icon").AsBytes().empty());
        }
    }
    // The good archives are listed as ever; the pipes named like archives are
    // told as archives that could not be read.
    EXPECT_EQ(MembersOf(rows, "e:\\", "r.rar").size(), 2u);
    EXPECT_EQ(MembersOf(rows, "e:\\", "c.cab").size(), 2u);
    EXPECT_EQ(MembersOf(rows, "e:\\sub\\", "a.zip").size(), 2u);
    ASSERT_EQ(prompt.Asked().size(), 1u);
    const std::string notice = prompt.Asked()[0].text.toStdString();
    EXPECT_EQ(form->ScanSession.Tally.unreadableArchives, 4) << notice;
    for (const char *pipe : {"e:\\fifo.zip", "e:\\fifo.rar", "e:\\fifo.cab", "e:\\sub\\FIFO.RAR"})
        EXPECT_NE(notice.find(pipe), std::string::npos) << pipe << "\n" << notice;
    EXPECT_EQ(notice.find("fifo.exe"), std::string::npos) << notice;
}

TEST(ArchiveDateTextTest, NoDateGivesNoText)
{
    EXPECT_EQ(ZipMemberDateText(0.0), "");
    EXPECT_EQ(ShortDateLongTimeText(0.0), "");
    const double t = EncodeDate(2020, 5, 17) + EncodeTime(13, 45, 10, 0);
    EXPECT_EQ(ShortDateLongTimeText(t), DateTimeToStr(t));
    EXPECT_NE(ZipMemberDateText(t).find("  "), std::string::npos);
}

} // namespace
