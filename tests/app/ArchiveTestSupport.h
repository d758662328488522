#pragma once
// Helpers of the scan tests: made-up drives bound to folders, the records of
// a table as text rows, and a wait for the wizard's background work.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Main.h"
#include "app/scan/newcd.h"
#include "platform/VolumeService.h"
#include "storage/ExMemDS.h"
#include "storage/FlatTbl.h"

#include "app/MainFormTestSupport.h"

namespace scantest {

constexpr uint32_t kSerial = 0xABCD1234u;

inline VolumeInfo Folder(char letter, const std::string &path, const std::string &label, int type = DRIVE_FIXED)
{
    VolumeInfo v;
    v.letter = letter;
    v.type = type;
    v.ready = true;
    v.label = label;
    v.serial = kSerial;
    v.fileSystem = "ext4";
    v.mountPoint = path;
    v.totalBytes = 3 * 1024 * 1024;
    return v;
}

// Every record of `t`, its `fields` joined by "|" (a null field reads as "").
inline std::vector<std::string> Records(TDataSet &t, std::initializer_list<const char *> fields)
{
    std::vector<std::string> rows;
    for (t.First(); !t.Eof(); t.Next()) {
        std::string row;
        for (const char *f : fields)
            row += "|" + t.FieldByName(f).AsString();
        rows.push_back(row.substr(1));
    }
    return rows;
}

inline std::vector<std::string> Records(const std::string &file, std::initializer_list<const char *> fields)
{
    TFlatTable t;
    t.SetTableName(file);
    t.Open();
    return Records(t, fields);
}

inline void WaitWhile(const std::function<bool()> &busy, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (busy() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Runs the scan wizard of `form` to its end: mode 0 scans a new disc, 1
// updates the selected one. `beforeLoad` sees the wizard once it is ready,
// `beforeWrite` once it has read the drive; the write is clicked unless the
// wizard was closed meanwhile.
inline void RunScanWizard(TMainForm &form, int mode, const std::function<void(TNewRecordForm &)> &beforeWrite = {},
                          const std::function<void(TNewRecordForm &)> &beforeLoad = {})
{
    TMainForm::RunModal = [&](QDialog &d) {
        auto &w = dynamic_cast<TNewRecordForm &>(d);
        w.show();
        WaitWhile([&] { return !w.Ready(); });
        if (beforeLoad)
            beforeLoad(w);
        w.Button1Click();
        WaitWhile([&] { return w.Waiting(); });
        if (beforeWrite)
            beforeWrite(w);
        if (w.isVisible())
            w.Button1Click();
        return 0;
    };
    mode == 0 ? form.ScanButtonClick() : form.UpdateToolButtonClick();
}

// A data folder with a main window on it (made by the test) and the test's
// volume service; the catalogue "Music" read back as record rows.
template <class PromptT = ScriptedPrompt> class FormTest : public DataFolderTest<PromptT> {
protected:
    void TearDown() override
    {
        form.reset();
        TMainForm::RunModal = nullptr;
        VolumeService::SetCurrent(nullptr);
        DataFolderTest<PromptT>::TearDown();
    }
    std::vector<std::string> Files(std::initializer_list<const char *> fields) const
    {
        return Records(this->data + "/Music.d", fields);
    }
    std::vector<std::string> Discs(std::initializer_list<const char *> fields) const
    {
        return Records(this->data + "/CdNames/Music_cdname.d", fields);
    }
    std::unique_ptr<TMainForm> form;
};

} // namespace scantest

// The scan of a folder of archives: drive e: (label "ARCH") bound to the
// folder, and a main window whose scan table takes the records of disc
// "e: [arch]", number 1.
inline std::unique_ptr<TMainForm> OpenArchiveScanForm(const std::string &data, const std::string &disc)
{
    VolumeService::SetCurrent(std::make_unique<FixedVolumeService>(
        std::vector<VolumeInfo>{scantest::Folder('e', disc, "ARCH")}));
    auto form = std::make_unique<TMainForm>(nullptr, data);
    form->ExMemoryData1->Open();
    form->Scan.DiscName = "e: [arch]";
    form->Scan.DiscNumber = "1";
    return form;
}
