// Every command that changes a catalogue's files, stopped by SIGKILL at each
// step of its commit in a child process: the next open finds every file of the
// catalogue (tables, backups, tree file) as it was before or as the command
// leaves it, never a mix, and no temporary file or journal left over.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "app/ArchiveTestSupport.h"
#include "app/DiscTestSupport.h"
#include "app/catalog/NewD.h"
#include "app/discs/DiscCommands.h"
#include "app/scan/MainScan.h"
#include "ui_NewDataForm.h"
#include "util/FileCommit.h"

using namespace disctest;

namespace {

using TFolder = std::map<std::string, std::string>;

// In the child process a failed check ends it with a failure the parent sees.
void Require(bool ok)
{
    if (!ok)
        throw std::runtime_error("the command did not do its work");
}

class CatalogCommitTest : public scantest::FormTest<> {
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        TCatalogBuilder a;
        a.Disc({"e: [DATA]", "7", "Backup disc", "1234", 3, "PICTURE\x01\x02", 40});
        a.Disc({"f: [MUSIC]", "3", "", "", 2, "", 5});
        a.withTree = true;
        a.tree = {{0, "Group", 0, 1, NodeKindGroup}, {1, "e: [DATA]", 0, 1, NodeKindDisc},
                  {0, "f: [MUSIC]", 0, 1, NodeKindDisc}};
        a.Write(data, "Cat");
        TCatalogBuilder b;
        b.Disc({"g: [X]", "6", "", "", 0, "", 2});
        b.withTree = true;
        b.tree = {{0, "g: [X]", 0, 1, NodeKindDisc}};
        b.Write(data, "Other");
        // Backups on: each save also replaces a ".~d", one more file of the change.
        for (const char *t : {"Cat.d", "CdNames/Cat_cdname.d", "Other.d", "CdNames/Other_cdname.d"})
            fs::copy_file(data + "/" + t, data + "/" + fs::path(t).replace_extension(".~d").string());
        // Saved once more since: a restore from the backups has something to take back.
        a.Disc({"h: [LATER]", "8", "", "", 0, "", 2});
        a.Write(data, "Cat");
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup13=1\nSetup20=1\nSetup_Text4=Cat\n");
        initial = Snapshot(data);
        initial.erase("cat.ini");
    }

    // Runs `command` in a child process stopped by SIGKILL before commit step
    // `step`; true when it was stopped, false when it ran to its end.
    static bool RunStoppedAt(int step, const std::function<void()> &command)
    {
        static int killAt;
        killAt = step;
        const pid_t child = ::fork();
        if (child == 0) {
            SetCommitStepHook([](int s) {
                if (s == killAt)
                    ::raise(SIGKILL);
            });
            try {
                command();
            } catch (const std::exception &e) {
                std::fprintf(stderr, "command failed: %s\n", e.what());
                ::_exit(2);
            }
            ::_exit(0);
        }
        int status = 0;
        EXPECT_EQ(::waitpid(child, &status, 0), child);
        const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        EXPECT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
        return killed;
    }

    // The data folder as the next start finds it: the catalogues of `opened`
    // opened the program's way (which finishes a commit first), their trees
    // read, files written before it counted as stale; the stale temporary
    // files of the tables of `swept` removed too, as their next open would.
    TFolder Reopen()
    {
        const TLaterStart later;
        for (const std::string &name : swept)
            for (const std::string &table : {data + "/" + name + ".d", data + "/CdNames/" + name + "_cdname.d"})
                RemoveStaleTempFiles(table);
        for (const std::string &name : opened) {
            std::vector<std::unique_ptr<TFlatTable>> keep;
            CatalogOf(name, keep);
            EXPECT_TRUE(keep[0] && keep[1]) << name;
            std::vector<TTreeRecord> tree;
            ReadTreeFile(data + "/CdNames/" + name + "_cdname.dat", tree);
        }
        TFolder now = Snapshot(data);
        now.erase("cat.ini");
        return now;
    }

    void PutBack(const TFolder &folder)
    {
        fs::remove_all(data);
        for (const auto &[name, bytes] : folder)
            if (bytes == "<dir>")
                fs::create_directories(data + "/" + name);
            else
                dir.write("DiVovData/" + name, bytes);
        dir.write("DiVovData/cat.ini", "[CatalogSettings]\nSetup1=0\nSetup13=1\nSetup20=1\nSetup_Text4=Cat\n");
    }

    // Stops `command` at every step of its commit in turn, until it runs to its end.
    void AtEveryStep(const std::function<void()> &command, int expectedSteps)
    {
        PutBack(initial);
        const TFolder before = Reopen();
        RunStoppedAt(-1, command);
        const TFolder after = Reopen();
        ASSERT_FALSE(after == before) << "the command changed nothing";
        int stops = 0, finished = 0;
        for (int step = 0;; ++step) {
            SCOPED_TRACE("stopped at step " + std::to_string(step));
            PutBack(before);
            const bool killed = RunStoppedAt(step, command);
            const TFolder found = Reopen();
            const bool whole = found == before || found == after;
            EXPECT_TRUE(whole);
            if (!whole) {
                for (const auto &[name, bytes] : found) {
                    EXPECT_TRUE((before.count(name) && before.at(name) == bytes) ||
                                (after.count(name) && after.at(name) == bytes))
                        << name << " is neither as before nor as after";
                }
            }
            if (!killed) {
                EXPECT_TRUE(found == after);
                break;
            }
            ++stops;
            finished += found == after;
            if (afterStop)
                afterStop();
        }
        // Each file written, the journal, each rename and the journal's removal.
        EXPECT_EQ(stops, expectedSteps);
        EXPECT_GT(finished, 0);
        EXPECT_LT(finished, stops);
    }

    TFolder initial;
    std::vector<std::string> opened = {"Cat", "Other"}, swept;
    // Run after each stop, on the folder as Reopen left it.
    std::function<void()> afterStop;

    // A command's tables opened as the program opens them, with backups on.
    static std::unique_ptr<TFlatTable> OpenTable(const std::string &file, bool discs)
    {
        return OpenCatalogTable(file, discs ? DiscTableLayout() : FileTableLayout(),
                                discs ? DiscTableOpenOptions(true) : FileTableOpenOptions(true))
            .table;
    }
    TDiscCatalog CatalogOf(const std::string &name, std::vector<std::unique_ptr<TFlatTable>> &keep)
    {
        keep.push_back(OpenTable(data + "/" + name + ".d", false));
        keep.push_back(OpenTable(data + "/CdNames/" + name + "_cdname.d", true));
        return TDiscCatalog{keep[keep.size() - 2].get(), keep.back().get(),
                            data + "/CdNames/" + name + "_cdname.dat", true};
    }
};

} // namespace

// Two tables with their backups and the tree file: 5 files, the journal, 5 renames, its removal.
TEST_F(CatalogCommitTest, DeleteRenameAndMoveAreWholeOldOrWholeNewAfterAStopAtAnyStep)
{
    {
        SCOPED_TRACE("delete");
        AtEveryStep(
            [&] {
                std::vector<std::unique_ptr<TFlatTable>> keep;
                Require(DeleteDiscEverywhere(CatalogOf("Cat", keep), "e: [DATA]"));
            },
            12);
    }
    {
        SCOPED_TRACE("rename");
        AtEveryStep(
            [&] {
                std::vector<std::unique_ptr<TFlatTable>> keep;
                Require(RenameDiscEverywhere(CatalogOf("Cat", keep), "e: [DATA]", "e: [NEW]"));
            },
            12);
    }
    {
        SCOPED_TRACE("move");
        // Both catalogues: 10 files, the journal, 10 renames, its removal.
        AtEveryStep(
            [&] {
                std::vector<std::unique_ptr<TFlatTable>> keep;
                const TDiscCatalog source = CatalogOf("Cat", keep), target = CatalogOf("Other", keep);
                Require(MoveDiscBetween(source, target, "e: [DATA]").moved);
            },
            22);
    }
}

TEST_F(CatalogCommitTest, ScanRestoreNoteAndPictureAreWholeOldOrWholeNewAfterAStopAtAnyStep)
{
    dir.write("disc/a/one.txt", "1");
    dir.write("disc/two.txt", "22");
    VolumeService::SetCurrent(std::make_unique<FixedVolumeService>(
        std::vector<VolumeInfo>{scantest::Folder('e', dir.file("disc"), "NEW")}));
    {
        SCOPED_TRACE("scan");
        // Both tables with backups and the tree file with the new disc's node.
        AtEveryStep(
            [&] {
                TMainForm form(nullptr, data);
                form.ExMemoryData1->Open();
                TDiskLister lister;
                TDiskReader reader(*form.ExMemoryData1, lister);
                reader.DiscName = "e: [NEW]";
                reader.DiscNumber = "9";
                reader.Read("e:\\", dir.file("disc"));
                form.SaveToDatabase("1 kb", 0);
            },
            12);
    }
    {
        SCOPED_TRACE("restore");
        // The two tables from their backups: 2 files, the journal, 2 renames, its removal.
        AtEveryStep(
            [&] {
                TMainForm form(nullptr, data);
                std::string error;
                if (!form.RestoreCatalog("Cat", &error))
                    throw std::runtime_error(error);
            },
            6);
    }
    {
        SCOPED_TRACE("disc note");
        // The disc table and its backup.
        AtEveryStep(
            [&] {
                TMainForm form(nullptr, data);
                form.NoteMode = 0;
                form.NoteTarget = "e: [DATA]";
                Require(form.StoreNote("new note"));
            },
            6);
    }
    {
        SCOPED_TRACE("picture");
        AtEveryStep(
            [&] {
                TMainForm form(nullptr, data);
                form.Browse.CurrentDisc = "f: [MUSIC]";
                Require(form.LocateDiscRecord("f: [MUSIC]"));
                form.StoreDiscPicture([&] { form.CdNameTable->FieldByName("CdPicture").SetAsBytes("NEWPIC"); });
            },
            6);
    }
}

// A catalogue is its two tables: New catalogue makes both and Delete catalogue
// removes both (leaving the backups and the tree file), each as one commit.
TEST_F(CatalogCommitTest, NewAndDeleteCatalogueLeaveBothTablesOrNeitherAfterAStopAtAnyStep)
{
    // Opens `name` as New catalogue does, in a window of its own.
    const auto newCatalogue = [&](const std::string &name) {
        auto form = std::make_unique<TMainForm>(nullptr, data);
        TNewDataForm dialog(form.get());
        dialog.ui->Edit1->setText(QString::fromStdString(name));
        dialog.ui->OkButton->click();
        EXPECT_EQ(form->CatalogName, name);
        return form;
    };
    {
        SCOPED_TRACE("new");
        swept = {"Fresh"};
        // After a stop it is made again, empty.
        afterStop = [&] {
            const auto form = newCatalogue("Fresh");
            EXPECT_TRUE(form->DiscNames().empty());
            EXPECT_TRUE(fs::exists(data + "/CdNames/Fresh_cdname.d"));
        };
        // Two files, the journal, two renames, its removal.
        AtEveryStep([&] { Require(newCatalogue("Fresh")->CatalogName == "Fresh"); }, 6);
    }
    {
        SCOPED_TRACE("delete");
        // Opening the open catalogue finishes a commit of the data folder;
        // opening "Other" would make its tables again.
        opened = {"Cat"};
        swept = {"Other"};
        // New catalogue of that name finds the whole catalogue or none: never
        // its discs without their files.
        afterStop = [&] {
            const auto form = newCatalogue("Other");
            const std::vector<std::string> discs = form->DiscNames();
            EXPECT_EQ(form->FileRecordCount(), discs.empty() ? 0 : 2);
            EXPECT_TRUE(discs.empty() || discs == std::vector<std::string>{"g: [X]"});
        };
        AtEveryStep(
            [&] {
                TMainForm form(nullptr, data);
                prompt.Answer(PromptResult::Yes);
                Require(form.DeleteCatalog("Other"));
            },
            // The journal, two removals, its removal.
            4);
    }
}
